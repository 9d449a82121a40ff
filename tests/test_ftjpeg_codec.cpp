#include "codectestsupport.h"
#include "codec/qimage/directtransform.h"
#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/inversetransform.h"
#include "codec/transform/kernel.h"
#include "testsupport.h"
#include "codec/transform/weightsfile.h"

#include <QtTest>

using namespace veltrano;

namespace {

const QByteArray sentinel("an earlier result that must survive\n");

QImage asArgb(const QImage &image)
{
    return image.convertToFormat(QImage::Format_ARGB32);
}

QString describe(const ProcessResult &result)
{
    return QStringLiteral("exit %1, stdout '%2', stderr '%3'")
        .arg(result.exitCode)
        .arg(QString::fromLocal8Bit(result.out), QString::fromLocal8Bit(result.err));
}

} // namespace

// ftjpeg's codec subcommands run as processes in one prepared folder.
class TestFtjpegCodec : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void directWritesTheComponentImage_data();
    void directWritesTheComponentImage();
    void inverseExpandsWithTheWeightsFile();
    void compressWritesTheHybridFileAndPrintsBitsPerPixel_data();
    void compressWritesTheHybridFileAndPrintsBitsPerPixel();
    void decompressDecodesAsTheLibraryDoes();
    void infoTellsTheKindsOfFilesApart();
    void helpAndVersion();
    void streamedCommandsRunWithoutQtGui();

    void failures_data();
    void failures();
    void failedDecodedWriteKeepsTheHybridFile();

private:
    ProcessResult ftjpeg(const QStringList &arguments) const;
    QString path(const QString &name) const { return folder.filePath(name); }

    QTemporaryDir folder;
    QImage source;
    QList<float> weights;
};

ProcessResult TestFtjpegCodec::ftjpeg(const QStringList &arguments) const
{
    return runProcess(binPath(QStringLiteral("ftjpeg")), arguments, folder.path());
}

void TestFtjpegCodec::initTestCase()
{
    QVERIFY(folder.isValid());
    QVERIFY(QFileInfo::exists(binPath(QStringLiteral("ftjpeg"))));
    // Odd width and height, so every border rule takes part.
    source = loadPhoto(QStringLiteral("chelsea.png")).copy(150, 60, 81, 57);
    QVERIFY(source.save(path(QStringLiteral("in.png"))));
    QVERIFY(loadPhoto(QStringLiteral("camera.png")).copy(0, 0, 1, 1).save(path(QStringLiteral("tiny.png"))));
    QVERIFY(writeFileBytes(path(QStringLiteral("weights_out.txt")), testWeightsFileText()));
    QVERIFY(loadWeightsTable(path(QStringLiteral("weights_out.txt")), weights));
    QCOMPARE(weights.size(), 21);
    QVERIFY(writeFileBytes(path(QStringLiteral("short.txt")), "1\n0.5\n0.25\n0\n"));
    QVERIFY(writeFileBytes(path(QStringLiteral("standard.jpg")), encodeJpeg(source, 80)));
    QVERIFY(writeFileBytes(path(QStringLiteral("hybrid.jpg")), referenceHybridFile(source, 70)));
    QVERIFY(writeFileBytes(path(QStringLiteral("huge.jpg")), withFrameSize(referenceHybridFile(source, 70), 65535, 65535)));
    QVERIFY(writeFileBytes(path(QStringLiteral("broken.jpg")), readFileBytes(photoPath(QStringLiteral("truncated.jpg")))));
}

void TestFtjpegCodec::directWritesTheComponentImage_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("radius");
    QTest::addColumn<QString>("output");
    QTest::newRow("defaults, png") << QStringList() << 2 << 2 << QStringLiteral("c.png");
    QTest::newRow("step 3 radius 4, ppm")
        << QStringList{QStringLiteral("--step"), QStringLiteral("3"), QStringLiteral("--radius"), QStringLiteral("4")}
        << 3 << 4 << QStringLiteral("c.ppm");
    QTest::newRow("step 1 radius 1, bmp")
        << QStringList{QStringLiteral("--radius=1"), QStringLiteral("--step=1")} << 1 << 1 << QStringLiteral("c.bmp");
}

