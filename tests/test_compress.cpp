// Compress, run through the window's real slots and widgets: the files it
// writes, the panes, the console lines and what it does when a step fails.
#include "codec/qimage/directtransform.h"
#include "commands/filechooser.h"
#include "codec/qimage/hybridjpeg.h"
#include "codec/transform/kernel.h"
#include "app/mainwindow.h"
#include "testsupport.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QtTest>

#include <unistd.h>

using namespace veltrano;

namespace {
const QRegularExpression timeStamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d"));

QByteArray jpegBytes(const QImage &image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "jpg", quality);
    return bytes;
}

QString bpp(qint64 bytes, const QImage &image)
{
    return QString::number(double(float(bytes * 8)) / (image.width() * image.height()), 'g', 6);
}

QImage argb(const QImage &image)
{
    return image.convertToFormat(QImage::Format_ARGB32);
}

// The window in a scratch working directory with a weights file.
class Testbed
{
public:
    explicit Testbed(bool withWeights = true)
    {
        if (withWeights)
            writeFileBytes("weights_out.txt", testWeightsFileText());
    }
    ~Testbed() { setOpenFileChooser(OpenFileChooser()); }

    void open(const QString &fileName)
    {
        setOpenFileChooser([fileName](QWidget *, const QString &, const QString &) { return fileName; });
        window.findChild<QPushButton *>(QStringLiteral("pushButton_2"))->click();
    }
    void compress(int quality)
    {
        window.findChild<QSpinBox *>(QStringLiteral("jpeg_qual"))->setValue(quality);
        window.findChild<QPushButton *>(QStringLiteral("pushButton_3"))->click();
    }
    // Console lines with the time stamps checked and removed.
    QStringList lines() const
    {
        QStringList result;
        const QString text = window.findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit"))->toPlainText();
        for (QString line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (line.startsWith(QLatin1String(" ")) || line.contains(QLatin1String(" - "))) {
                if (!timeStamp.match(line).hasMatch())
                    return {QStringLiteral("status line without time: ") + line};
                line = line.mid(8);
            }
            result << line;
        }
        return result;
    }
    QImage pane(const char *name) const
    {
        const QPixmap pixmap = window.findChild<QLabel *>(QLatin1String(name))->pixmap(Qt::ReturnByValue);
        return pixmap.isNull() ? QImage() : argb(pixmap.toImage());
    }

    ScratchDir scratch;
    MainWindow window;
};
} // namespace

class CompressTest : public QObject
{
    Q_OBJECT

private slots:
    void compressOnPhoto_data();
    void compressOnPhoto();
    void compressOddSizeAndTwice();
    void missingWeightsFile();
    void unwritableOutputs();
    void unwritableWorkingDirectory();
};

void CompressTest::compressOnPhoto_data()
{
    QTest::addColumn<int>("quality");
    QTest::newRow("q0") << 0;
    QTest::newRow("q20") << 20;
    QTest::newRow("q30") << 30;
}

void CompressTest::compressOnPhoto()
{
    QFETCH(int, quality);
    // The expected bit rates below: 12 345 bytes over 512 x 512 pixels.
    QCOMPARE(bpp(12345, QImage(512, 512, QImage::Format_RGB32)), QStringLiteral("0.37674"));
    Testbed bed;
    const QImage photo = loadPhoto("astronaut.png");
    QVERIFY(photo.save("astronaut.png"));
    bed.open("astronaut.png");
    bed.compress(quality);

    QCOMPARE(readFileBytes("jpeg.jpg"), jpegBytes(photo, quality));
    QImage components = directFTransform(photo, 2, makeRaisedCosineKernel(2));
    components.setDotsPerMeterX(2835); // 72 dpi, whatever the program's screen
    components.setDotsPerMeterY(2835);
    QByteArray hybrid = jpegBytes(components, quality + 50);
    hybrid[12] = 0x04;
    const QByteArray written = readFileBytes("hybrid.jpg");
    QCOMPARE(written, hybrid);
    QCOMPARE(written.left(13).toHex(), QByteArray("ffd8ffe000104a4649460001") + "04");

    QList<float> weights;
    for (const QByteArray &line : testWeightsFileText().split('\n'))
        if (!line.isEmpty())
            weights << line.toFloat();
    const QImage expected = compressHybrid(photo, quality + 50, weights, nullptr, "reference.jpg");
    QCOMPARE(expected.size(), photo.size());
    QVERIFY(readFileBytes("hybrid_decompressed.bmp").startsWith("BM"));
    QCOMPARE(argb(QImage("hybrid_decompressed.bmp")), expected);
    QCOMPARE(bed.pane("image_current_2"), expected);
    QCOMPARE(bed.pane("image_current"), argb(QImage("jpeg.jpg")));
    QCOMPARE(bed.pane("image_original"), argb(photo));

    // The command-line tool writes the very same files.
    const ProcessResult tool = runProcess(binPath("ftjpeg"),
                                          {"compress", "astronaut.png", "tool.jpg", "--quality",
                                           QString::number(quality + 50), "--decoded", "tool.bmp"});
    QCOMPARE(tool.exitCode, 0);
    QCOMPARE(readFileBytes("tool.jpg"), written);
    QCOMPARE(readFileBytes("tool.bmp"), readFileBytes("hybrid_decompressed.bmp"));
    QCOMPARE(tool.out.trimmed(), bpp(written.size(), photo).toUtf8());

    QCOMPARE(bed.lines().mid(1), (QStringList{
                                     "Hybrid bpp: " + bpp(written.size(), photo),
                                     "JPEG bpp: " + bpp(QFileInfo("jpeg.jpg").size(), photo),
                                     "---------------------------",
                                 }));
}

