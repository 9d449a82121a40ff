// Broken, hostile and unwritable files and out-of-range parameters, as ftjpeg
// and the window's Open image and Compress meet them: the message, the exit
// status, the console, and that no file is lost or left half written.
#include "badinputsupport.h"
#include "commandsupport.h"
#include "codec/qimage/directtransform.h"
#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/imagefile.h"
#include "codec/qimage/inversetransform.h"
#include "codec/transform/kernel.h"
#include "referencetransforms.h"

#include <QtTest>

#include <cmath>
#include <csignal>
#include <limits>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace veltrano;

using namespace badinput;
using namespace commandtest;

namespace {

const QByteArray earlier("an earlier output, to be kept\n");

QImage smallPhoto()
{
    return loadPhoto(QStringLiteral("chelsea.png")).copy(100, 60, 40, 30);
}

// The window in a scratch folder holding a weights table, src.png and an
// opened image shown in the panes, so that what a failure keeps can be seen.
class Bench
{
public:
    Bench()
    {
        writeFileBytes(QStringLiteral("weights_out.txt"), testWeightsFileText());
        photo.save(QStringLiteral("src.png"));
        clickOpen(window, chooser, scratch.filePath(QStringLiteral("src.png")));
        start = consoleLines(window).size();
    }
    QStringList newLines() { return normalizedConsole(window).mid(start); }
    void open(const QString &name)
    {
        start = consoleLines(window).size();
        clickOpen(window, chooser, scratch.filePath(name));
    }

    ScratchDir scratch;
    QImage photo = smallPhoto();
    MainWindow window;
    FakeChooser chooser;
    int start = 0;
};

QString failureLine(const QString &reason)
{
    return QStringLiteral("<time> - ") + reason;
}

// Lets a process running as root act as an unprivileged user for the
// object's lifetime, so that permissions are enforced.
class Unprivileged
{
public:
    Unprivileged()
        : root(::geteuid() == 0)
    {
        if (root)
            switched = ::seteuid(65534) == 0;
    }
    ~Unprivileged()
    {
        if (switched && ::seteuid(0) != 0)
            qFatal("cannot return to root");
    }
    bool ok() const { return !root || switched; }

private:
    bool root;
    bool switched = false;
};

// ftjpeg run as an unprivileged user when the test runs as root (Qt refuses
// to run with only the effective user changed, so the child is started
// through setpriv).
ProcessResult ftjpegUnprivileged(const QStringList &arguments)
{
    if (::geteuid() != 0)
        return ftjpeg(arguments);
    return runProcess(QStringLiteral("setpriv"),
                      QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                  QStringLiteral("--clear-groups"), binPath(QStringLiteral("ftjpeg"))}
                          + arguments);
}

void makeOpenToAll(const QString &path)
{
    QFile::setPermissions(path, QFileDevice::Permissions(0x7777));
}

} // namespace

class BadInputsTest : public QObject
{
    Q_OBJECT

private slots:
    void unreadableImages_data();
    void unreadableImages();
    void hybridFilesTooLargeOrDamaged();
    void acceptedInputs_data();
    void acceptedInputs();
    void protectedFilesAndFolders();
    void weightsFiles_data();
    void weightsFiles();
    void tooShortWeightsTable();
    void optionsOutOfRange_data();
    void optionsOutOfRange();
    void libraryRefusesOutOfRange();
    void fileSizeLimitKeepsEarlierOutputs_data();
    void fileSizeLimitKeepsEarlierOutputs();
    void fileSizeLimitKeepsEarlierTable();
    void markingUnderAFileSizeLimit();
    void hugeAppSegmentsDecode();
};