void TestFtjpegCodec::directWritesTheComponentImage()
{
    QFETCH(QStringList, options);
    QFETCH(int, step);
    QFETCH(int, radius);
    QFETCH(QString, output);
    const ProcessResult result = ftjpeg(QStringList{QStringLiteral("direct"), QStringLiteral("in.png"), output} + options);
    QVERIFY2(result.exitCode == 0 && !result.crashed, qPrintable(describe(result)));
    QCOMPARE(result.out, QByteArray());
    QCOMPARE(result.err, QByteArray());
    const QImage written(path(output));
    QVERIFY(!written.isNull());
    const QImage expected = directFTransform(QImage(path(QStringLiteral("in.png"))), step, makeRaisedCosineKernel(radius));
    QCOMPARE(asArgb(written), expected);
}

void TestFtjpegCodec::inverseExpandsWithTheWeightsFile()
{
    const QImage components = directFTransform(source, 2, makeRaisedCosineKernel(2));
    QVERIFY(components.save(path(QStringLiteral("components.png"))));

    // Defaults: step 2, radius 1, weights_out.txt of the working directory.
    ProcessResult result = ftjpeg({QStringLiteral("inverse"), QStringLiteral("components.png"),
                                   QStringLiteral("expanded.png"), QStringLiteral("--size"), QStringLiteral("81x57")});
    QVERIFY2(result.exitCode == 0, qPrintable(describe(result)));
    QCOMPARE(result.out, QByteArray());
    QCOMPARE(asArgb(QImage(path(QStringLiteral("expanded.png")))),
             inverseFTransform(components, 81, 57, 2, 1, weights));

    // Another geometry and weights file: ten entries 0.1 .. 1.0 and more.
    QByteArray text;
    QList<float> other;
    for (int i = 0; i <= 40; ++i) {
        other.append(float(0.05 + (i % 7) * 0.125));
        text += QByteArray::number(double(other.last()), 'g', 9) + "\r\n";
    }
    QVERIFY(writeFileBytes(path(QStringLiteral("other.txt")), text));
    result = ftjpeg({QStringLiteral("inverse"), QStringLiteral("components.png"), QStringLiteral("expanded.bmp"),
                     QStringLiteral("--size=100x90"), QStringLiteral("--step=3"), QStringLiteral("--radius=2"),
                     QStringLiteral("--weights"), QStringLiteral("other.txt")});
    QVERIFY2(result.exitCode == 0, qPrintable(describe(result)));
    QList<float> read;
    QVERIFY(loadWeightsTable(path(QStringLiteral("other.txt")), read));
    QCOMPARE(asArgb(QImage(path(QStringLiteral("expanded.bmp")))),
             inverseFTransform(components, 100, 90, 3, 2, read));

    // Radius 0 is allowed: every pixel on a node keeps its component.
    result = ftjpeg({QStringLiteral("inverse"), QStringLiteral("components.png"), QStringLiteral("zero.png"),
                     QStringLiteral("--size=10x10"), QStringLiteral("--radius=0")});
    QVERIFY2(result.exitCode == 0, qPrintable(describe(result)));
    QCOMPARE(asArgb(QImage(path(QStringLiteral("zero.png")))), inverseFTransform(components, 10, 10, 2, 0, weights));
}

void TestFtjpegCodec::compressWritesTheHybridFileAndPrintsBitsPerPixel_data()
{
    QTest::addColumn<int>("quality");
    QTest::addColumn<QStringList>("options");
    QTest::newRow("default quality 70") << 70 << QStringList();
    QTest::newRow("quality 35") << 35 << QStringList{QStringLiteral("--quality"), QStringLiteral("35")};
    QTest::newRow("quality 100") << 100 << QStringList{QStringLiteral("--quality=100")};
}

