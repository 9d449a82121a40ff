// Inspection in the real window, driven by input events: zoom, pan and keys
// keep the three panes in step, the difference view, saving and copying a
// pane's image, the pixel read-out, files dropped on the window and the
// commands' shortcuts.
#include "commandsupport.h"
#include "codec/qimage/hybridjpeg.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QImageReader>
#include <QImageWriter>
#include <QMenu>
#include <QMimeData>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <QtTest>

#include <set>

using namespace veltrano;

using namespace commandtest;

namespace {
const char *const paneNames[] = {"image_original", "image_current", "image_current_2"};

// Pixel (x, y) of variant v tells x and y: the low bytes in red and green
// (swapped or inverted in variants 1 and 2), the high bits with a marker in
// blue, which no background of the window has.
QRgb coded(int x, int y, int variant)
{
    int r = x & 255, g = y & 255;
    if (variant == 1)
        std::swap(r, g);
    if (variant == 2)
        r = 255 - r, g = 255 - g;
    return qRgb(r, g, 0x40 | (x >> 8) << 3 | (y >> 8));
}

QImage codedImage(int width, int height, int variant)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, coded(x, y, variant));
    return image;
}

// The image pixel a shown pixel of variant v comes from; (-1, -1) for
// anything else.
QPoint decoded(QRgb pixel, int variant)
{
    const int b = qBlue(pixel);
    if ((b & 0xC0) != 0x40)
        return QPoint(-1, -1);
    int r = qRed(pixel), g = qGreen(pixel);
    if (variant == 1)
        std::swap(r, g);
    if (variant == 2)
        r = 255 - r, g = 255 - g;
    return QPoint(((b >> 3) & 7) << 8 | r, (b & 7) << 8 | g);
}

QImage shown(MainWindow &window, int index)
{
    return pane(window, paneNames[index])->grab().toImage();
}

// The image pixel under pane pixel at when all three panes show the same
// one; (-2, -2) when they do not.
QPoint pixelUnder(MainWindow &window, const QPoint &at)
{
    const QPoint first = decoded(shown(window, 0).pixel(at), 0);
    for (int i = 1; i < 3; ++i)
        if (decoded(shown(window, i).pixel(at), i) != first)
            return QPoint(-2, -2);
    return first;
}

// Whether the three panes show the same pixels at every point of a grid.
bool inStep(MainWindow &window)
{
    QImage images[3];
    for (int i = 0; i < 3; ++i)
        images[i] = shown(window, i);
    for (int y = 3; y < 512; y += 23)
        for (int x = 5; x < 512; x += 19) {
            const QPoint p = decoded(images[0].pixel(x, y), 0);
            if (decoded(images[1].pixel(x, y), 1) != p || decoded(images[2].pixel(x, y), 2) != p) {
                qWarning("panes differ at (%d, %d)", x, y);
                return false;
            }
        }
    return true;
}

// How many image columns row y of the original pane shows.
int columnsShown(MainWindow &window, int y)
{
    const QImage image = shown(window, 0);
    std::set<int> columns;
    for (int x = 0; x < image.width(); ++x)
        columns.insert(decoded(image.pixel(x, y), 0).x());
    columns.erase(-1);
    return int(columns.size());
}

void sendMouse(QWidget *widget, QEvent::Type type, const QPoint &at, Qt::MouseButtons buttons)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, widget->mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void sendWheel(QWidget *widget, const QPoint &at, int notches)
{
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

// Opens the context menu of a pane and triggers its entry `text`; false when
// no such menu or entry came up.
bool chooseFromMenu(QLabel *label, const QString &text)
{
    bool found = false;
    QTimer::singleShot(0, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction *action : menu->actions())
            if (action->text() == text && action->isEnabled()) {
                found = true;
                action->trigger();
            }
        menu->close();
    });
    const QPoint at(100, 100);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, label->mapToGlobal(at));
    QApplication::sendEvent(label, &event);
    return found;
}