// Files that are no image, or one too large to decode: ftjpeg direct and
// compress, ssimdiff_cygwin and the window's Open image refuse them with the
// same reason.
void BadInputsTest::unreadableImages_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");

    const QByteArray small = encoded(smallPhoto(), "jpg", 80);
    QByteArray noise;
    QRandomGenerator generator(3);
    for (int i = 0; i < 4000; ++i)
        noise += char(generator.bounded(256));
    QTest::newRow("zero bytes") << "empty.png" << QByteArray() << "the file is empty";
    QTest::newRow("random bytes") << "random.jpg" << noise << "Unsupported image format";
    QTest::newRow("truncated JPEG") << "truncated.jpg" << readFileBytes(sourcePath("tests/data/truncated.jpg"))
                                    << "Unable to read image data";
    const QByteArray huge = withFrameSize(small, 65535, 65535);
    QTest::newRow("JPEG of 65535 x 65535") << "huge.jpg" << huge
                                           << "an image of 65535x65535 pixels is too large (at most 268435456 pixels)";
    QTest::newRow("PNG of 60000 x 60000") << "huge.png" << pngDeclaring(60000, 60000)
                                          << "an image of 60000x60000 pixels is too large (at most 268435456 pixels)";
    const QByteArray garbage = withGarbageScan(withFrameSize(small, 8000, 8000), 3000);
    QTest::newRow("JPEG of 8000 x 8000 in 3 kB")
        << "damaged.jpg" << garbage
        << QStringLiteral("%1 bytes cannot hold a JPEG image of 8000x8000 pixels (at least 125000 are needed); the "
                          "file is damaged or truncated")
               .arg(garbage.size());
    // libpng would allocate the declared length before finding the file short.
    QByteArray overrun = encoded(smallPhoto(), "png");
    const int idat = overrun.indexOf("IDAT");
    QVERIFY(idat > 4);
    overrun.replace(idat - 4, 4, QByteArray("\x04\x00\x00\x00", 4));
    QTest::newRow("PNG chunk of 64 MB in a small file")
        << "overrun.png" << overrun
        << QStringLiteral("a PNG chunk of 67108864 bytes runs past the end of the file (%1 bytes); the file is "
                          "damaged or truncated")
               .arg(overrun.size());
    QTest::newRow("folder") << "folder.png" << QByteArray() << "it is a directory, not an image file";
    QTest::newRow("missing file") << "missing.png" << QByteArray() << "File not found";
}

void BadInputsTest::unreadableImages()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    Bench bench;
    if (name == QLatin1String("folder.png"))
        QVERIFY(QDir().mkdir(name));
    else if (name != QLatin1String("missing.png"))
        QVERIFY(writeFileBytes(name, content));
    QVERIFY(writeFileBytes(QStringLiteral("out.png"), earlier));
    const QStringList entries = folderEntries();

    for (const QString &command : {QStringLiteral("direct"), QStringLiteral("compress")}) {
        const QString output = command == QLatin1String("direct") ? QStringLiteral("out.png") : QStringLiteral("out.jpg");
        const ProcessResult result = ftjpeg({command, name, output});
        QCOMPARE(result.exitCode, 1);
        // compress, and direct to PNG, stream JPEG and PNG beyond the
        // in-memory limit: a frame too large for that is refused as too
        // large for its file instead, a PNG for the rows it lacks.
        QString expected = reason;
        if (name == QLatin1String("huge.jpg"))
            expected = QStringLiteral("%1 bytes cannot hold a JPEG image of 65535x65535 pixels (at least 8388608 are "
                                      "needed); the file is damaged or truncated")
                           .arg(content.size());
        if (name == QLatin1String("huge.png"))
            expected = QStringLiteral("its image data holds 0 of 60000 rows, so the bottom 60000 rows of the image "
                                      "are missing (Not enough image data); the file is damaged or truncated");
        QCOMPARE(QString::fromLocal8Bit(result.err), QStringLiteral("ftjpeg: cannot read %1: %2\n").arg(name, expected));
        QCOMPARE(result.out, QByteArray());
    }
    QCOMPARE(readFileBytes(QStringLiteral("out.png")), earlier);
    QCOMPARE(folderEntries(), entries);

    // ssimdiff_cygwin reads its images the same way, as reference or test,
    // and keeps its row aligned.
    for (const QStringList &pair :
         {QStringList{name, QStringLiteral("src.png")}, QStringList{QStringLiteral("src.png"), name}}) {
        const ProcessResult result = runProcess(binPath(QStringLiteral("ssimdiff_cygwin")),
                                                QStringList{QStringLiteral("-CC"), QStringLiteral("1")} + pair);
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.out, QByteArray("nan\tnan\n"));
        QCOMPARE(QString::fromLocal8Bit(result.err),
                 QStringLiteral("ssimdiff_cygwin: cannot read %1: %2\n").arg(name, reason));
    }

    // The window says the same in a second line and drops the earlier image;
    // the panes keep what they showed.
    bench.open(name);
    QCOMPARE(bench.newLines(),
             (QStringList{QStringLiteral("<time> - File open failed."),
                          failureLine(QStringLiteral("Cannot read %1: %2.").arg(bench.scratch.filePath(name), reason))}));
    QVERIFY(!bench.window.isImageOpened());
    QVERIFY(bench.window.openedImage().isNull());
    QCOMPARE(rgbDifference(paneImage(bench.window, "image_original"), bench.photo), QString());
    QCOMPARE(folderEntries(), entries);
}

