// The main window as built by its form: widgets, slots, dispatch and start-up.
#include "commands/filechooser.h"
#include "app/mainwindow.h"
#include "testsupport.h"

#include <QBuffer>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMetaMethod>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

using namespace veltrano;

namespace {
struct WidgetRow
{
    const char *name;
    const char *className;
    const char *parent;
    QRect geometry;
    const char *text;
    bool enabled;
};

// Creation order, classes, parents, geometry, texts and enabled state.
const WidgetRow widgetTable[] = {
    {"groupBox_2", "QGroupBox", "centralWidget", {550, 150, 531, 541}, "Decompressed JPEG", true},
    {"image_current", "QLabel", "groupBox_2", {10, 20, 512, 512}, "", true},
    {"groupBox_3", "QGroupBox", "centralWidget", {10, 10, 531, 131}, "Control", true},
    {"pushButton_2", "QPushButton", "groupBox_3", {10, 20, 81, 21}, "Open image", true},
    {"pushButton_3", "QPushButton", "groupBox_3", {10, 40, 81, 23}, "Compress ", true},
    {"pushButton_5", "QPushButton", "groupBox_3", {280, 100, 81, 23}, "C/D adjoint", false},
    {"jpeg_qual", "QSpinBox", "groupBox_3", {130, 40, 51, 22}, nullptr, true},
    {"label_7", "QLabel", "groupBox_3", {130, 20, 61, 16}, "jpeg quality", true},
    {"pushButton_6", "QPushButton", "groupBox_3", {360, 100, 91, 23}, "C/D adjoint color", false},
    {"pushButton_7", "QPushButton", "groupBox_3", {450, 100, 75, 23}, "Evaluate", false},
    {"pushButton_8", "QPushButton", "groupBox_3", {210, 100, 75, 23}, "jpeg stat", false},
    {"groupBox_4", "QGroupBox", "centralWidget", {550, 10, 391, 131}, "Output console", true},
    {"plainTextEdit", "QPlainTextEdit", "groupBox_4", {3, 14, 385, 111}, nullptr, true},
    {"groupBox", "QGroupBox", "centralWidget", {10, 150, 531, 541}, "Original image", true},
    {"image_original", "QLabel", "groupBox", {10, 20, 512, 512}, "", true},
    {"groupBox_6", "QGroupBox", "centralWidget", {1090, 150, 531, 541}, "Decompressed hybrid JPEG", true},
    {"image_current_2", "QLabel", "groupBox_6", {10, 20, 512, 512}, "", true},
};

QString widgetText(QWidget *widget)
{
    if (auto *box = qobject_cast<QGroupBox *>(widget))
        return box->title();
    if (auto *button = qobject_cast<QPushButton *>(widget))
        return button->text();
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    return QString();
}

QStringList entries()
{
    return QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}
} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void windowProperties();
    void backgroundPattern();
    void widgetTableAndCreationOrder();
    void widgetProperties();
    void slotsInOrderAndConnected();
    void buttonsDispatchToTheirSlots();
    void disabledButtonsRunNothing();
    void adjointSlotDoesNothing();
    void resizingMovesNothing();
    void metaCast();
    void startUpConversion();
    void startUpWithoutImageWritesNothing();
    void compressBeforeOpen();
};

void MainWindowTest::windowProperties()
{
    ScratchDir scratch;
    MainWindow window;
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window.size(), QSize(1628, 698));
    QCOMPARE(window.windowTitle(), QStringLiteral("Veltrano"));
    QVERIFY(!window.autoFillBackground());
    QCOMPARE(window.styleSheet(), QStringLiteral("MainWindow {background-image: url(pattern.png)}"));
    QVERIFY(!window.isImageOpened());
    QVERIFY(window.openedImage().isNull());
    QCOMPARE(QString::fromLatin1(window.metaObject()->className()), QStringLiteral("MainWindow"));
}

void MainWindowTest::backgroundPattern()
{
    ScratchDir scratch;
    QVERIFY(QFile::copy(sourcePath("data/pattern.png"), "pattern.png"));
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QImage shot = window.grab().toImage();
    const QImage pattern(QStringLiteral("pattern.png"));
    QVERIFY(!pattern.isNull());
    // Right of the output console no widget covers the window: the tiled
    // background shows through there.
    int samples = 0;
    int matching = 0;
    for (int y = 20; y < 140; y += 7) {
        for (int x = 960; x < 1600; x += 13) {
            ++samples;
            matching += (shot.pixel(x, y) & 0xFFFFFF)
                == (pattern.pixel(x % pattern.width(), y % pattern.height()) & 0xFFFFFF);
        }
    }
    QCOMPARE(matching, samples);
}