struct Testbed
{
    Testbed()
    {
        window.show();
        window.activateWindow();
    }
    bool ready() { return QTest::qWaitForWindowExposed(&window); }
    void open(const QString &fileName) { clickOpen(window, chooser, fileName); }

    MainWindow window;
    FakeChooser chooser;
};
} // namespace

class InspectionTest : public QObject
{
    Q_OBJECT

private slots:
    void panesMoveTogether();
    void differenceView();
    void saveAndCopyFullImage();
    void droppedFilesOpenAsOpenImage_data();
    void droppedFilesOpenAsOpenImage();
    void refusedDropsAndShortcuts();
};

void InspectionTest::panesMoveTogether()
{
    ScratchDir scratch;
    QVERIFY(codedImage(1200, 900, 0).save(QStringLiteral("coded.png")));
    Testbed bed;
    QVERIFY(bed.ready());
    MainWindow &window = bed.window;
    bed.open(scratch.filePath(QStringLiteral("coded.png")));
    QVERIFY(window.isImageOpened());
    for (int i = 1; i < 3; ++i)
        pane(window, paneNames[i])->setPixmap(QPixmap::fromImage(codedImage(1200, 900, i)));

    // The initial display: unscaled, as the label places it (left, centred
    // vertically), pixel for pixel.
    QCOMPARE(pixelUnder(window, QPoint(0, 0)), QPoint(0, 194));
    QCOMPARE(pixelUnder(window, QPoint(511, 511)), QPoint(511, 705));

    // The wheel over the hybrid pane zooms all three about the cursor.
    QLabel *hybrid = pane(window, "image_current_2");
    const QPoint cursor(300, 200);
    const QPoint underCursor = pixelUnder(window, cursor);
    for (int notches : {1, 2, 1}) {
        sendWheel(hybrid, cursor, notches);
        QVERIFY(inStep(window));
        QCOMPARE(pixelUnder(window, cursor), underCursor);
    }
    const int columnsZoomed = columnsShown(window, 250);
    QVERIFY2(columnsZoomed <= 257, qPrintable(QString::number(columnsZoomed)));

    // A drag in the JPEG pane moves all three with the cursor.
    QLabel *jpeg = pane(window, "image_current");
    const QPoint start(250, 250), end(210, 220);
    const QPoint grabbed = pixelUnder(window, start);
    sendMouse(jpeg, QEvent::MouseButtonPress, start, Qt::LeftButton);
    sendMouse(jpeg, QEvent::MouseMove, QPoint(230, 240), Qt::LeftButton);
    sendMouse(jpeg, QEvent::MouseMove, end, Qt::LeftButton);
    sendMouse(jpeg, QEvent::MouseButtonRelease, end, Qt::NoButton);
    QVERIFY(inStep(window));
    QCOMPARE(pixelUnder(window, end), grabbed);

    // + doubles the scale, - halves it again to the same view.
    QImage before[3];
    for (int i = 0; i < 3; ++i)
        before[i] = shown(window, i);
    QTest::keyClick(&window, Qt::Key_Plus);
    QVERIFY(inStep(window));
    const int columnsDoubled = columnsShown(window, 250);
    QVERIFY2(qAbs(2 * columnsDoubled - columnsZoomed) <= 2,
             qPrintable(QStringLiteral("%1 then %2").arg(columnsZoomed).arg(columnsDoubled)));
    QTest::keyClick(&window, Qt::Key_Minus);
    for (int i = 0; i < 3; ++i)
        QVERIFY(shown(window, i) == before[i]);

    // The read-out names the pixel under the cursor and its value in each
    // image.
    const QPoint readAt(123, 321);
    const QPoint pixel = pixelUnder(window, readAt);
    QHelpEvent help(QEvent::ToolTip, readAt, hybrid->mapToGlobal(readAt));
    QApplication::sendEvent(hybrid, &help);
    QStringList expected{QStringLiteral("Pixel %1, %2").arg(pixel.x()).arg(pixel.y())};
    const char *const names[] = {"Original", "JPEG", "Hybrid"};
    for (int i = 0; i < 3; ++i) {
        const QRgb value = coded(pixel.x(), pixel.y(), i);
        expected << QStringLiteral("%1: R %2  G %3  B %4")
                        .arg(QLatin1String(names[i]))
                        .arg(qRed(value))
                        .arg(qGreen(value))
                        .arg(qBlue(value));
    }
    QCOMPARE(QToolTip::text(), expected.join(QLatin1Char('\n')));

    // A double-click fits the whole image: 1200 x 900 becomes 512 x 384,
    // centred, in every pane.
    QEvent::Type doubleClick = QEvent::MouseButtonDblClick;
    sendMouse(jpeg, doubleClick, QPoint(100, 100), Qt::LeftButton);
    for (int i = 0; i < 3; ++i) {
        const QImage image = shown(window, i);
        for (int y : {0, 62, 450, 511})
            QCOMPARE(decoded(image.pixel(256, y), i), QPoint(-1, -1));
        for (int y : {66, 256, 445}) {
            QVERIFY(decoded(image.pixel(1, y), i) != QPoint(-1, -1));
            QVERIFY(decoded(image.pixel(510, y), i) != QPoint(-1, -1));
        }
    }
    // 0 goes back to 1:1 about the centre.
    QTest::keyClick(&window, Qt::Key_0);
    QVERIFY(inStep(window));
    QCOMPARE(columnsShown(window, 256), 512);
    const QPoint centre = pixelUnder(window, QPoint(256, 256));
    QVERIFY2(qAbs(centre.x() - 600) <= 1 && qAbs(centre.y() - 450) <= 1,
             qPrintable(QStringLiteral("%1, %2").arg(centre.x()).arg(centre.y())));

    // A newly opened image starts in the initial display again.
    bed.open(scratch.filePath(QStringLiteral("coded.png")));
    QCOMPARE(decoded(shown(window, 0).pixel(0, 0), 0), QPoint(0, 194));
}