// A hybrid file whose components would expand past the limit, or whose
// header promises far more than its data holds, is refused by decompress and
// by Open image before anything large is allocated.
void BadInputsTest::hybridFilesTooLargeOrDamaged()
{
    Bench bench;
    QByteArray hybrid = encoded(smallPhoto(), "jpg", 80);
    QVERIFY(markHybridJpegData(hybrid));
    // What decompress says, and what Open image says after its plain load
    // (both without "cannot read NAME: ").
    struct Case
    {
        QString name;
        QByteArray content;
        QString decompressReason;
        QString openReason;
    };
    const QString tooLarge = QStringLiteral("an image of 65535x65535 pixels is too large (at most 268435456 pixels)");
    const QString damaged = QStringLiteral("%1 bytes cannot hold a JPEG image of %2 pixels (at least %3 are needed); "
                                           "the file is damaged or truncated");
    const QByteArray wide = withFrameSize(hybrid, 16384, 8192);
    const QByteArray garbage = withGarbageScan(withFrameSize(hybrid, 8000, 8000), 3000);
    const QList<Case> cases{
        {QStringLiteral("huge.jpg"), withFrameSize(hybrid, 65535, 65535),
         QStringLiteral("cannot decode huge.jpg: its 65535x65535 components would expand to 131070x131070 pixels, "
                        "more than 268435456"),
         tooLarge},
        // Within the limit for a plain load, not for its expansion.
        {QStringLiteral("wide.jpg"), wide,
         QStringLiteral("cannot decode wide.jpg: its 16384x8192 components would expand to 32768x16384 pixels, "
                        "more than 268435456"),
         damaged.arg(wide.size()).arg(QStringLiteral("16384x8192")).arg(262144)},
        {QStringLiteral("damaged.jpg"), garbage,
         QStringLiteral("cannot read damaged.jpg: ") + damaged.arg(garbage.size()).arg(QStringLiteral("8000x8000")).arg(125000),
         damaged.arg(garbage.size()).arg(QStringLiteral("8000x8000")).arg(125000)},
    };
    // Decoded to BMP, which is written in memory, so that the in-memory
    // path's refusals are seen (a streamed output meets the file's).
    for (const Case &c : cases) {
        QVERIFY(writeFileBytes(c.name, c.content));
        QVERIFY(isHybridJpeg(c.content.left(13)));
        QVERIFY(writeFileBytes(QStringLiteral("out.bmp"), earlier));
        const QStringList entries = folderEntries();
        const ProcessResult result = ftjpeg({QStringLiteral("decompress"), c.name, QStringLiteral("out.bmp")});
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(QString::fromLocal8Bit(result.err), QStringLiteral("ftjpeg: ") + c.decompressReason + '\n');
        QCOMPARE(readFileBytes(QStringLiteral("out.bmp")), earlier);
        QCOMPARE(folderEntries(), entries);

        bench.open(c.name);
        QCOMPARE(bench.newLines(),
                 (QStringList{QStringLiteral("<time> - File open failed."),
                              failureLine(QStringLiteral("Cannot read %1: %2.").arg(bench.scratch.filePath(c.name),
                                                                                   c.openReason))}));
        QVERIFY(!bench.window.isImageOpened());
        QCOMPARE(rgbDifference(paneImage(bench.window, "image_original"), bench.photo), QString());
        QCOMPARE(folderEntries(), entries);
    }
}

// Inputs that look odd but are images: a PNG with alpha (ignored), an
// indexed image and a write-protected file are transformed exactly as their
// pixel() values say, and open in the window.
void BadInputsTest::acceptedInputs_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("writeProtected");

    QImage alpha = smallPhoto().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < alpha.height(); ++y)
        for (int x = 0; x < alpha.width(); ++x)
            alpha.setPixel(x, y, (alpha.pixel(x, y) & 0xFFFFFF) | (quint32((x * 7 + y * 3) % 256) << 24));
    QTest::newRow("PNG with alpha") << "alpha.png" << encoded(alpha, "png") << false;
    QTest::newRow("indexed PNG") << "palette.png" << readFileBytes(sourcePath("tests/data/palette_color.png")) << false;
    QTest::newRow("write-protected JPEG") << "protected.jpg" << encoded(smallPhoto(), "jpg", 90) << true;
}

