// Damaged, hostile and special files that once passed for sound ones: frame
// headers behind stray bytes, files cut short, FIFOs and devices, images too
// large for the memory left, outputs naming inputs, interrupted runs. What
// ftjpeg, the study and the window's commands say, and what they leave.
#include "badinputsupport.h"
#include "commandsupport.h"
#include "hybridjpeg.h"
#include "imagefile.h"

#include <QtTest>

#include <sys/stat.h>

using namespace badinput;
using namespace commandtest;

namespace {

QImage smallPhoto()
{
    return loadPhoto(QStringLiteral("chelsea.png")).copy(100, 60, 40, 30);
}

QString errorOf(const ProcessResult &result)
{
    return QString::fromLocal8Bit(result.err);
}

// The window in a scratch folder with a weights table.
class Window
{
public:
    Window() { writeFileBytes(QStringLiteral("weights_out.txt"), testWeightsFileText()); }
    QStringList open(const QString &name)
    {
        const int start = consoleLines(window).size();
        clickOpen(window, chooser, scratch.filePath(name));
        return normalizedConsole(window).mid(start);
    }

    ScratchDir scratch;
    MainWindow window;
    FakeChooser chooser;
};

} // namespace

class DamagedInputsTest : public QObject
{
    Q_OBJECT

private slots:
    void frameFoundAsTheDecoderFindsIt();
    void damagedFilesRefusedButShown();
    void onlyRegularFilesAndABoundedFirstLine();
};

// Stray bytes and fill bytes before a marker, which the decoder skips, do
// not hide a frame header from the size checks.
void DamagedInputsTest::frameFoundAsTheDecoderFindsIt()
{
    Window bench;
    const QByteArray small = encoded(smallPhoto(), "jpg", 80);
    const int quantization = segmentOffset(small, 0xDB);
    QVERIFY(quantization > 2);
    const auto strayAfterStart = [](const QByteArray &jpeg) { return jpeg.left(2) + '\x00' + jpeg.mid(2); };
    const auto garbageBeforeTables = [quantization](const QByteArray &jpeg) {
        return jpeg.left(quantization) + QByteArray("\x17\xFF\x00\x42\xFF\xFF", 6) + jpeg.mid(quantization);
    };
    // The decoder reads both past the bytes: the image is there.
    for (const QByteArray &bytes : {strayAfterStart(small), garbageBeforeTables(small)}) {
        QVERIFY(writeFileBytes(QStringLiteral("odd.jpg"), bytes));
        QCOMPARE(QImage(QStringLiteral("odd.jpg")).size(), smallPhoto().size());
        QCOMPARE(readImageSize(QStringLiteral("odd.jpg")), smallPhoto().size());
    }
    const QByteArray huge = withFrameSize(small, 16384, 16384);
    for (const QByteArray &bytes : {strayAfterStart(huge), garbageBeforeTables(huge)}) {
        QVERIFY(writeFileBytes(QStringLiteral("huge.jpg"), bytes));
        const ProcessResult result = ftjpeg({QStringLiteral("compress"), QStringLiteral("huge.jpg"),
                                             QStringLiteral("out.jpg")});
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(errorOf(result), QStringLiteral("ftjpeg: cannot read huge.jpg: %1 bytes cannot hold a JPEG image of "
                                                 "16384x16384 pixels (at least 524288 are needed); the file is "
                                                 "damaged or truncated\n")
                                      .arg(bytes.size()));
        QVERIFY(!QFile::exists(QStringLiteral("out.jpg")));
    }
    // A hybrid file keeps byte 12 when the garbage comes after its APP0.
    QByteArray hybrid = withFrameSize(small, 8000, 8000);
    QVERIFY(markHybridJpegData(hybrid));
    hybrid = garbageBeforeTables(hybrid);
    QVERIFY(writeFileBytes(QStringLiteral("hybrid.jpg"), hybrid));
    const ProcessResult result = ftjpeg({QStringLiteral("decompress"), QStringLiteral("hybrid.jpg"),
                                         QStringLiteral("out.png")});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(errorOf(result), QStringLiteral("ftjpeg: cannot read hybrid.jpg: %1 bytes cannot hold a JPEG image of "
                                             "8000x8000 pixels (at least 125000 are needed); the file is damaged "
                                             "or truncated\n")
                                  .arg(hybrid.size()));
}