void InspectionTest::differenceView()
{
    ScratchDir scratch;
    QVERIFY(writeWeights());
    const QImage photo = loadPhoto(QStringLiteral("chelsea.png"));
    QVERIFY(photo.save(QStringLiteral("photo.png")));
    Testbed bed;
    QVERIFY(bed.ready());
    MainWindow &window = bed.window;
    bed.open(scratch.filePath(QStringLiteral("photo.png")));
    clickCompress(window);
    const QImage jpeg = paneImage(window, "image_current");
    QCOMPARE(jpeg.size(), photo.size());
    const QImage plainJpegView = shown(window, 1);

    // The 451 x 300 photo is shown unscaled at the left, 106 rows down.
    const QRect area(0, 106, 451, 300);
    const QString entry = QStringLiteral("Difference from original \u00d74");
    QVERIFY(chooseFromMenu(pane(window, "image_original"), entry));
    QVERIFY(chooseFromMenu(pane(window, "image_current"), entry));
    const QImage same = shown(window, 0);
    const QImage difference = shown(window, 1);
    int nonZero = 0;
    for (int y = 0; y < area.height(); ++y)
        for (int x = 0; x < area.width(); ++x) {
            const QPoint at = area.topLeft() + QPoint(x, y);
            QCOMPARE(same.pixel(at) & 0xFFFFFF, 0u);
            const QRgb a = jpeg.pixel(x, y), b = photo.pixel(x, y);
            auto channel = [](int p, int q) { return qMin(255, 4 * qAbs(p - q)); };
            const QRgb expected
                = qRgb(channel(qRed(a), qRed(b)), channel(qGreen(a), qGreen(b)), channel(qBlue(a), qBlue(b)));
            if ((difference.pixel(at) & 0xFFFFFF) != (expected & 0xFFFFFF))
                QFAIL(qPrintable(QStringLiteral("difference at (%1, %2)").arg(x).arg(y)));
            nonZero += (expected & 0xFFFFFF) != 0;
        }
    QVERIFY(nonZero > area.width() * area.height() / 2);

    // Toggled back, the pane shows its picture again.
    QVERIFY(chooseFromMenu(pane(window, "image_current"), entry));
    QVERIFY(shown(window, 1) == plainJpegView);
}