void BadInputsTest::acceptedInputs()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(bool, writeProtected);
    Bench bench;
    QVERIFY(writeFileBytes(name, content));
    if (writeProtected)
        QVERIFY(QFile::setPermissions(name, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    QImage expectedSource;
    QVERIFY(expectedSource.load(name));
    QVERIFY(expectedSource.width() >= 2 && expectedSource.height() >= 2);

    const ProcessResult result = ftjpeg({QStringLiteral("direct"), name, QStringLiteral("out.png")});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.err, QByteArray());
    const QImage components(QStringLiteral("out.png"));
    const QImage expected = referenceDirectFTransform(expectedSource, 2, makeRaisedCosineKernel(2));
    QCOMPARE(rgbDifference(components, expected), QString());
    QVERIFY(components.pixel(0, 0) >> 24 == 0xFF);
    QCOMPARE(readFileBytes(name), content);

    bench.open(name);
    QStringList lines{QStringLiteral("<time> - File opened.")};
    if (name.endsWith(QLatin1String(".jpg")))
        lines << QStringLiteral("<time> - It is a standard JPEG image.");
    QCOMPARE(bench.newLines(), lines);
    QVERIFY(bench.window.isImageOpened());
    // Shown as it is (a transparent pixel shows no colour).
    if (expectedSource.hasAlphaChannel())
        QCOMPARE(paneImage(bench.window, "image_original").size(), expectedSource.size());
    else
        QCOMPARE(rgbDifference(paneImage(bench.window, "image_original"), expectedSource), QString());
}

// A write-protected output file and a working folder nobody may write:
// ftjpeg fails naming the file, the window reports it, nothing is replaced.
void BadInputsTest::protectedFilesAndFolders()
{
    Bench bench;
    makeOpenToAll(bench.scratch.path());
    QVERIFY(writeFileBytes(QStringLiteral("out.png"), earlier));
    QVERIFY(writeFileBytes(QStringLiteral("jpeg.jpg"), earlier));
    const QFileDevice::Permissions readOnly = QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    QVERIFY(QFile::setPermissions(QStringLiteral("out.png"), readOnly));
    QVERIFY(QFile::setPermissions(QStringLiteral("jpeg.jpg"), readOnly));
    const ProcessResult result =
        ftjpegUnprivileged({QStringLiteral("direct"), QStringLiteral("src.png"), QStringLiteral("out.png")});
    QCOMPARE(result.err, QByteArray("ftjpeg: cannot write out.png: Existing file out.png is not writable\n"));
    QCOMPARE(result.exitCode, 1);
    {
        Unprivileged user;
        if (!user.ok())
            QSKIP("cannot act as an unprivileged user to enforce permissions");
        bench.start = consoleLines(bench.window).size();
        clickCompress(bench.window);
    }
    QCOMPARE(readFileBytes(QStringLiteral("out.png")), earlier);
    QCOMPARE(readFileBytes(QStringLiteral("jpeg.jpg")), earlier);
    QStringList lines = bench.newLines();
    QVERIFY(lines.size() >= 1);
    QCOMPARE(lines.at(0), failureLine(QStringLiteral("Cannot write jpeg.jpg: Existing file jpeg.jpg is not writable.")));
    QVERIFY(!lines.join('\n').contains(QLatin1String("JPEG bpp")));

    // The folder itself write-protected: no file can be made in it.
    for (const QString &name : {QStringLiteral("hybrid.jpg"), QStringLiteral("hybrid_decompressed.bmp")})
        QFile::remove(name);
    QVERIFY(QFile::setPermissions(QStringLiteral("out.png"), QFileDevice::Permissions(0x6666)));
    QVERIFY(QFile::setPermissions(QStringLiteral("jpeg.jpg"), QFileDevice::Permissions(0x6666)));
    QVERIFY(writeFileBytes(QStringLiteral("out_hdr_test_ftih.csv"), earlier));
    QVERIFY(QFile::setPermissions(QStringLiteral("out_hdr_test_ftih.csv"), QFileDevice::Permissions(0x6666)));
    const QStringList before = folderEntries();
    QVERIFY(QFile::setPermissions(bench.scratch.path(), QFileDevice::Permissions(0x5555)));
    // The HDR table exists and may be written: it is, in place (its images
    // are missing, so every row is NaN and the run reports that).
    const ProcessResult evaluate = ftjpegUnprivileged({QStringLiteral("batch"), QStringLiteral("evaluate")});
    const ProcessResult direct =
        ftjpegUnprivileged({QStringLiteral("direct"), QStringLiteral("src.png"), QStringLiteral("new.png")});
    const ProcessResult compress =
        ftjpegUnprivileged({QStringLiteral("compress"), QStringLiteral("src.png"), QStringLiteral("new.jpg")});
    {
        Unprivileged user;
        bench.start = consoleLines(bench.window).size();
        clickCompress(bench.window);
    }
    makeOpenToAll(bench.scratch.path());
    QCOMPARE(direct.exitCode, 1);
    QCOMPARE(direct.err, QByteArray("ftjpeg: cannot write new.png: Permission denied\n"));
    QCOMPARE(compress.exitCode, 1);
    QCOMPARE(compress.err, QByteArray("ftjpeg: cannot write new.jpg: Permission denied\n"));
    QVERIFY2(!evaluate.err.contains("cannot write") && !evaluate.out.contains("cannot open"), evaluate.err.constData());
    const QByteArray table = readFileBytes(QStringLiteral("out_hdr_test_ftih.csv"));
    QCOMPARE(table.count('\n'), 97);
    QVERIFY(table.startsWith("4;0;4;70;nan;nan\n"));
    lines = bench.newLines();
    QCOMPARE(lines, (QStringList{failureLine(QStringLiteral("Cannot write jpeg.jpg: Permission denied.")),
                                 failureLine(QStringLiteral("Cannot write hybrid.jpg: Permission denied."))}));
    QCOMPARE(folderEntries(), before);
    QCOMPARE(readFileBytes(QStringLiteral("jpeg.jpg")), earlier);
}