void TestFtjpegCodec::compressWritesTheHybridFileAndPrintsBitsPerPixel()
{
    QFETCH(int, quality);
    QFETCH(QStringList, options);
    const QStringList before = folderEntries(folder.path());
    QFile::remove(path(QStringLiteral("out.jpg")));
    QFile::remove(path(QStringLiteral("decoded.png")));
    const ProcessResult result = ftjpeg(QStringList{QStringLiteral("compress"), QStringLiteral("in.png"),
                                                    QStringLiteral("out.jpg"), QStringLiteral("--decoded"),
                                                    QStringLiteral("decoded.png")}
                                        + options);
    QVERIFY2(result.exitCode == 0 && !result.crashed, qPrintable(describe(result)));
    QCOMPARE(result.err, QByteArray());

    // The library's own result, in process.
    ScratchDir scratch;
    QString error;
    const QImage expected = compressHybrid(QImage(path(QStringLiteral("in.png"))), quality, weights, &error);
    QVERIFY2(!expected.isNull(), qPrintable(error));
    const QByteArray expectedFile = readFileBytes(QStringLiteral("hybrid.jpg"));
    const QByteArray file = readFileBytes(path(QStringLiteral("out.jpg")));
    QVERIFY(sameJpegStream(file, expectedFile));
    QVERIFY(sameJpegStream(file, referenceHybridFile(source, quality)));

    QCOMPARE(QImage(path(QStringLiteral("decoded.png"))).convertToFormat(QImage::Format_ARGB32), expected);

    const double bitsPerPixel = double(float(qint64(file.size()) * 8)) / double(source.width() * source.height());
    QCOMPARE(result.out, QString::number(bitsPerPixel, 'g', 6).toLatin1() + '\n');

    // Nothing else is left in the folder: no staging or temporary files.
    QStringList after = folderEntries(folder.path());
    QStringList expectedEntries = before;
    expectedEntries << QStringLiteral("out.jpg") << QStringLiteral("decoded.png");
    expectedEntries.removeDuplicates();
    expectedEntries.sort();
    QCOMPARE(after, expectedEntries);
}

void TestFtjpegCodec::decompressDecodesAsTheLibraryDoes()
{
    const ProcessResult result =
        ftjpeg({QStringLiteral("decompress"), QStringLiteral("hybrid.jpg"), QStringLiteral("decoded.ppm")});
    QVERIFY2(result.exitCode == 0 && !result.crashed, qPrintable(describe(result)));
    QCOMPARE(result.out, QByteArray());
    QCOMPARE(result.err, QByteArray());
    const QImage written(path(QStringLiteral("decoded.ppm")));
    QCOMPARE(written.size(), QSize(80, 56));
    QString error;
    const QImage expected = decompressHybrid(path(QStringLiteral("hybrid.jpg")), weights, &error);
    QVERIFY2(!expected.isNull(), qPrintable(error));
    QCOMPARE(asArgb(written), expected);
    QCOMPARE(expected, referenceHybridDecode(readFileBytes(path(QStringLiteral("hybrid.jpg"))), 80, 56, weights));

    // With another weights file the result follows it.
    QVERIFY(writeFileBytes(path(QStringLiteral("flat.txt")), QByteArray("1\n").repeated(11)));
    const ProcessResult flat = ftjpeg({QStringLiteral("decompress"), QStringLiteral("hybrid.jpg"),
                                       QStringLiteral("flat.png"), QStringLiteral("--weights=flat.txt")});
    QVERIFY2(flat.exitCode == 0, qPrintable(describe(flat)));
    QList<float> ones;
    for (int i = 0; i < 11; ++i)
        ones.append(1.0f);
    QCOMPARE(asArgb(QImage(path(QStringLiteral("flat.png")))),
             decompressHybrid(path(QStringLiteral("hybrid.jpg")), ones, &error));
}

void TestFtjpegCodec::infoTellsTheKindsOfFilesApart()
{
    const ProcessResult result = ftjpeg({QStringLiteral("info"), QStringLiteral("hybrid.jpg"),
                                         QStringLiteral("standard.jpg"), QStringLiteral("in.png"),
                                         QStringLiteral("huge.jpg")});
    QVERIFY2(result.exitCode == 0, qPrintable(describe(result)));
    QCOMPARE(result.err, QByteArray());
    QCOMPARE(QString::fromUtf8(result.out),
             QStringLiteral("hybrid.jpg: hybrid JPEG, 40x28 components, decodes to 80x56\n"
                            "standard.jpg: standard JPEG, 81x57\n"
                            "in.png: PNG image, 81x57\n"
                            "huge.jpg: hybrid JPEG, 65535x65535 components, decodes to 131070x131070\n"));

    // A file that cannot be opened and one that is no image: reported, the
    // others still described, exit status 1.
    QVERIFY(writeFileBytes(path(QStringLiteral("notes.txt")), "no image here\n"));
    const ProcessResult mixed = ftjpeg({QStringLiteral("info"), QStringLiteral("absent.png"), QStringLiteral("notes.txt"),
                                        QStringLiteral("standard.jpg")});
    QCOMPARE(mixed.exitCode, 1);
    QCOMPARE(mixed.out, QByteArray("standard.jpg: standard JPEG, 81x57\n"));
    const QList<QByteArray> lines = mixed.err.trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.at(0).startsWith("ftjpeg: ") && lines.at(0).contains("absent.png"), mixed.err.constData());
    QVERIFY2(lines.at(1).startsWith("ftjpeg: ") && lines.at(1).contains("notes.txt"), mixed.err.constData());
}