void MainWindowTest::widgetTableAndCreationOrder()
{
    ScratchDir scratch;
    MainWindow window;
    QWidget *central = window.centralWidget();
    QVERIFY(central);
    QCOMPARE(central->objectName(), QStringLiteral("centralWidget"));
    QCOMPARE(central->parent(), &window);

    // Children lists keep creation order: compare each parent's list with the
    // table's rows for that parent.
    QMap<QString, QStringList> expectedChildren;
    for (const WidgetRow &row : widgetTable) {
        auto *widget = window.findChild<QWidget *>(QLatin1String(row.name));
        QVERIFY2(widget, row.name);
        QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), QString::fromLatin1(row.className));
        QCOMPARE(widget->parent()->objectName(), QString::fromLatin1(row.parent));
        QCOMPARE(widget->geometry(), row.geometry);
        QCOMPARE(widget->isEnabled(), row.enabled);
        if (row.text)
            QCOMPARE(widgetText(widget), QString::fromUtf8(row.text));
        expectedChildren[QLatin1String(row.parent)] << QLatin1String(row.name);
    }
    for (auto it = expectedChildren.cbegin(); it != expectedChildren.cend(); ++it) {
        auto *parent = window.findChild<QWidget *>(it.key());
        QVERIFY(parent);
        QStringList actual;
        for (QObject *child : parent->children())
            if (child->isWidgetType() && !child->objectName().startsWith(QLatin1String("qt_")))
                actual << child->objectName();
        QCOMPARE(actual, it.value());
    }
    // The window itself holds the central widget and no other widget (no
    // menu bar, tool bar or status bar).
    QStringList topLevel;
    for (QObject *child : window.children())
        if (child->isWidgetType() && !child->objectName().startsWith(QLatin1String("qt_")))
            topLevel << child->objectName();
    QCOMPARE(topLevel, QStringList{QStringLiteral("centralWidget")});

    // Across parents: every widget joins the window's focus chain when it is
    // created, so the chain gives the creation order of all eighteen.
    QStringList expectedOrder{QStringLiteral("centralWidget")};
    for (const WidgetRow &row : widgetTable)
        expectedOrder << QLatin1String(row.name);
    QStringList chain;
    for (QWidget *widget = window.nextInFocusChain(); widget != &window; widget = widget->nextInFocusChain())
        if (expectedOrder.contains(widget->objectName()))
            chain << widget->objectName();
    QCOMPARE(chain, expectedOrder);
}

void MainWindowTest::widgetProperties()
{
    ScratchDir scratch;
    MainWindow window;
    auto *quality = window.findChild<QSpinBox *>(QStringLiteral("jpeg_qual"));
    QVERIFY(quality);
    QCOMPARE(quality->minimum(), 0);
    QCOMPARE(quality->maximum(), 30);
    QCOMPARE(quality->value(), 20);
    QCOMPARE(quality->singleStep(), 1);
    quality->setValue(31);
    QCOMPARE(quality->value(), 30);
    quality->setValue(-1);
    QCOMPARE(quality->value(), 0);

    for (const char *name : {"pushButton_2", "pushButton_3"})
        QCOMPARE(window.findChild<QWidget *>(QLatin1String(name))->cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(!window.findChild<QPushButton *>(QStringLiteral("pushButton_5"))->isCheckable());

    auto *console = window.findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit"));
    QCOMPARE(console->frameShape(), QFrame::NoFrame);
    QCOMPARE(console->lineWidth(), 1);
    QVERIFY(!console->isReadOnly());
    QVERIFY(console->toPlainText().isEmpty());
    for (const char *name : {"image_original", "image_current", "image_current_2"}) {
        auto *label = window.findChild<QLabel *>(QLatin1String(name));
        QVERIFY(!label->hasScaledContents());
        QVERIFY(label->text().isEmpty());
    }
}

void MainWindowTest::slotsInOrderAndConnected()
{
    ScratchDir scratch;
    MainWindow window;
    const QMetaObject *meta = window.metaObject();
    const QStringList expected = {"on_pushButton_2_clicked", "on_pushButton_3_clicked", "on_pushButton_5_clicked",
                                  "on_pushButton_6_clicked", "on_pushButton_7_clicked", "on_pushButton_8_clicked"};
    QCOMPARE(meta->methodCount() - meta->methodOffset(), expected.size());
    QCOMPARE(meta->propertyCount() - meta->propertyOffset(), 0);
    QCOMPARE(meta->enumeratorCount() - meta->enumeratorOffset(), 0);
    for (int i = 0; i < expected.size(); ++i) {
        const QMetaMethod method = meta->method(meta->methodOffset() + i);
        QCOMPARE(QString::fromLatin1(method.name()), expected.at(i));
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Private);
        QCOMPARE(method.parameterCount(), 0);
    }
}