// Weights files with lines that are no plain number: each such line is the
// entry 0.0 (a non-finite entry is kept and gives black pixels, never an
// undefined value), checked pixel for pixel against the slow expansion with
// the table written out by hand.
void BadInputsTest::weightsFiles_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("changed");
    QTest::addColumn<float>("entry");

    // 21 lines 1 - i / 40 but for line `changed`.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    auto table = [](int changed, const QByteArray &line, const QByteArray &end = "\n") {
        QByteArray text;
        for (int i = 0; i <= 20; ++i)
            text += (i == changed ? line : QByteArray::number(1.0 - i / 40.0)) + end;
        return text;
    };
    QTest::newRow("text") << table(10, "half") << 10 << 0.0f;
    QTest::newRow("decimal comma") << table(10, "0,5") << 10 << 0.0f;
    QTest::newRow("empty line") << table(0, "") << 0 << 0.0f;
    QTest::newRow("1e39") << table(10, "1e39") << 10 << 0.0f;
    QTest::newRow("NaN") << table(10, "nan") << 10 << nan;
    QTest::newRow("infinity") << table(0, "inf") << 0 << inf;
    QTest::newRow("CR LF and spaces") << table(10, "  0.5 ", "\r\n") << 10 << 0.5f;
}

void BadInputsTest::weightsFiles()
{
    QFETCH(QByteArray, text);
    QFETCH(int, changed);
    QFETCH(float, entry);
    ScratchDir scratch;
    QList<float> weights;
    for (int i = 0; i <= 20; ++i)
        weights.append(i == changed ? entry : float(1.0 - i / 40.0));
    QVERIFY(writeFileBytes(QStringLiteral("w.txt"), text));
    const QImage components = smallPhoto().copy(0, 0, 9, 7);
    QVERIFY(components.save(QStringLiteral("c.png")));

    const ProcessResult result = ftjpeg({QStringLiteral("inverse"), QStringLiteral("c.png"), QStringLiteral("out.png"),
                                         QStringLiteral("--size"), QStringLiteral("18x13"), QStringLiteral("--weights"),
                                         QStringLiteral("w.txt")});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.err, QByteArray());
    const QImage expected = referenceInverseFTransform(QImage(QStringLiteral("c.png")), 18, 13, 2, 1, weights);
    const QImage expanded(QStringLiteral("out.png"));
    QCOMPARE(firstPixelDifference(expanded.convertToFormat(QImage::Format_ARGB32), expected), QString());
    // Every row and column sees entry 0 or 10, so the changed entry shows.
    if (!std::isfinite(entry) || entry == 0.0f)
        QCOMPARE(expected.pixel(changed == 0 ? 0 : 1, changed == 0 ? 0 : 1), 0xFF000000u);
}

// Too few lines: ftjpeg names the file and both counts; the window's Compress
// says why the hybrid side failed and prints no bit rates.
void BadInputsTest::tooShortWeightsTable()
{
    Bench bench;
    QVERIFY(writeFileBytes(QStringLiteral("weights_out.txt"), "1\n0.5\n"));
    QVERIFY(writeFileBytes(QStringLiteral("h.jpg"), earlier));
    const ProcessResult result = ftjpeg({QStringLiteral("compress"), QStringLiteral("src.png"), QStringLiteral("h.jpg")});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.err,
             QByteArray("ftjpeg: the weights table of weights_out.txt has 2 entries, but step 2 and radius 1 need 11\n"));
    QCOMPARE(readFileBytes(QStringLiteral("h.jpg")), earlier);

    clickCompress(bench.window);
    QCOMPARE(bench.newLines(),
             (QStringList{failureLine(QStringLiteral("The weights table has 2 entries, but step 2 and radius 1 need 11."))}));
    QVERIFY(!QFile::exists(QStringLiteral("hybrid.jpg")));
    QVERIFY(paneImage(bench.window, "image_current_2").isNull());
}