void InspectionTest::saveAndCopyFullImage()
{
    ScratchDir scratch;
    const QImage photo = loadPhoto(QStringLiteral("hubble_deep_field.jpg"));
    QCOMPARE(photo.size(), QSize(1000, 872));
    QVERIFY(photo.save(QStringLiteral("photo.png")));
    Testbed bed;
    QVERIFY(bed.ready());
    MainWindow &window = bed.window;
    bed.open(scratch.filePath(QStringLiteral("photo.png")));
    QLabel *original = pane(window, "image_original");

    QString answer;
    ChooserLog log;
    setSaveFileChooser([&](QWidget *, const QString &caption, const QString &suggestion) {
        ++log.calls;
        log.caption = caption;
        log.directory = suggestion;
        return answer;
    });
    const int linesBefore = consoleLines(window).size();
    // Zoomed in, the whole image is saved all the same, in the format of the
    // name's suffix.
    QTest::keyClick(&window, Qt::Key_Plus);
    for (const char *name : {"view.png", "view.bmp"}) {
        answer = scratch.filePath(QLatin1String(name));
        QVERIFY(chooseFromMenu(original, QStringLiteral("Save image as\u2026")));
        QImageReader reader(answer);
        QCOMPARE(reader.format(), QFileInfo(answer).suffix().toLatin1());
        QCOMPARE(rgbDifference(reader.read(), photo), QString());
    }
    QCOMPARE(log.calls, 2);
    QCOMPARE(log.caption, QStringLiteral("Save image as"));
    QCOMPARE(log.directory, QDir::current().filePath(QStringLiteral("original.png")));

    // A format no writer knows: Qt's reason, and no file.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "nosuch");
    QVERIFY(!writer.write(photo));
    answer = scratch.filePath(QStringLiteral("view.nosuch"));
    QVERIFY(chooseFromMenu(original, QStringLiteral("Save image as\u2026")));
    QVERIFY(!QFile::exists(answer));
    // A cancelled dialog does nothing.
    answer.clear();
    QVERIFY(chooseFromMenu(original, QStringLiteral("Save image as\u2026")));
    setSaveFileChooser(SaveFileChooser());
    QCOMPARE(normalizedConsole(window).mid(linesBefore),
             (QStringList{QStringLiteral("<time> - Image saved as %1.").arg(scratch.filePath("view.png")),
                          QStringLiteral("<time> - Image saved as %1.").arg(scratch.filePath("view.bmp")),
                          QStringLiteral("<time> - Cannot write %1: %2.")
                              .arg(QDir::toNativeSeparators(scratch.filePath("view.nosuch")),
                                   writer.errorString())}));

    QGuiApplication::clipboard()->clear();
    QVERIFY(chooseFromMenu(original, QStringLiteral("Copy")));
    QCOMPARE(rgbDifference(QGuiApplication::clipboard()->image(), photo), QString());
}

void InspectionTest::droppedFilesOpenAsOpenImage_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::newRow("hybrid JPEG") << "hybrid.jpg";
    QTest::newRow("standard JPEG") << "plain.jpg";
    QTest::newRow("directory") << "folder.png";
    QTest::newRow("damaged PNG") << "damaged.png";
    QTest::newRow("damaged JPEG") << "damaged.jpg";
}