void TestFtjpegCodec::helpAndVersion()
{
    for (const QString &command : {QStringLiteral("direct"), QStringLiteral("inverse"), QStringLiteral("compress"),
                                   QStringLiteral("decompress"), QStringLiteral("info")}) {
        const ProcessResult help = ftjpeg({command, QStringLiteral("--help")});
        QCOMPARE(help.exitCode, 0);
        QVERIFY2(help.out.startsWith("Usage: ftjpeg " + command.toLatin1() + " [options]"), help.out.constData());
        QCOMPARE(help.err, QByteArray());
        const ProcessResult helpAll = ftjpeg({command, QStringLiteral("--help-all")});
        QCOMPARE(helpAll.exitCode, 0);
        QCOMPARE(helpAll.out, help.out);
        const ProcessResult version = ftjpeg({command, QStringLiteral("--version")});
        QCOMPARE(version.exitCode, 0);
        QVERIFY2(version.out.startsWith("ftjpeg "), version.out.constData());
    }
    const ProcessResult overview = ftjpeg({QStringLiteral("--help")});
    QCOMPARE(overview.exitCode, 0);
    for (const char *command : {"direct", "inverse", "compress", "decompress", "info"})
        QVERIFY2(overview.out.contains(QByteArray("  ") + command + ' '), overview.out.constData());
}

// The libraries and modules a run of ftjpeg loads, as the dynamic loader
// reports them.
QByteArrayList loadedFiles(const ProcessResult &run)
{
    QByteArrayList files;
    for (const QByteArray &line : run.err.split('\n')) {
        const int at = line.indexOf("file=");
        if (at >= 0 && line.contains("[0];  generating link map"))
            files.append(line.mid(at + 5, line.indexOf(' ', at) - at - 5));
    }
    return files;
}

void TestFtjpegCodec::streamedCommandsRunWithoutQtGui()
{
    // The executable links no QtGui; the module with the rest of the
    // program does.
    const QString module = QDir(binPath(QString())).filePath(QStringLiteral("../lib/veltrano/ftjpeg.so"));
    const ProcessResult executable = runProcess(QStringLiteral("readelf"), {QStringLiteral("-d"), binPath(QStringLiteral("ftjpeg"))});
    const ProcessResult full = runProcess(QStringLiteral("readelf"), {QStringLiteral("-d"), module});
    QVERIFY2(executable.out.contains("[libQt5Core.so.5]") && !executable.out.contains("libQt5Gui"),
             executable.out.constData());
    QVERIFY2(full.out.contains("[libQt5Gui.so.5]"), full.out.constData());

    // Streamed runs load neither; a run the streamed path leaves to the
    // whole-image one (a BMP output) loads both and writes the same pixels.
    QProcessEnvironment loader;
    loader.insert(QStringLiteral("LD_DEBUG"), QStringLiteral("files"));
    const auto run = [this, &loader](const QStringList &arguments) {
        return runProcess(binPath(QStringLiteral("ftjpeg")), arguments, folder.path(), loader);
    };
    const auto loads = [](const ProcessResult &result, const char *name) {
        for (const QByteArray &file : loadedFiles(result))
            if (file.contains(name))
                return true;
        return false;
    };
    const ProcessResult compress = run({QStringLiteral("compress"), QStringLiteral("in.png"), QStringLiteral("front.jpg")});
    const ProcessResult streamed = run({QStringLiteral("decompress"), QStringLiteral("front.jpg"), QStringLiteral("front.ppm")});
    const ProcessResult inMemory = run({QStringLiteral("decompress"), QStringLiteral("front.jpg"), QStringLiteral("front.bmp")});
    for (const ProcessResult *result : {&compress, &streamed, &inMemory})
        QVERIFY2(result->exitCode == 0 && !loadedFiles(*result).isEmpty(), qPrintable(describe(*result)));
    QVERIFY(!loads(compress, "libQt5Gui") && !loads(compress, "veltrano/ftjpeg.so"));
    QVERIFY(!loads(streamed, "libQt5Gui") && !loads(streamed, "veltrano/ftjpeg.so"));
    QVERIFY(loads(inMemory, "libQt5Gui") && loads(inMemory, "veltrano/ftjpeg.so"));
    QCOMPARE(compress.out, ftjpeg({QStringLiteral("compress"), QStringLiteral("in.png"), QStringLiteral("front.jpg"),
                                   QStringLiteral("--decoded"), QStringLiteral("front.png")})
                               .out);
    QCOMPARE(QImage(path(QStringLiteral("front.png"))).size(), source.size());
    const QImage viaStream = asArgb(QImage(path(QStringLiteral("front.ppm"))));
    QVERIFY(!viaStream.isNull() && viaStream.size() == QSize(80, 56));
    QCOMPARE(asArgb(QImage(path(QStringLiteral("front.bmp")))), viaStream);
}