// Option values outside their ranges are usage errors (exit 2) that name the
// option and the value; nothing is read or written.
void BadInputsTest::optionsOutOfRange_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    const QString in = QStringLiteral("src.png");
    const QString out = QStringLiteral("out.png");
    QTest::newRow("step 0") << QStringList{"direct", in, out, "--step", "0"}
                            << "--step must be an integer from 1 to 1048576, not '0' (see 'ftjpeg direct --help')";
    QTest::newRow("step -1") << QStringList{"direct", in, out, "--step", "-1"}
                             << "--step must be an integer from 1 to 1048576, not '-1' (see 'ftjpeg direct --help')";
    QTest::newRow("kernel radius 0") << QStringList{"direct", in, out, "--radius", "0"}
                                     << "--radius must be an integer from 1 to 1048576, not '0' (see 'ftjpeg direct --help')";
    QTest::newRow("inverse radius -1")
        << QStringList{"inverse", in, out, "--size", "8x8", "--radius", "-1"}
        << "--radius must be an integer from 0 to 1048576, not '-1' (see 'ftjpeg inverse --help')";
    QTest::newRow("inverse step 0") << QStringList{"inverse", in, out, "--size", "8x8", "--step", "0"}
                                    << "--step must be an integer from 1 to 1048576, not '0' (see 'ftjpeg inverse --help')";
    QTest::newRow("quality -1") << QStringList{"compress", in, "out.jpg", "--quality", "-1"}
                                << "--quality must be an integer from 0 to 100, not '-1' (see 'ftjpeg compress --help')";
    QTest::newRow("quality 101") << QStringList{"compress", in, "out.jpg", "--quality", "101"}
                                 << "--quality must be an integer from 0 to 100, not '101' (see 'ftjpeg compress --help')";
    const QString sizeMessage = QStringLiteral("--size must be WIDTHxHEIGHT, both positive and at most 268435456 "
                                               "pixels in all, not '%1' (see 'ftjpeg inverse --help')");
    QTest::newRow("size 0x5") << QStringList{"inverse", in, out, "--size", "0x5"} << sizeMessage.arg("0x5");
    // Beyond the in-memory limit for a format written in memory.
    QTest::newRow("size 16385x16384") << QStringList{"inverse", in, "out.bmp", "--size", "16385x16384"}
                                      << sizeMessage.arg("16385x16384");
    QTest::newRow("size beyond int") << QStringList{"inverse", in, out, "--size", "99999999999x2"}
                                     << sizeMessage.arg("99999999999x2");
}

void BadInputsTest::optionsOutOfRange()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    ScratchDir scratch;
    QVERIFY(smallPhoto().save(QStringLiteral("src.png")));
    QVERIFY(writeFileBytes(QStringLiteral("weights_out.txt"), testWeightsFileText()));
    const QStringList entries = folderEntries();
    const ProcessResult result = ftjpeg(arguments);
    QCOMPARE(result.exitCode, 2);
    QCOMPARE(QString::fromLocal8Bit(result.err), QStringLiteral("ftjpeg: ") + message + '\n');
    QCOMPARE(folderEntries(), entries);
}

// The library refuses the same values itself rather than passing them on or
// clamping them.
void BadInputsTest::libraryRefusesOutOfRange()
{
    ScratchDir scratch;
    const QImage photo = smallPhoto();
    QVERIFY(makeRaisedCosineKernel(0).isEmpty());
    QVERIFY(makeRaisedCosineKernel(-3).isEmpty());
    QCOMPARE(makeRaisedCosineKernel(1).size(), 2);
    QVERIFY(directFTransform(photo, 0, makeRaisedCosineKernel(2)).isNull());
    QVERIFY(directFTransform(photo, -1, makeRaisedCosineKernel(2)).isNull());
    QVERIFY(directFTransform(photo, 2, QList<float>()).isNull());
    QVERIFY(!directFTransform(photo, 1, makeRaisedCosineKernel(1)).isNull());

    QList<float> weights;
    for (int i = 0; i <= 40; ++i)
        weights.append(1.0f - i / 40.0f);
    const QImage components = photo.copy(0, 0, 5, 4);
    QString error;
    QVERIFY(inverseFTransform(components, 10, 8, 2, -1, weights, &error).isNull());
    QVERIFY(!error.isEmpty());
    error.clear();
    QVERIFY(inverseFTransform(components, 10, 8, 0, 1, weights, &error).isNull());
    QCOMPARE(error, QStringLiteral("invalid node spacing 0 (must be from 1 to 1048576)"));
    // A spacing beyond the limit would only ask for working memory in
    // proportion; the limit itself works.
    QVERIFY(inverseFTransform(components, 10, 8, (1 << 20) + 1, 1, weights, &error).isNull());
    QCOMPARE(error, QStringLiteral("invalid node spacing 1048577 (must be from 1 to 1048576)"));
    QVERIFY(inverseFTransform(components, 10, 8, 1 << 30, 1, weights, &error).isNull());
    const QImage farNodes = inverseFTransform(components, 10, 8, 1 << 20, 1, weights, &error);
    QVERIFY2(!farNodes.isNull(), qPrintable(error));
    QCOMPARE(farNodes, referenceInverseFTransform(components, 10, 8, 1 << 20, 1, weights));
    QVERIFY(inverseFTransform(components, 0, 8, 2, 1, weights, &error).isNull());
    QVERIFY(!inverseFTransform(components, 10, 8, 2, 0, weights, &error).isNull());

    // A quality outside 0..100 writes nothing and keeps an earlier file.
    QVERIFY(writeFileBytes(QStringLiteral("hybrid.jpg"), earlier));
    for (int quality : {-5, -1, 101, 200}) {
        error.clear();
        QVERIFY(compressHybrid(photo, quality, weights, &error).isNull());
        QCOMPARE(error, QStringLiteral("cannot write hybrid.jpg: JPEG quality %1 is outside 0 to 100").arg(quality));
        QCOMPARE(readFileBytes(QStringLiteral("hybrid.jpg")), earlier);
    }
    QCOMPARE(folderEntries(), QStringList{QStringLiteral("hybrid.jpg")});
    for (int quality : {0, 100}) {
        QVERIFY2(!compressHybrid(photo, quality, weights, &error).isNull(), qPrintable(error));
        QVERIFY(isHybridJpeg(readFileBytes(QStringLiteral("hybrid.jpg")).left(13)));
    }
}