void InspectionTest::droppedFilesOpenAsOpenImage()
{
    QFETCH(QString, fileName);
    ScratchDir scratch;
    QVERIFY(writeWeights());
    const QImage photo = loadPhoto(QStringLiteral("chelsea.png"));
    QList<float> weights;
    for (int i = 0; i <= 20; ++i)
        weights.append(1.0f - i / 20.0f);
    QVERIFY(!compressHybrid(photo, 70, weights, nullptr, QStringLiteral("hybrid.jpg")).isNull());
    QVERIFY(photo.save(QStringLiteral("plain.jpg"), "jpg", 80));
    QVERIFY(QDir().mkdir(QStringLiteral("folder.png")));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(photo.save(&buffer, "png"));
    QVERIFY(writeFileBytes(QStringLiteral("damaged.png"), png.left(png.size() / 2)));
    QVERIFY(writeFileBytes(QStringLiteral("damaged.jpg"), readFileBytes(QStringLiteral("plain.jpg")).left(700)));
    const QString path = scratch.filePath(fileName);

    // The same file through the button, in a window of its own.
    Testbed byButton;
    byButton.open(path);
    QFile::remove(QStringLiteral("hybrid_decompressed.bmp"));

    Testbed byDrop;
    QVERIFY(byDrop.ready());
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    const QPoint at(700, 400);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&byDrop.window, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&byDrop.window, &drop);
    QTRY_COMPARE(consoleLines(byDrop.window).size(), consoleLines(byButton.window).size());

    QCOMPARE(normalizedConsole(byDrop.window), normalizedConsole(byButton.window));
    QCOMPARE(byDrop.window.isImageOpened(), byButton.window.isImageOpened());
    QCOMPARE(rgbDifference(byDrop.window.openedImage(), byButton.window.openedImage()), QString());
    QCOMPARE(rgbDifference(paneImage(byDrop.window, "image_original"), paneImage(byButton.window, "image_original")),
             QString());
    QCOMPARE(QFile::exists(QStringLiteral("hybrid_decompressed.bmp")), fileName == QLatin1String("hybrid.jpg"));
    if (fileName == QLatin1String("hybrid.jpg")) {
        const QImage components(path);
        QCOMPARE(rgbDifference(byDrop.window.openedImage(), expandReference(components, 450, 300)), QString());
    }
}

void InspectionTest::refusedDropsAndShortcuts()
{
    ScratchDir scratch;
    QVERIFY(writeWeights());
    QVERIFY(loadPhoto(QStringLiteral("chelsea.png")).save(QStringLiteral("a.png")));
    QVERIFY(loadPhoto(QStringLiteral("astronaut.png")).save(QStringLiteral("b.png")));
    Testbed bed;
    QVERIFY(bed.ready());
    MainWindow &window = bed.window;

    QMimeData text, twoFiles, remote;
    text.setText(scratch.filePath(QStringLiteral("a.png")));
    twoFiles.setUrls({QUrl::fromLocalFile(scratch.filePath(QStringLiteral("a.png"))),
                      QUrl::fromLocalFile(scratch.filePath(QStringLiteral("b.png")))});
    remote.setUrls({QUrl(QStringLiteral("http://localhost/a.png"))});
    for (QMimeData *data : {&text, &twoFiles, &remote}) {
        QDragEnterEvent enter(QPoint(700, 400), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &enter);
        QDropEvent drop(QPoint(700, 400), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &drop);
    }
    QCoreApplication::processEvents();
    const QString refused = QStringLiteral("<time> - Drop refused: only a single local file can be opened.");
    QCOMPARE(normalizedConsole(window), (QStringList{refused, refused, refused}));
    QVERIFY(!window.isImageOpened());

    // Ctrl+O asks for a file as the button does, Ctrl+Return compresses.
    ChooserLog log;
    FakeChooser chooser(&log);
    chooser.answer = scratch.filePath(QStringLiteral("a.png"));
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(log.calls, 1);
    QVERIFY(window.isImageOpened());
    QTest::keyClick(&window, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(normalizedConsole(window).size(), 3 + 1 + 3);
    QVERIFY(normalizedConsole(window).at(4).startsWith(QLatin1String("Hybrid bpp: ")));
}

QTEST_MAIN(InspectionTest)
#include "test_inspection.moc"