void TestFtjpegCodec::failures_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    // Texts the one line on standard error must hold.
    QTest::addColumn<QStringList>("message");
    // The file the run would have written.
    QTest::addColumn<QString>("output");

    const QString in = QStringLiteral("in.png");
    const QString out = QStringLiteral("fail.png");
    const QString jpg = QStringLiteral("fail.jpg");
    auto row = [](const char *name, const QStringList &arguments, int status, const QStringList &message,
                  const QString &output) { QTest::newRow(name) << arguments << status << message << output; };

    // Usage errors.
    row("direct without files", {QStringLiteral("direct")}, 2, {QStringLiteral("expected 2 arguments")}, out);
    row("direct three files", {QStringLiteral("direct"), in, out, QStringLiteral("x.png")}, 2,
        {QStringLiteral("expected 2")}, out);
    row("unknown option", {QStringLiteral("direct"), in, out, QStringLiteral("--colour")}, 2, {QStringLiteral("colour")}, out);
    row("step not a number", {QStringLiteral("direct"), in, out, QStringLiteral("--step"), QStringLiteral("two")}, 2,
        {QStringLiteral("--step"), QStringLiteral("two")}, out);
    row("step 0", {QStringLiteral("direct"), in, out, QStringLiteral("--step=0")}, 2, {QStringLiteral("--step")}, out);
    row("step with trailing text", {QStringLiteral("direct"), in, out, QStringLiteral("--step=2px")}, 2,
        {QStringLiteral("--step"), QStringLiteral("2px")}, out);
    row("kernel radius 0", {QStringLiteral("direct"), in, out, QStringLiteral("--radius=0")}, 2,
        {QStringLiteral("--radius")}, out);
    row("kernel radius beyond int", {QStringLiteral("direct"), in, out, QStringLiteral("--radius=99999999999")}, 2,
        {QStringLiteral("--radius")}, out);
    row("missing option value", {QStringLiteral("direct"), in, out, QStringLiteral("--step")}, 2,
        {QStringLiteral("step")}, out);
    row("unknown suffix", {QStringLiteral("direct"), in, QStringLiteral("fail.tiff")}, 2,
        {QStringLiteral("fail.tiff"), QStringLiteral("suffix")}, QStringLiteral("fail.tiff"));
    row("no suffix", {QStringLiteral("direct"), in, QStringLiteral("fail")}, 2, {QStringLiteral("suffix")},
        QStringLiteral("fail"));
    row("inverse without size", {QStringLiteral("inverse"), in, out}, 2, {QStringLiteral("--size")}, out);
    row("inverse size 0x5", {QStringLiteral("inverse"), in, out, QStringLiteral("--size=0x5")}, 2,
        {QStringLiteral("--size"), QStringLiteral("0x5")}, out);
    row("inverse size without height", {QStringLiteral("inverse"), in, out, QStringLiteral("--size=5x")}, 2,
        {QStringLiteral("--size")}, out);
    row("inverse size negative", {QStringLiteral("inverse"), in, out, QStringLiteral("--size=-5x5")}, 2,
        {QStringLiteral("--size")}, out);
    // Too large for a format written in memory (PNG, PPM and JPEG are streamed).
    row("inverse size too large",
        {QStringLiteral("inverse"), in, QStringLiteral("fail.bmp"), QStringLiteral("--size=70000x70000")}, 2,
        {QStringLiteral("--size"), QStringLiteral("70000x70000")}, QStringLiteral("fail.bmp"));
    row("inverse radius -1", {QStringLiteral("inverse"), in, out, QStringLiteral("--size=8x8"), QStringLiteral("--radius=-1")},
        2, {QStringLiteral("--radius")}, out);
    row("compress quality 101", {QStringLiteral("compress"), in, jpg, QStringLiteral("--quality=101")}, 2,
        {QStringLiteral("--quality"), QStringLiteral("101")}, jpg);
    row("compress quality -1", {QStringLiteral("compress"), in, jpg, QStringLiteral("--quality=-1")}, 2,
        {QStringLiteral("--quality")}, jpg);
    row("compress to png", {QStringLiteral("compress"), in, out}, 2, {QStringLiteral("fail.png")}, out);
    row("compress decoded unknown suffix",
        {QStringLiteral("compress"), in, jpg, QStringLiteral("--decoded=fail.xyz")}, 2, {QStringLiteral("fail.xyz")}, jpg);
    row("compress decoded is the hybrid file", {QStringLiteral("compress"), in, jpg, QStringLiteral("--decoded"), jpg}, 2,
        {QStringLiteral("--decoded")}, jpg);
    row("decompress one file", {QStringLiteral("decompress"), QStringLiteral("hybrid.jpg")}, 2,
        {QStringLiteral("expected 2")}, out);
    row("info without files", {QStringLiteral("info")}, 2, {QStringLiteral("expected at least 1 argument")}, out);

    // Failures.
    row("direct missing input", {QStringLiteral("direct"), QStringLiteral("absent.png"), out}, 1,
        {QStringLiteral("absent.png")}, out);
    row("direct input is no image", {QStringLiteral("direct"), QStringLiteral("short.txt"), out}, 1,
        {QStringLiteral("short.txt")}, out);
    row("direct truncated input", {QStringLiteral("direct"), QStringLiteral("broken.jpg"), out}, 1,
        {QStringLiteral("broken.jpg")}, out);
    row("direct input smaller than the step", {QStringLiteral("direct"), QStringLiteral("tiny.png"), out}, 1,
        {QStringLiteral("tiny.png"), QStringLiteral("1x1")}, out);
    row("direct into a missing folder", {QStringLiteral("direct"), in, QStringLiteral("no/fail.png")}, 1,
        {QStringLiteral("fail.png")}, QStringLiteral("no/fail.png"));
    row("inverse missing weights file",
        {QStringLiteral("inverse"), in, out, QStringLiteral("--size=8x8"), QStringLiteral("--weights=absent.txt")}, 1,
        {QStringLiteral("absent.txt")}, out);
    row("inverse short weights table",
        {QStringLiteral("inverse"), in, out, QStringLiteral("--size=8x8"), QStringLiteral("--weights=short.txt")}, 1,
        {QStringLiteral("short.txt"), QStringLiteral("4 entries"), QStringLiteral("11")}, out);
    row("inverse short table for the radius", {QStringLiteral("inverse"), in, out, QStringLiteral("--size=8x8"),
                                               QStringLiteral("--radius=3")},
        1, {QStringLiteral("weights_out.txt"), QStringLiteral("21 entries"), QStringLiteral("31")}, out);
    row("inverse missing input", {QStringLiteral("inverse"), QStringLiteral("absent.png"), out, QStringLiteral("--size=8x8")},
        1, {QStringLiteral("absent.png")}, out);
    row("compress missing weights file", {QStringLiteral("compress"), in, jpg, QStringLiteral("--weights=absent.txt")}, 1,
        {QStringLiteral("absent.txt")}, jpg);
    row("compress short weights table", {QStringLiteral("compress"), in, jpg, QStringLiteral("--weights=short.txt")}, 1,
        {QStringLiteral("short.txt"), QStringLiteral("4 entries"), QStringLiteral("11")}, jpg);
    row("compress missing input", {QStringLiteral("compress"), QStringLiteral("absent.png"), jpg}, 1,
        {QStringLiteral("absent.png")}, jpg);
    row("compress too small", {QStringLiteral("compress"), QStringLiteral("tiny.png"), jpg}, 1,
        {QStringLiteral("cannot compress tiny.png: an image of 1x1 pixels is too small")}, jpg);
    row("compress into a missing folder", {QStringLiteral("compress"), in, QStringLiteral("no/fail.jpg")}, 1,
        {QStringLiteral("fail.jpg")}, QStringLiteral("no/fail.jpg"));
    row("decompress standard JPEG", {QStringLiteral("decompress"), QStringLiteral("standard.jpg"), out}, 1,
        {QStringLiteral("standard.jpg"), QStringLiteral("not a hybrid")}, out);
    row("decompress png", {QStringLiteral("decompress"), in, out}, 1, {QStringLiteral("not a hybrid")}, out);
    row("decompress missing file", {QStringLiteral("decompress"), QStringLiteral("absent.jpg"), out}, 1,
        {QStringLiteral("absent.jpg")}, out);
    row("decompress missing weights file",
        {QStringLiteral("decompress"), QStringLiteral("hybrid.jpg"), out, QStringLiteral("--weights=absent.txt")}, 1,
        {QStringLiteral("absent.txt")}, out);
    row("decompress short weights table",
        {QStringLiteral("decompress"), QStringLiteral("hybrid.jpg"), out, QStringLiteral("--weights=short.txt")}, 1,
        {QStringLiteral("short.txt"), QStringLiteral("4 entries"), QStringLiteral("11")}, out);
    row("decompress absurd size", {QStringLiteral("decompress"), QStringLiteral("huge.jpg"), out}, 1,
        {QStringLiteral("huge.jpg"), QStringLiteral("65535x65535")}, out);
    row("decompress into a missing folder", {QStringLiteral("decompress"), QStringLiteral("hybrid.jpg"),
                                             QStringLiteral("no/fail.png")},
        1, {QStringLiteral("fail.png")}, QStringLiteral("no/fail.png"));
}