// Under a file-size limit of 512 bytes, smaller than every output, each
// subcommand fails with the reason, keeps the earlier file byte for byte and
// leaves no temporary file.
void BadInputsTest::fileSizeLimitKeepsEarlierOutputs_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("output");
    QTest::newRow("compress") << QStringList{"compress", "src.png", "out.jpg"} << "out.jpg";
    QTest::newRow("compress --decoded") << QStringList{"compress", "src.png", "out.jpg", "--decoded", "out.bmp"}
                                        << "out.bmp";
    QTest::newRow("decompress") << QStringList{"decompress", "hybrid.jpg", "out.bmp"} << "out.bmp";
    QTest::newRow("direct") << QStringList{"direct", "src.png", "out.ppm"} << "out.ppm";
    QTest::newRow("inverse") << QStringList{"inverse", "src.png", "out.png", "--size", "80x60"} << "out.png";
    // Streamed: the limit is met while rows are still being decoded ahead.
    QTest::newRow("decompress streamed") << QStringList{"decompress", "large.jpg", "out.ppm"} << "out.ppm";
    QTest::newRow("inverse streamed") << QStringList{"inverse", "large.png", "out.ppm", "--size", "1200x800"}
                                      << "out.ppm";
    // Through libpng's output callback, which longjmps out of the encoder.
    QTest::newRow("decompress streamed png") << QStringList{"decompress", "large.jpg", "out.png"} << "out.png";
}

void BadInputsTest::fileSizeLimitKeepsEarlierOutputs()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, output);
    ScratchDir scratch;
    QVERIFY(smallPhoto().save(QStringLiteral("src.png")));
    QVERIFY(writeFileBytes(QStringLiteral("weights_out.txt"), testWeightsFileText()));
    QVERIFY(ftjpeg({QStringLiteral("compress"), QStringLiteral("src.png"), QStringLiteral("hybrid.jpg")}).exitCode == 0);
    QVERIFY(loadPhoto(QStringLiteral("astronaut.png")).copy(0, 0, 600, 400).save(QStringLiteral("large.png")));
    QVERIFY(ftjpeg({QStringLiteral("compress"), QStringLiteral("large.png"), QStringLiteral("large.jpg")}).exitCode == 0);
    // The earlier outputs are good files written without a limit.
    QCOMPARE(ftjpeg(arguments).exitCode, 0);
    const QByteArray good = readFileBytes(output);
    const QByteArray goodJpeg = readFileBytes(QStringLiteral("out.jpg"));
    QVERIFY(good.size() > 512);
    const QStringList entries = folderEntries();

    const ProcessResult result = ftjpegLimited(1, arguments);
    QCOMPARE(result.exitCode, 1);
    QVERIFY(!result.crashed);
    QVERIFY2(result.err.startsWith("ftjpeg: cannot write out.") && result.err.endsWith(": File too large\n")
                 && result.err.count('\n') == 1,
             result.err.constData());
    QCOMPARE(result.out, QByteArray());
    QCOMPARE(readFileBytes(output), good);
    QCOMPARE(readFileBytes(QStringLiteral("out.jpg")), goodJpeg);
    QCOMPARE(folderEntries(), entries);
}

