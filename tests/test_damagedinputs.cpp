// Damaged, hostile and special files that once passed for sound ones: frame
// headers behind stray bytes, files cut short, FIFOs and devices, images too
// large for the memory left, outputs naming inputs, interrupted runs. What
// ftjpeg, the study and the window's commands say, and what they leave.
#include "badinputsupport.h"
#include "commandsupport.h"
#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/imagefile.h"

#include <QtTest>

#include <QProcess>
#include <QtEndian>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace veltrano;

using namespace badinput;
using namespace commandtest;

namespace {

QImage smallPhoto()
{
    return loadPhoto(QStringLiteral("chelsea.png")).copy(100, 60, 40, 30);
}

// A JPEG stream cut in the middle of its scan data.
QByteArray cutInScan(const QByteArray &jpeg)
{
    const int scan = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
    const int scanData = scan + 2 + ((uchar(jpeg.at(scan + 2)) << 8) | uchar(jpeg.at(scan + 3)));
    return jpeg.left(scanData + (jpeg.size() - scanData) / 2);
}

QString errorOf(const ProcessResult &result)
{
    return QString::fromLocal8Bit(result.err);
}

// A valid PNG of width x height pixels of one bit (a fine stripe pattern):
// a few kB on disk however large, 32 bits a pixel once decoded for work.
QByteArray stripedPng(quint32 width, quint32 height)
{
    QByteArray header;
    for (quint32 value : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            header += char((value >> shift) & 0xFF);
    header += QByteArray("\x01\x00\x00\x00\x00", 5);
    const QByteArray row = QByteArray(1, '\0') + QByteArray(int((width + 7) / 8), '\x55');
    // qCompress gives a zlib stream behind a four-byte length.
    const QByteArray packed = qCompress(row.repeated(int(height)), 9).mid(4);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", packed)
        + pngChunk("IEND", QByteArray());
}

// The bytes this process has mapped (its address space in use).
qint64 mappedBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmSize:"))
            return line.mid(7).simplified().split(' ').value(0).toLongLong() * 1024;
    return -1;
}

// A study with the two codec schemes only, in the scratch folder.
QStringList rdArguments(const QStringList &inputs, const QString &out)
{
    return QStringList{QStringLiteral("rd")} + inputs
        + QStringList{QStringLiteral("--out"), out, QStringLiteral("--jobs"), QStringLiteral("1"),
                      QStringLiteral("--schemes"), QStringLiteral("jpeg,hybrid"), QStringLiteral("--no-ablation")};
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
    void everyKindOfDamageRefusedAlike();
    void onlyRegularFilesAndABoundedFirstLine();
    void studySkipsWhatCannotBeMeasured();
    void windowRefusesWorkBeyondItsMemory();
    void decodedOutputBeyondTheMemoryLeft();
    void interruptedRunsLeaveNothing();
    void studyFolderIsReplacedWhole();
    void outputThatIsAnInput();
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
        {QStringLiteral("inscan.jpg"), cutInScan(jpeg), cutJpeg},
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

    // A hybrid file cut short: decompress refuses it, the window decodes it.
    QByteArray hybrid = cutInScan(jpeg);
    QVERIFY(markHybridJpegData(hybrid));
    QVERIFY(writeFileBytes(QStringLiteral("cut-hybrid.jpg"), hybrid));
    const ProcessResult result = ftjpeg({QStringLiteral("decompress"), QStringLiteral("cut-hybrid.jpg"), QStringLiteral("out.png")});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(errorOf(result), QStringLiteral("ftjpeg: cannot read cut-hybrid.jpg: %1; the file is damaged or truncated\n")
                                  .arg(cutJpeg));
    QCOMPARE(bench.open(QStringLiteral("cut-hybrid.jpg")),
             (QStringList{QStringLiteral("<time> - File opened."),
                          QStringLiteral("<time> - %1 is damaged or truncated: %2.")
                              .arg(bench.scratch.filePath(QStringLiteral("cut-hybrid.jpg")), cutJpeg),
                          QStringLiteral("<time> - It is a hybrid JPEG image.")}));
    QCOMPARE(bench.window.openedImage().size(), photo.size() * 2);
}

// One case per kind of damage, JPEG (Huffman and arithmetic coded,
// sequential and progressive), PNG and PPM: compress and direct, streamed,
// and compress --decoded, in memory, refuse it in one line, the same, and
// leave no file.
void DamagedInputsTest::everyKindOfDamageRefusedAlike()
{
    ScratchDir scratch;
    QVERIFY(writeFileBytes(QStringLiteral("weights_out.txt"), testWeightsFileText()));
    QVERIFY(writeFileBytes(QStringLiteral("source.ppm"), encoded(smallPhoto(), "ppm")));
    const auto cjpeg = [](const QStringList &options) {
        const ProcessResult result = runProcess(QStringLiteral("cjpeg"),
                                                options + QStringList{QStringLiteral("-quality"), QStringLiteral("80"),
                                                                      QStringLiteral("source.ppm")});
        return result.exitCode == 0 ? result.out : QByteArray();
    };
    const QByteArray baseline = cjpeg({});
    const QByteArray arithmetic = cjpeg({QStringLiteral("-arithmetic")});
    const QByteArray arithmeticProgressive = cjpeg({QStringLiteral("-arithmetic"), QStringLiteral("-progressive")});
    const QByteArray progressive = cjpeg({QStringLiteral("-progressive")});
    const QByteArray restarts = cjpeg({QStringLiteral("-restart"), QStringLiteral("1")});
    QVERIFY(!baseline.isEmpty() && !arithmetic.isEmpty() && !arithmeticProgressive.isEmpty()
            && !progressive.isEmpty() && !restarts.isEmpty());

    // A flat arithmetic-coded frame of 16384 x 16384 pixels in a few hundred
    // bytes, cut before its end.
    QByteArray huge = arithmetic;
    const int frame = huge.indexOf(QByteArray("\xFF\xC9", 2));
    QVERIFY(frame > 0);
    huge.replace(frame + 5, 4, QByteArray("\x40\x00\x40\x00", 4));
    huge = huge.left(huge.indexOf(QByteArray("\xFF\xDA", 2)) + 300);
    // The last scan of the progressive file refining a bit it never coded.
    QByteArray progression = progressive;
    const int lastScan = progression.lastIndexOf(QByteArray("\xFF\xDA", 2));
    QCOMPARE(progression.mid(lastScan + 9, 1), QByteArray("\x10", 1));
    progression[lastScan + 9] = '\x21';
    // The first restart marker replaced by another.
    QByteArray restart = restarts;
    const int marker = restart.indexOf(QByteArray("\xFF\xD0", 2), restart.indexOf(QByteArray("\xFF\xDA", 2)));
    QVERIFY(marker > 0);
    restart[marker + 1] = '\xD5';
    // PNG: cut after a whole chunk of its image data, its IEND left off.
    const QByteArray png = encoded(loadPhoto(QStringLiteral("camera.png")), "png");
    int idatEnd = png.indexOf("IDAT") - 4;
    idatEnd += 12 + int(qFromBigEndian<quint32>(png.constData() + idatEnd));
    QVERIFY(png.mid(idatEnd + 4, 4) == "IDAT");
    QByteArray flippedPng = png;
    flippedPng[idatEnd / 2] = char(flippedPng.at(idatEnd / 2) ^ 0x10);
    const QByteArray ppm = encoded(smallPhoto(), "ppm");

    const QString endsInside = QStringLiteral("the file ends inside its image data, so the end of the image is missing");
    const QString corrupt = QStringLiteral("part of its image data is corrupt, so that part of the image is missing");
    const struct
    {
        const char *name;
        QByteArray bytes;
        QString damage;
    } cases[] = {
        {"arithmetic-cut.jpg", arithmetic.left(arithmetic.size() / 2), endsInside + " (Premature end of JPEG file)"},
        {"arithmetic-progressive-cut.jpg", arithmeticProgressive.left(arithmeticProgressive.size() / 2),
         endsInside + " (Premature end of JPEG file)"},
        {"arithmetic-16384.jpg", huge, endsInside + " (Premature end of JPEG file)"},
        {"no-end.jpg", baseline.left(baseline.size() - 2),
         QStringLiteral("the file ends before its end-of-image marker (Premature end of JPEG file)")},
        {"extraneous.jpg", baseline.left(baseline.size() - 2) + QByteArray(20, '\x12') + "\xFF\xD9",
         corrupt + " (Corrupt JPEG data: 16 extraneous bytes before marker 0xd9)"},
        {"progression.jpg", progression,
         corrupt + " (Inconsistent progression sequence for component 0 coefficient 1)"},
        {"restart.jpg", restart, corrupt + " (Corrupt JPEG data: found marker 0xd5 instead of RST0)"},
        {"cut.png", png.left(idatEnd), QString()},
        {"flipped.png", flippedPng, QString()},
        {"no-iend.png", png.left(png.size() - 12), QStringLiteral("the file ends before its IEND chunk")},
        {"short.ppm", ppm.left(ppm.size() - 200),
         QStringLiteral("its pixel data holds 28 of 30 rows, so the bottom 2 rows of the image are missing")},
    };
    for (const auto &c : cases) {
        const QString name = QLatin1String(c.name);
        QVERIFY(writeFileBytes(name, c.bytes));
        for (const QStringList &arguments :
             {QStringList{QStringLiteral("compress"), name, QStringLiteral("out.jpg")},
              QStringList{QStringLiteral("direct"), name, QStringLiteral("out.png")},
              QStringList{QStringLiteral("compress"), name, QStringLiteral("out.jpg"), QStringLiteral("--decoded"),
                          QStringLiteral("out.png")}}) {
            const ProcessResult result = ftjpeg(arguments);
            QVERIFY2(result.exitCode == 1, qPrintable(arguments.join(' ')));
            if (!c.damage.isEmpty()) {
                QCOMPARE(errorOf(result), QStringLiteral("ftjpeg: cannot read %1: %2; the file is damaged or truncated\n")
                                              .arg(name, c.damage));
            } else {
                // The rows libpng inflated before the cut or the damage, and
                // no more, in its words.
                const QRegularExpressionMatch rows =
                    QRegularExpression(QStringLiteral("^ftjpeg: cannot read %1: its image data holds ([0-9]+) of "
                                                      "512 rows, so the bottom ([0-9]+) rows of the image are missing "
                                                      "\\((.+)\\); the file is damaged or truncated\n$")
                                           .arg(name))
                        .match(errorOf(result));
                QVERIFY2(rows.hasMatch(), qPrintable(errorOf(result)));
                QVERIFY(rows.captured(1).toInt() < 512);
                QCOMPARE(rows.captured(1).toInt() + rows.captured(2).toInt(), 512);
                if (name == QLatin1String("cut.png"))
                    QCOMPARE(rows.captured(3), QStringLiteral("the file ends there"));
            }
            QVERIFY(!QFile::exists(QStringLiteral("out.jpg")) && !QFile::exists(QStringLiteral("out.png")));
        }
    }
    // Beyond libpng's limit: its words are never printed, ours are.
    QVERIFY(writeFileBytes(QStringLiteral("wide.png"), pngDeclaring(1000001, 4)));
    for (const QStringList &arguments :
         {QStringList{QStringLiteral("compress"), QStringLiteral("wide.png"), QStringLiteral("out.jpg")},
          QStringList{QStringLiteral("compress"), QStringLiteral("wide.png"), QStringLiteral("out.jpg"),
                      QStringLiteral("--decoded"), QStringLiteral("out.png")}}) {
        const ProcessResult result = ftjpeg(arguments);
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(errorOf(result), QStringLiteral("ftjpeg: cannot read wide.png: a PNG image of 1000001x4 pixels is "
                                                 "beyond what libpng reads (at most 1000000 pixels a side)\n"));
    }
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
    const ProcessResult table = ftjpeg({QStringLiteral("compress"), QStringLiteral("weights_out.txt"),
                                        QStringLiteral("out.jpg"), QStringLiteral("--weights"), QStringLiteral("pipe.jpg")});
    QCOMPARE(table.exitCode, 1);
    QCOMPARE(errorOf(table), QStringLiteral("ftjpeg: cannot open weights file pipe.jpg: it is not a regular file\n"));
    QCOMPARE(bench.open(QStringLiteral("pipe.jpg")),
             (QStringList{QStringLiteral("<time> - File open failed."),
                          QStringLiteral("<time> - Cannot read %1: %2.")
                              .arg(bench.scratch.filePath(QStringLiteral("pipe.jpg")), notRegular)}));

    QFile zeros(QStringLiteral("zeros.jpg"));
    QVERIFY(zeros.open(QIODevice::WriteOnly) && zeros.resize(qint64(3) << 30));
    zeros.close();
    SKIP_ADDRESS_LIMITS_UNDER_ASAN();
    const ProcessResult result = ftjpegUnder(QStringLiteral("-v 1000000"), {QStringLiteral("info"), QStringLiteral("zeros.jpg")});
    QVERIFY(!result.crashed);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(errorOf(result), QStringLiteral("ftjpeg: cannot read zeros.jpg: not an image of a known format\n"));
}

// A folder holding an image too large for the memory left and a damaged
// one: the study measures the rest and says why each was skipped.
void DamagedInputsTest::studySkipsWhatCannotBeMeasured()
{
    ScratchDir scratch;
    QVERIFY(QDir().mkdir(QStringLiteral("in")));
    QVERIFY(smallPhoto().save(QStringLiteral("in/a.png")));
    QVERIFY(writeFileBytes(QStringLiteral("in/wide.png"), stripedPng(16384, 8192)));
    const QByteArray jpeg = encoded(smallPhoto(), "jpg", 95);
    QVERIFY(writeFileBytes(QStringLiteral("in/cut.jpg"), cutInScan(jpeg)));
    SKIP_ADDRESS_LIMITS_UNDER_ASAN();
    const ProcessResult result = ftjpegUnder(QStringLiteral("-v 1500000"), rdArguments({QStringLiteral("in")}, QStringLiteral("out")));
    QVERIFY2(!result.crashed && result.exitCode == 0, result.err.constData());
    const QString skipped = QString::fromUtf8(readFileBytes(QStringLiteral("out/skipped.csv")));
    QVERIFY2(skipped.contains(QStringLiteral("in/cut.jpg,\"cannot read in/cut.jpg: the file ends inside its image data"))
                 && skipped.contains(QStringLiteral("the file is damaged or truncated")),
             qPrintable(skipped));
    QVERIFY2(skipped.contains(QStringLiteral("in/wide.png,\"not enough memory for measuring in/wide.png (16384x8192 "
                                             "pixels): about 3072 MB are needed")),
             qPrintable(skipped));
    const QByteArray points = readFileBytes(QStringLiteral("out/points.csv"));
    QCOMPARE(points.count("in/a.png"), 42);
    QVERIFY(!points.contains("wide") && !points.contains("cut"));
    QVERIFY(result.err.contains("2 of 3 images were skipped"));
}

// Under an address-space limit the window refuses to Compress an image it
// has open, says so and goes on: with the limit lifted the same Compress
// runs.
void DamagedInputsTest::windowRefusesWorkBeyondItsMemory()
{
    Window bench;
    {
        QImage flat(2048, 2048, QImage::Format_RGB32);
        flat.fill(qRgb(90, 120, 200));
        QVERIFY(flat.save(QStringLiteral("flat.png")));
    }
    const QStringList opened = bench.open(QStringLiteral("flat.png"));
    QCOMPARE(opened.value(opened.size() - 1), QStringLiteral("<time> - File opened."));
    // Less room than Compress needs, whatever the window holds already.
    rlimit saved{};
    QVERIFY(::getrlimit(RLIMIT_AS, &saved) == 0);
    const qint64 mapped = mappedBytes();
    QVERIFY(mapped > 0);
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(mapped + (qint64(24) << 20));
    QVERIFY(::setrlimit(RLIMIT_AS, &tight) == 0);
    const int before = consoleLines(bench.window).size();
    bench.window.findChild<QPushButton *>(QStringLiteral("pushButton_3"))->click();
    const QStringList refused = normalizedConsole(bench.window).mid(before);
    QVERIFY(::setrlimit(RLIMIT_AS, &saved) == 0);

    QVERIFY2(refused.size() == 1, qPrintable(refused.join('\n')));
    QVERIFY2(refused.last().startsWith(QStringLiteral("<time> - Not enough memory for Compress of an image of "
                                                      "2048x2048 pixels: about 48 MB are needed, ")),
             qPrintable(refused.last()));
    QVERIFY(!QFile::exists(QStringLiteral("jpeg.jpg")) && !QFile::exists(QStringLiteral("hybrid.jpg")));
    bench.window.findChild<QPushButton *>(QStringLiteral("pushButton_3"))->click();
    QVERIFY(normalizedConsole(bench.window).join('\n').contains(QStringLiteral("Hybrid bpp: ")));
    QCOMPARE(paneImage(bench.window, "image_current_2").size(), QSize(2048, 2048));
}

// The decoded image of a compression, asked for as BMP or PNG, that cannot
// fit beside the source: one message, exit 1, neither file written.
void DamagedInputsTest::decodedOutputBeyondTheMemoryLeft()
{
    ScratchDir scratch;
    QVERIFY(writeFileBytes(QStringLiteral("weights_out.txt"), testWeightsFileText()));
    SKIP_ADDRESS_LIMITS_UNDER_ASAN();
    QVERIFY(writeFileBytes(QStringLiteral("big.png"), stripedPng(8192, 8192)));
    for (const QString &decoded : {QStringLiteral("d.bmp"), QStringLiteral("d.png")}) {
        const ProcessResult result =
            ftjpegUnder(QStringLiteral("-v 600000"), {QStringLiteral("compress"), QStringLiteral("big.png"),
                                                      QStringLiteral("o.jpg"), QStringLiteral("--decoded"), decoded});
        QVERIFY(!result.crashed);
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(errorOf(result).startsWith(QStringLiteral("ftjpeg: not enough memory for ")) && result.err.count('\n') == 1,
                 result.err.constData());
        QCOMPARE(folderEntries(), (QStringList{QStringLiteral("big.png"), QStringLiteral("weights_out.txt")}));
    }
}

// ftjpeg compress and a study stopped by SIGTERM or SIGINT leave no file of
// their own behind, hidden or not, and the study's earlier results stay.
void DamagedInputsTest::interruptedRunsLeaveNothing()
{
    ScratchDir scratch;
    QVERIFY(writeFileBytes(QStringLiteral("weights_out.txt"), testWeightsFileText()));
    QImage photo = loadPhoto(QStringLiteral("astronaut.png"));
    QVERIFY(photo.scaled(2048, 2048).save(QStringLiteral("src.png")));
    QVERIFY(QDir().mkdir(QStringLiteral("in")));
    QVERIFY(smallPhoto().save(QStringLiteral("in/a.png")));
    QVERIFY(photo.save(QStringLiteral("in/b.png")));
    QVERIFY(ftjpeg(rdArguments({QStringLiteral("in/a.png")}, QStringLiteral("out"))).exitCode == 0);
    const QByteArray earlierPoints = readFileBytes(QStringLiteral("out/points.csv"));
    const QStringList entries = folderEntries();

    const struct
    {
        QStringList arguments;
        int signal;
        QString sign; // a file whose appearance shows the run at work
    } runs[] = {
        {{QStringLiteral("compress"), QStringLiteral("src.png"), QStringLiteral("o.jpg"), QStringLiteral("--decoded"),
          QStringLiteral("d.png")},
         SIGTERM, QString()},
        {rdArguments({QStringLiteral("in")}, QStringLiteral("out")), SIGINT, QStringLiteral(".out.new")},
        {rdArguments({QStringLiteral("in")}, QStringLiteral("out")), SIGTERM, QStringLiteral(".out.new")},
    };
    for (const auto &run : runs) {
        QProcess process;
        process.start(binPath(QStringLiteral("ftjpeg")), run.arguments);
        QVERIFY(process.waitForStarted());
        if (!run.sign.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(run.sign), 60000);
        ::kill(pid_t(process.processId()), run.signal);
        QVERIFY(process.waitForFinished(60000));
        // Whenever the signal came, only complete outputs may be there.
        QStringList left = folderEntries();
        left.removeAll(QStringLiteral("o.jpg"));
        left.removeAll(QStringLiteral("d.png"));
        QCOMPARE(left, entries);
        QCOMPARE(readFileBytes(QStringLiteral("out/points.csv")), earlierPoints);
    }
}

// A second study on the same folder is refused while the first runs; a
// completed one replaces everything an earlier, larger run left.
void DamagedInputsTest::studyFolderIsReplacedWhole()
{
    ScratchDir scratch;
    QVERIFY(writeFileBytes(QStringLiteral("weights_out.txt"), testWeightsFileText()));
    QVERIFY(QDir().mkdir(QStringLiteral("in")));
    QVERIFY(smallPhoto().save(QStringLiteral("in/a.png")));
    QVERIFY(loadPhoto(QStringLiteral("camera.png")).copy(0, 0, 30, 20).save(QStringLiteral("in/b.png")));
    QVERIFY(loadPhoto(QStringLiteral("astronaut.png")).copy(0, 0, 48, 40).save(QStringLiteral("in/c.png")));
    QCOMPARE(ftjpeg(rdArguments({QStringLiteral("in/a.png"), QStringLiteral("in/b.png")}, QStringLiteral("out"))).exitCode, 0);
    QVERIFY(QFile::exists(QStringLiteral("out/plot-b.png")));

    // The first run is held still while it has the folder.
    QProcess first;
    first.start(binPath(QStringLiteral("ftjpeg")), rdArguments({QStringLiteral("in/c.png")}, QStringLiteral("out")));
    QVERIFY(first.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral(".out.new")), 60000);
    ::kill(pid_t(first.processId()), SIGSTOP);
    const ProcessResult second = ftjpeg(rdArguments({QStringLiteral("in/a.png")}, QStringLiteral("out")));
    QCOMPARE(second.exitCode, 1);
    QCOMPARE(errorOf(second), QStringLiteral("ftjpeg: another study (process %1) is writing to out; wait for it to "
                                             "end or choose another --out\n")
                                  .arg(first.processId()));
    ::kill(pid_t(first.processId()), SIGCONT);
    QVERIFY(first.waitForFinished(120000));
    QCOMPARE(first.exitCode(), 0);
    QCOMPARE(QDir(QStringLiteral("out")).entryList(QDir::Files | QDir::Hidden),
             (QStringList{QStringLiteral("plot-average.png"), QStringLiteral("plot-c.png"),
                          QStringLiteral("points.csv"), QStringLiteral("report.html"), QStringLiteral("shards.csv"),
                          QStringLiteral("skipped.csv"), QStringLiteral("summary.csv")}));
    QVERIFY(!readFileBytes(QStringLiteral("out/points.csv")).contains("in/a.png"));
    QCOMPARE(folderEntries(), (QStringList{QStringLiteral("in"), QStringLiteral("out"),
                                           QStringLiteral("weights_out.txt")}));