void TestFtjpegCodec::failures()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QStringList, message);
    QFETCH(QString, output);

    // Once with no output file, once with an earlier one in its place.
    for (bool earlier : {false, true}) {
        QFile::remove(path(output));
        if (earlier && QFileInfo(path(output)).dir().exists())
            QVERIFY(writeFileBytes(path(output), sentinel));
        const QStringList before = folderEntries(folder.path());

        const ProcessResult result = ftjpeg(arguments);
        QVERIFY2(!result.crashed && result.exitCode == status, qPrintable(describe(result)));
        QCOMPARE(result.out, QByteArray());
        QVERIFY2(result.err.startsWith("ftjpeg: ") && result.err.endsWith('\n') && result.err.count('\n') == 1,
                 qPrintable(describe(result)));
        for (const QString &text : message)
            QVERIFY2(QString::fromLocal8Bit(result.err).contains(text), qPrintable(text + QStringLiteral(": ") + describe(result)));

        QCOMPARE(folderEntries(folder.path()), before);
        if (QFileInfo::exists(path(output)))
            QCOMPARE(readFileBytes(path(output)), sentinel);
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("no"))));
    }
    QFile::remove(path(output));
}

void TestFtjpegCodec::failedDecodedWriteKeepsTheHybridFile()
{
    // The decoded image cannot be written: the hybrid file is not written
    // either, and an earlier one stays as it was.
    QVERIFY(writeFileBytes(path(QStringLiteral("kept.jpg")), sentinel));
    const QStringList before = folderEntries(folder.path());
    const ProcessResult result = ftjpeg({QStringLiteral("compress"), QStringLiteral("in.png"), QStringLiteral("kept.jpg"),
                                         QStringLiteral("--decoded=no/decoded.png")});
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.startsWith("ftjpeg: ") && result.err.contains("decoded.png"), qPrintable(describe(result)));
    QCOMPARE(result.out, QByteArray());
    QCOMPARE(readFileBytes(path(QStringLiteral("kept.jpg"))), sentinel);
    QCOMPARE(folderEntries(folder.path()), before);
    QFile::remove(path(QStringLiteral("kept.jpg")));
}

QTEST_GUILESS_MAIN(TestFtjpegCodec)
#include "test_ftjpeg_codec.moc"