void MainWindowTest::buttonsDispatchToTheirSlots()
{
    ScratchDir scratch;
    MainWindow window;
    auto button = [&](const char *name) { return window.findChild<QPushButton *>(QLatin1String(name)); };
    auto *console = window.findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit"));

    int chooserCalls = 0;
    setOpenFileChooser([&](QWidget *, const QString &, const QString &) {
        ++chooserCalls;
        return QString(); // as a cancelled dialog
    });
    button("pushButton_2")->click();
    setOpenFileChooser(OpenFileChooser());
    QCOMPARE(chooserCalls, 1);
    QVERIFY(console->toPlainText().isEmpty());

    button("pushButton_3")->click();
    QVERIFY(console->toPlainText().endsWith(QLatin1String(" - No file selected!")));

    // The experiment buttons are disabled in the form; enabled here, each
    // click reaches its own slot, which leaves its own trace.
    for (const char *name : {"pushButton_5", "pushButton_6", "pushButton_7", "pushButton_8"})
        button(name)->setEnabled(true);
    const QStringList before = entries();
    QCOMPARE(captureStdout([&] { button("pushButton_5")->click(); }), QByteArray());
    // No weights file: the colour batch says so and ends before writing anything.
    QCOMPARE(captureStdout([&] { button("pushButton_6")->click(); }), QByteArray("cannot open weights file!"));
    QCOMPARE(entries(), before);
    QVERIFY(console->toPlainText().endsWith(QLatin1String(" - No file selected!")));
    // "C/D adjoint" leaves no trace, so look at the connection itself.
    QVERIFY(QObject::disconnect(button("pushButton_5"), nullptr, &window, SLOT(on_pushButton_5_clicked())));
    // Without its images the evaluation still writes its 97 rows (of NaN).
    button("pushButton_7")->click();
    QCOMPARE(readFileBytes("out_hdr_test_ftih.csv").count('\n'), 97);
    // The sweep starts by emptying its table; without its images nothing is added.
    writeFileBytes("jpeg_stat.csv", "old rows\n");
    button("pushButton_8")->click();
    QVERIFY(QFileInfo::exists("jpeg_stat.csv"));
    QCOMPARE(readFileBytes("jpeg_stat.csv"), QByteArray());
}

void MainWindowTest::disabledButtonsRunNothing()
{
    ScratchDir scratch;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QStringList before = entries();
    for (const char *name : {"pushButton_5", "pushButton_6", "pushButton_7", "pushButton_8"}) {
        auto *button = window.findChild<QPushButton *>(QLatin1String(name));
        QSignalSpy spy(button, &QPushButton::clicked);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(spy.count(), 0);
    }
    // The evaluation and the sweep would have created their CSV files.
    QCOMPARE(entries(), before);
    QVERIFY(window.findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit"))->toPlainText().isEmpty());
}

void MainWindowTest::adjointSlotDoesNothing()
{
    ScratchDir scratch;
    MainWindow window;
    const QStringList before = entries();
    QVERIFY(QMetaObject::invokeMethod(&window, "on_pushButton_5_clicked"));
    QCOMPARE(entries(), before);
    QVERIFY(window.findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit"))->toPlainText().isEmpty());
    QVERIFY(!window.isImageOpened());
}

void MainWindowTest::resizingMovesNothing()
{
    ScratchDir scratch;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.resize(800, 400);
    QCoreApplication::processEvents();
    for (const WidgetRow &row : widgetTable)
        QCOMPARE(window.findChild<QWidget *>(QLatin1String(row.name))->geometry(), row.geometry);
    window.resize(2000, 1200);
    QCoreApplication::processEvents();
    for (const WidgetRow &row : widgetTable)
        QCOMPARE(window.findChild<QWidget *>(QLatin1String(row.name))->geometry(), row.geometry);
}

void MainWindowTest::metaCast()
{
    ScratchDir scratch;
    MainWindow window;
    QCOMPARE(window.qt_metacast("MainWindow"), static_cast<void *>(&window));
    QCOMPARE(window.qt_metacast("QMainWindow"), static_cast<void *>(static_cast<QMainWindow *>(&window)));
    QCOMPARE(window.qt_metacast("NoSuchClass"), nullptr);
}

void MainWindowTest::startUpConversion()
{
    ScratchDir scratch;
    QVERIFY(QFile::copy(sourcePath("data/hdr_triang_4.png"), "hdr_triang_4.png"));
    // An older file of that name is replaced.
    {
        QFile stale("hdr_triang_4.jpg");
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("stale");
    }
    { MainWindow window; }

    QByteArray expected;
    QBuffer buffer(&expected);
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(QImage("hdr_triang_4.png").save(&buffer, "jpg", 70));
    const QByteArray written = readFileBytes("hdr_triang_4.jpg");
    QVERIFY(!written.isEmpty());
    QCOMPARE(written, expected);

    // A second start writes the same file again.
    QFile::remove("hdr_triang_4.jpg");
    { MainWindow window; }
    QCOMPARE(readFileBytes("hdr_triang_4.jpg"), expected);
}

void MainWindowTest::startUpWithoutImageWritesNothing()
{
    ScratchDir scratch;
    { MainWindow window; }
    QCOMPARE(entries(), QStringList());

    // An unreadable PNG is skipped silently as well.
    {
        QFile broken("hdr_triang_4.png");
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("not an image");
    }
    { MainWindow window; }
    QCOMPARE(entries(), QStringList{"hdr_triang_4.png"});
}

void MainWindowTest::compressBeforeOpen()
{
    ScratchDir scratch;
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("pushButton_3")), Qt::LeftButton);
    const QString text = window.findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit"))->toPlainText();
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d - No file selected!$")).match(text).hasMatch(),
             qPrintable(text));
    QCOMPARE(entries(), QStringList());
}

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