void CompressTest::compressOddSizeAndTwice()
{
    Testbed bed;
    const QImage photo = loadPhoto("chelsea.png").copy(0, 0, 451, 299);
    QVERIFY(photo.save("odd.png"));
    bed.open("odd.png");
    bed.compress(20);
    QCOMPARE(QImage("hybrid.jpg").size(), QSize(225, 149));
    QCOMPARE(QImage("hybrid_decompressed.bmp").size(), QSize(451, 299));
    QCOMPARE(bed.pane("image_current_2").size(), QSize(451, 299));
    QList<float> weights;
    for (const QByteArray &line : testWeightsFileText().split('\n'))
        if (!line.isEmpty())
            weights << line.toFloat();
    const QImage expected = compressHybrid(photo, 70, weights, nullptr, "reference.jpg");
    QCOMPARE(argb(QImage("hybrid_decompressed.bmp")), expected);
    QCOMPARE(bed.pane("image_current_2"), expected);

    const QByteArray jpeg = readFileBytes("jpeg.jpg");
    const QByteArray hybrid = readFileBytes("hybrid.jpg");
    const QByteArray bmp = readFileBytes("hybrid_decompressed.bmp");
    const QStringList first = bed.lines().mid(1);
    bed.compress(20);
    QCOMPARE(bed.lines().mid(4), first);
    QCOMPARE(readFileBytes("jpeg.jpg"), jpeg);
    QCOMPARE(readFileBytes("hybrid.jpg"), hybrid);
    QCOMPARE(readFileBytes("hybrid_decompressed.bmp"), bmp);
}

void CompressTest::missingWeightsFile()
{
    Testbed bed;
    QVERIFY(loadPhoto("chelsea.png").copy(0, 0, 64, 64).save("src.png"));
    bed.open("src.png");
    bed.compress(20);
    QVERIFY(QFile::rename("hybrid.jpg", "kept.jpg"));
    QVERIFY(QFile::remove("weights_out.txt"));
    for (const char *name : {"jpeg.jpg", "hybrid_decompressed.bmp"})
        QVERIFY(QFile::remove(name));

    const QStringList before = bed.lines();
    const QImage jpegPane = bed.pane("image_current");
    const QImage hybridPane = bed.pane("image_current_2");
    QByteArray out = captureStdout([&] { bed.compress(20); });
    QCOMPARE(out, QByteArray("cannot open weights file!"));
    QCOMPARE(bed.lines(), before);
    QCOMPARE(bed.pane("image_current"), jpegPane);
    QCOMPARE(bed.pane("image_current_2"), hybridPane);
    QVERIFY(!QFile::exists("hybrid_decompressed.bmp"));
    QVERIFY(!QFile::exists("jpeg.jpg"));
    QVERIFY(!QFile::exists("hybrid.jpg"));

    // A hybrid file that cannot be decoded is a failed open.
    out = captureStdout([&] { bed.open("kept.jpg"); });
    QCOMPARE(out, QByteArray("cannot open weights file!"));
    QCOMPARE(bed.lines().mid(before.size(), 3),
             (QStringList{" - File opened.", " - It is a hybrid JPEG image.", " - File open failed."}));
    QVERIFY(!bed.window.isImageOpened());
    QVERIFY(!QFile::exists("hybrid_decompressed.bmp"));
    bed.compress(20);
    QCOMPARE(bed.lines().last(), QStringLiteral(" - No file selected!"));

    // So is one whose weights table is too short.
    writeFileBytes("weights_out.txt", "1\n0.5\n");
    bed.open("kept.jpg");
    QVERIFY(!bed.window.isImageOpened());
    QVERIFY2(bed.lines().last().contains(QLatin1String("11")), qPrintable(bed.lines().last()));
}