// A JPEG cut in its scan or right after the scan header and a BMP cut in
// half decode to an image with a part missing: the tools refuse them, the
// window shows them and says what is missing.
void DamagedInputsTest::damagedFilesRefusedButShown()
{
    Window bench;
    const QImage photo = smallPhoto();
    const QByteArray jpeg = encoded(photo, "jpg", 95);
    const int scan = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
    QVERIFY(scan > 0);
    const int scanData = scan + 2 + ((uchar(jpeg.at(scan + 2)) << 8) | uchar(jpeg.at(scan + 3)));
    const QByteArray bmp = encoded(photo, "bmp");
    const QString cutJpeg = QStringLiteral("the file ends inside its image data, so the end of the image is missing "
                                           "(Corrupt JPEG data: premature end of data segment)");
    const struct
    {
        QString name;
        QByteArray bytes;
        QString damage;
    } cases[] = {
        {QStringLiteral("inscan.jpg"), jpeg.left(scanData + (jpeg.size() - scanData) / 2), cutJpeg},
        {QStringLiteral("afterheader.jpg"), jpeg.left(scanData), cutJpeg},
        // 54 header bytes, then 30 rows of 120 bytes, the bottom one first.
        {QStringLiteral("half.bmp"), bmp.left(54 + 120 * 12 + 50),
         QStringLiteral("its pixel data holds 12 of 30 rows, so the top 18 rows of the image are missing")},
    };
    QCOMPARE(bmp.size(), 54 + 120 * 30);
    for (const auto &c : cases) {
        QVERIFY(writeFileBytes(c.name, c.bytes));
        // Qt's reader alone takes them for sound.
        QVERIFY(!QImage(c.name).isNull());
        for (const QString &command : {QStringLiteral("direct"), QStringLiteral("compress")}) {
            const ProcessResult result = ftjpeg({command, c.name, QStringLiteral("out.jpg")});
            QCOMPARE(result.exitCode, 1);
            QCOMPARE(errorOf(result), QStringLiteral("ftjpeg: cannot read %1: %2; the file is damaged or truncated\n")
                                          .arg(c.name, c.damage));
            QVERIFY(!QFile::exists(QStringLiteral("out.jpg")));
        }
        QStringList lines{QStringLiteral("<time> - File opened."),
                          QStringLiteral("<time> - %1 is damaged or truncated: %2.")
                              .arg(bench.scratch.filePath(c.name), c.damage)};
        if (c.name.endsWith(QLatin1String(".jpg")))
            lines << QStringLiteral("<time> - It is a standard JPEG image.");
        QCOMPARE(bench.open(c.name), lines);
        QVERIFY(bench.window.isImageOpened());
        QCOMPARE(bench.window.openedImage().size(), photo.size());
    }
    // The rows a short BMP holds are its bottom ones, as they were.
    const QImage shown = bench.window.openedImage();
    for (int y = 18; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            QCOMPARE(shown.pixel(x, y) & 0xFFFFFF, photo.pixel(x, y) & 0xFFFFFF);
}

// A FIFO, a device and a directory are refused before they are opened; a
// 3 GB file of zeros (sparse) is told apart under a 1 GB address-space limit.
void DamagedInputsTest::onlyRegularFilesAndABoundedFirstLine()
{
    Window bench;
    QVERIFY(::mkfifo("pipe.jpg", 0600) == 0);
    const QString notRegular = QStringLiteral("it is not a regular file (a FIFO, socket or device)");
    for (const QStringList &arguments :
         {QStringList{QStringLiteral("info"), QStringLiteral("pipe.jpg")},
          QStringList{QStringLiteral("compress"), QStringLiteral("pipe.jpg"), QStringLiteral("out.jpg")},
          QStringList{QStringLiteral("decompress"), QStringLiteral("pipe.jpg"), QStringLiteral("out.png")},
          QStringList{QStringLiteral("info"), QStringLiteral("/dev/zero")}}) {
        const ProcessResult result = ftjpeg(arguments);
        QVERIFY(!result.crashed);
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(errorOf(result), QStringLiteral("ftjpeg: cannot read %1: %2\n").arg(arguments.at(1), notRegular));
    }
    QCOMPARE(bench.open(QStringLiteral("pipe.jpg")),
             (QStringList{QStringLiteral("<time> - File open failed."),
                          QStringLiteral("<time> - Cannot read %1: %2.")
                              .arg(bench.scratch.filePath(QStringLiteral("pipe.jpg")), notRegular)}));

    QFile zeros(QStringLiteral("zeros.jpg"));
    QVERIFY(zeros.open(QIODevice::WriteOnly) && zeros.resize(qint64(3) << 30));
    zeros.close();
    const ProcessResult result = ftjpegUnder(QStringLiteral("-v 1000000"), {QStringLiteral("info"), QStringLiteral("zeros.jpg")});
    QVERIFY(!result.crashed);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(errorOf(result), QStringLiteral("ftjpeg: cannot read zeros.jpg: not an image of a known format\n"));
}

QTEST_MAIN(DamagedInputsTest)
#include "test_damagedinputs.moc"