// The HDR evaluation's table is replaced only by a complete one.
void BadInputsTest::fileSizeLimitKeepsEarlierTable()
{
    ScratchDir scratch;
    QVERIFY(QDir().mkdir(QStringLiteral("out")));
    QImage grey(16, 16, QImage::Format_RGB32);
    grey.fill(qRgb(90, 90, 90));
    QVERIFY(grey.save(QStringLiteral("out/hdr.ppm"), "ppm"));
    for (int i = 4; i <= 100; ++i)
        QVERIFY(grey.save(QStringLiteral("out/hdr_decompressed_ftih_4_0_%1_70.png").arg(i), "png"));
    const QByteArray table(600, 'x');
    QVERIFY(writeFileBytes(QStringLiteral("out_hdr_test_ftih.csv"), table));
    const QStringList entries = folderEntries();
    const ProcessResult result = ftjpegLimited(1, {QStringLiteral("batch"), QStringLiteral("evaluate")});
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains("cannot write out_hdr_test_ftih.csv"), result.err.constData());
    QCOMPARE(readFileBytes(QStringLiteral("out_hdr_test_ftih.csv")), table);
    QCOMPARE(folderEntries(), entries);

    // Without the limit the whole table is written.
    QCOMPARE(ftjpeg({QStringLiteral("batch"), QStringLiteral("evaluate")}).exitCode, 0);
    QCOMPARE(readFileBytes(QStringLiteral("out_hdr_test_ftih.csv")).count('\n'), 97);
}

// Marking in place under a file-size limit: the file is marked or untouched,
// never shortened or otherwise changed, whether the limit's signal kills the
// process or is ignored.
void BadInputsTest::markingUnderAFileSizeLimit()
{
    ScratchDir scratch;
    const QByteArray plain = encoded(smallPhoto(), "jpg", 80);
    QVERIFY(!isHybridJpeg(plain.left(13)));
    QByteArray marked = plain;
    QVERIFY(markHybridJpegData(marked));
    for (const rlim_t limit : {rlim_t(0), rlim_t(8), rlim_t(13), rlim_t(512)}) {
        for (const bool ignoreSignal : {false, true}) {
            QVERIFY(writeFileBytes(QStringLiteral("f.jpg"), plain));
            const pid_t child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                std::signal(SIGXFSZ, ignoreSignal ? SIG_IGN : SIG_DFL);
                const rlimit size{limit, limit};
                if (::setrlimit(RLIMIT_FSIZE, &size) != 0)
                    ::_exit(3);
                markHybridJpeg(QStringLiteral("f.jpg"));
                ::_exit(0);
            }
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            QVERIFY(!WIFEXITED(status) || WEXITSTATUS(status) == 0);
            const QByteArray after = readFileBytes(QStringLiteral("f.jpg"));
            QVERIFY2(after == plain || after == marked, qPrintable(QStringLiteral("limit %1").arg(limit)));
            // A write at offset 12 is beyond a limit of 12 bytes or fewer.
            if (limit <= 12)
                QCOMPARE(after, plain);
            else
                QCOMPARE(after, marked);
        }
    }
    QCOMPARE(folderEntries(), QStringList{QStringLiteral("f.jpg")});
}

// A JPEG with several megabytes of application segments before its frame is
// measured and decoded like the plain one.
void BadInputsTest::hugeAppSegmentsDecode()
{
    Bench bench;
    const QByteArray plain = encoded(bench.photo, "jpg", 85);
    QVERIFY(writeFileBytes(QStringLiteral("plain.jpg"), plain));
    QVERIFY(writeFileBytes(QStringLiteral("padded.jpg"), withHugeAppSegments(plain, 40)));
    QCOMPARE(readImageSize(QStringLiteral("padded.jpg")), bench.photo.size());
    const QImage decoded(QStringLiteral("plain.jpg"));
    QVERIFY(!decoded.isNull());

    const ProcessResult result = ftjpeg({QStringLiteral("direct"), QStringLiteral("padded.jpg"), QStringLiteral("out.png")});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(rgbDifference(QImage(QStringLiteral("out.png")),
                           referenceDirectFTransform(decoded, 2, makeRaisedCosineKernel(2))),
             QString());
    bench.open(QStringLiteral("padded.jpg"));
    QCOMPARE(bench.newLines(), (QStringList{QStringLiteral("<time> - File opened."),
                                            QStringLiteral("<time> - It is a standard JPEG image.")}));
    QCOMPARE(rgbDifference(paneImage(bench.window, "image_original"), decoded), QString());
}

QTEST_MAIN(BadInputsTest)
#include "test_badinputs.moc"