void CompressTest::unwritableOutputs()
{
    Testbed bed;
    QVERIFY(loadPhoto("chelsea.png").copy(0, 0, 64, 64).save("src.png"));
    bed.open("src.png");

    // A directory in the way of "jpeg.jpg": no file can be written there.
    QVERIFY(QDir().mkdir("jpeg.jpg"));
    bed.compress(20);
    QStringList lines = bed.lines();
    QVERIFY2(lines.last().startsWith(QLatin1String(" - ")) && lines.last().contains(QLatin1String("jpeg.jpg")),
             qPrintable(lines.last()));
    QVERIFY(!lines.join('\n').contains(QLatin1String("bpp")));
    QVERIFY(bed.pane("image_current").isNull());
    // The hybrid half does not depend on the plain JPEG and still runs.
    QVERIFY(!bed.pane("image_current_2").isNull());
    QCOMPARE(readFileBytes("hybrid.jpg").at(12), char(hybridMarker));
    QVERIFY(QDir().rmdir("jpeg.jpg"));
    QVERIFY(QFile::remove("hybrid.jpg"));

    // An old hybrid.jpg stays, and no size is reported for it.
    writeFileBytes("hybrid_decompressed.bmp", "old");
    QVERIFY(QDir().mkdir("hybrid.jpg"));
    bed.compress(20);
    lines = bed.lines();
    QVERIFY2(lines.last().contains(QLatin1String("hybrid.jpg")), qPrintable(lines.last()));
    QVERIFY(!lines.join('\n').contains(QLatin1String("bpp")));
    QCOMPARE(readFileBytes("hybrid_decompressed.bmp"), QByteArray("old"));
    QVERIFY(bed.pane("image_current_2").isNull());
    QVERIFY(!bed.pane("image_current").isNull());
}


void CompressTest::unwritableWorkingDirectory()
{
    Testbed bed;
    const QImage photo = loadPhoto("chelsea.png").copy(0, 0, 64, 64);
    QVERIFY(photo.save("src.png"));
    bed.open("src.png");
    bed.compress(20);
    const QByteArray jpeg = readFileBytes("jpeg.jpg");
    const QByteArray hybrid = readFileBytes("hybrid.jpg");
    const QByteArray bmp = readFileBytes("hybrid_decompressed.bmp");
    const int start = bed.lines().size();

    // Nothing can be created in a read-only directory; root writes anyway, so
    // the second run happens as an unprivileged user.
    const bool root = ::geteuid() == 0;
    QVERIFY(QFile::setPermissions(bed.scratch.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner
                                                          | QFileDevice::ReadGroup | QFileDevice::ExeGroup
                                                          | QFileDevice::ReadOther | QFileDevice::ExeOther));
    if (root)
        QCOMPARE(::seteuid(65534), 0);
    bed.compress(25);
    if (root)
        QCOMPARE(::seteuid(0), 0);
    QVERIFY(QFile::setPermissions(bed.scratch.path(), QFileDevice::Permissions(0x7700)));

    const QStringList lines = bed.lines().mid(start);
    QVERIFY2(lines.size() == 2, qPrintable(lines.join('\n')));
    QVERIFY2(lines.at(0).startsWith(QLatin1String(" - ")) && lines.at(0).contains(QLatin1String("jpeg.jpg")),
             qPrintable(lines.at(0)));
    QVERIFY2(lines.at(1).startsWith(QLatin1String(" - ")) && lines.at(1).contains(QLatin1String("hybrid.jpg")),
             qPrintable(lines.at(1)));
    // The earlier results are neither replaced nor reported as new.
    QCOMPARE(readFileBytes("jpeg.jpg"), jpeg);
    QCOMPARE(readFileBytes("hybrid.jpg"), hybrid);
    QCOMPARE(readFileBytes("hybrid_decompressed.bmp"), bmp);
    QVERIFY(bed.pane("image_current").isNull());
    QVERIFY(bed.pane("image_current_2").isNull());
    QCOMPARE(QDir::current().entryList(QDir::Files | QDir::Hidden).size(), 5); // src, weights and the three
}

QTEST_MAIN(CompressTest)
#include "test_compress.moc"