    // A folder with files no study writes is not replaced.
    QVERIFY(writeFileBytes(QStringLiteral("out/notes.txt"), "mine\n"));
    const ProcessResult refused = ftjpeg(rdArguments({QStringLiteral("in/a.png")}, QStringLiteral("out")));
    QCOMPARE(refused.exitCode, 1);
    QCOMPARE(errorOf(refused), QStringLiteral("ftjpeg: the output folder out holds notes.txt, which no study wrote; "
                                              "the folder is replaced as a whole, so choose an empty or new one\n"));
    QCOMPARE(readFileBytes(QStringLiteral("out/notes.txt")), QByteArray("mine\n"));
}

// An output naming an input of the same run, by its name, another spelling
// or a hard link, is refused before anything is read or written.
void DamagedInputsTest::outputThatIsAnInput()
{
    ScratchDir scratch;
    QVERIFY(writeFileBytes(QStringLiteral("weights_out.txt"), testWeightsFileText()));
    QVERIFY(smallPhoto().save(QStringLiteral("src.png")));
    QVERIFY(QDir().mkdir(QStringLiteral("sub")));
    QVERIFY(::link("src.png", "sub/link.png") == 0);
    const QByteArray original = readFileBytes(QStringLiteral("src.png"));
    const QStringList decodedNames{QStringLiteral("src.png"), QStringLiteral("sub/../src.png"), QStringLiteral("sub/link.png")};
    for (const QString &name : decodedNames) {
        const ProcessResult result = ftjpeg({QStringLiteral("compress"), QStringLiteral("src.png"), QStringLiteral("o.jpg"),
                                             QStringLiteral("--decoded"), name});
        QCOMPARE(result.exitCode, 2);
        QCOMPARE(errorOf(result), QStringLiteral("ftjpeg: the output %1 is the input src.png of this run (see 'ftjpeg "
                                                 "compress --help')\n")
                                      .arg(name));
    }
    const ProcessResult direct = ftjpeg({QStringLiteral("direct"), QStringLiteral("sub/link.png"), QStringLiteral("src.png")});
    QCOMPARE(direct.exitCode, 2);
    const ProcessResult table = ftjpeg({QStringLiteral("inverse"), QStringLiteral("src.png"), QStringLiteral("w.png"),
                                        QStringLiteral("--size"), QStringLiteral("80x60"), QStringLiteral("--weights"),
                                        QStringLiteral("w.png")});
    QCOMPARE(table.exitCode, 2);
    QVERIFY(errorOf(table).startsWith(QStringLiteral("ftjpeg: the output w.png is the input w.png")));
    QCOMPARE(readFileBytes(QStringLiteral("src.png")), original);
    QCOMPARE(folderEntries(), (QStringList{QStringLiteral("src.png"), QStringLiteral("sub"), QStringLiteral("weights_out.txt")}));
}

QTEST_MAIN(DamagedInputsTest)
#include "test_damagedinputs.moc"
