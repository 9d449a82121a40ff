// The batch experiments run as `ftjpeg batch ...` (and once through the
// window's entry point) in working directories laid out by the generator:
// their rows, files, command lines of the image-difference program and
// failures.

#include "experiments/colorbatch.h"
#include "experimentsupport.h"
#include "metrics/imagemetrics.h"
#include "app/mainwindow.h"
#include "referencetransforms.h"
#include "testsupport.h"
#include "experiments/workdirgenerator.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPushButton>
#include <QSpinBox>
#include <QRegularExpression>
#include <QtTest>

#include <cmath>
#include <omp.h>

using namespace veltrano;

using namespace experimenttest;

namespace {

const QByteArray echoBody = "echo \"ssimdiff_cygwin $*\"";

QString csvNumber(float value)
{
    return QString::number(double(value), 'g', 6).replace(QLatin1Char('.'), QLatin1Char(','));
}

bool isMilliseconds(const QByteArray &field)
{
    return QRegularExpression(QStringLiteral("^[0-9]+$")).match(QString::fromLatin1(field)).hasMatch();
}

// The fields of a row that ends with the given report of the image-difference
// program; empty when the output is not that row.
QList<QByteArray> rowBefore(const QByteArray &output, const QByteArray &report)
{
    if (!output.endsWith(report) || output.size() == report.size())
        return {};
    QByteArray row = output.left(output.size() - report.size());
    if (!row.endsWith('\t') || row.contains('\n'))
        return {};
    row.chop(1);
    return row.split('\t');
}

QByteArray colorCommand(const QString &suffix)
{
    return "ssimdiff_cygwin -CC 1 in/fireworks.ppm out/fireworks_decompressed_ftih" + suffix.toLatin1() + ".ppm\n";
}

QStringList fireworksOutputs(const QString &folder)
{
    return QDir(folder + QStringLiteral("/out")).entryList({QStringLiteral("fireworks*")}, QDir::Files, QDir::Name);
}

// The colour batch's plain-JPEG row for quality q (above 20): six fields
// before the image-difference program's report, and the JPEG file written.
void checkPlainJpegRow(const QByteArray &output, int quality)
{
    const QString suffix = QStringLiteral("_2_0_1_%1").arg(quality);
    const QList<QByteArray> fields = rowBefore(output, colorCommand(suffix));
    QCOMPARE(fields.size(), 6);
    QCOMPARE(fields.first(), QByteArray::number(quality));
    QCOMPARE(fields.at(3), QByteArray("fireworks"));
    QVERIFY(QFileInfo::exists(QStringLiteral("out/fireworks_compressed_jpeg%1.jpg").arg(suffix)));
}

bool removeTree(const QString &path)
{
    return QDir(path).removeRecursively();
}

} // namespace

class TestExperiments : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void colorBatchRows_data();
    void colorBatchRows();
    void colorBatchThroughTheWindowsEntryPoint();
    void windowSlotsRunTheBatches();
    void colorBatchWithoutWeightsFile_data();
    void colorBatchWithoutWeightsFile();
    void colorBatchWithEmptyWeightsFile();
    void colorBatchFailures_data();
    void colorBatchFailures();

    void evaluateRows();
    void evaluateNumberText();
    void evaluateWithoutReference();
    void evaluateUnopenableOutput();

    void sweepRows();
    void sweepWithSilentProgram();
    void sweepWithoutInputs();
    void sweepUnopenableOutput();

    void realImageDifferenceProgram();
    void usageErrors();

private:
    // A working directory with in/, out/ and temp/ and copies of the given
    // generated files and folders, made the current one.
    bool prepare(ScratchDir &scratch, const QStringList &parts)
    {
        if (!scratch.isValid())
            return false;
        for (const QString &folder : {QStringLiteral("in"), QStringLiteral("out"), QStringLiteral("temp")})
            if (!QDir().mkpath(scratch.filePath(folder)))
                return false;
        for (const QString &part : parts) {
            const QString from = root + QLatin1Char('/') + part;
            const bool copied = QFileInfo(from).isDir() ? copyTree(from, scratch.filePath(part))
                                                        : QFile::copy(from, scratch.filePath(part));
            if (!copied)
                return false;
        }
        return true;
    }
    bool prepareColor(ScratchDir &scratch)
    {
        return prepare(scratch, {QStringLiteral("weights_out.txt"), QStringLiteral("in/fireworks.ppm")});
    }
    bool prepareEvaluation(ScratchDir &scratch) { return prepare(scratch, {QStringLiteral("out")}); }
    bool prepareSweep(ScratchDir &scratch)
    {
        return prepare(scratch, {QStringLiteral("in/texture.ppm"), QStringLiteral("temp")});
    }
    ProcessResult batch(const QStringList &arguments, const ScratchDir &scratch, const FakeSsimdiff &fake)
    {
        return runFtjpeg(QStringList{QStringLiteral("batch")} + arguments, scratch.path(), pathFirst(fake.path()));
    }

    QTemporaryDir generated;
    QString root;
    FakeSsimdiff *echo = nullptr;
};

void TestExperiments::initTestCase()
{
    QVERIFY(generated.isValid());
    root = generated.filePath(QStringLiteral("work"));
    QString error;
    QVERIFY2(generateWorkingDirectory(sourcePath(QStringLiteral("data")), root, &error), qPrintable(error));
    static FakeSsimdiff fake(echoBody);
    QVERIFY(fake.isValid());
    echo = &fake;
}

void TestExperiments::colorBatchRows_data()
{
    QTest::addColumn<int>("quality");
    QTest::newRow("q=0: F-transform, components at 50") << 0;
    QTest::newRow("q=20: F-transform, components at 70") << 20;
    QTest::newRow("q=21: plain JPEG at 21") << 21;
    QTest::newRow("q=25: plain JPEG at 25") << 25;
    QTest::newRow("q=30: plain JPEG at 30") << 30;
    QTest::newRow("no --quality: the spin box's 20") << -1;
}

void TestExperiments::colorBatchRows()
{
    QFETCH(int, quality);
    ScratchDir scratch;
    QVERIFY(prepareColor(scratch));
    QStringList arguments{QStringLiteral("color")};
    if (quality >= 0)
        arguments << QStringLiteral("--quality") << QString::number(quality);
    else
        quality = 20;
    const ProcessResult result = batch(arguments, scratch, *echo);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.err, QByteArray());

    const QString suffix = QStringLiteral("_2_0_1_%1").arg(quality);
    const QString compressedName = QStringLiteral("out/fireworks_compressed_jpeg") + suffix + QStringLiteral(".jpg");
    const QString decompressedName = QStringLiteral("out/fireworks_decompressed_ftih") + suffix + QStringLiteral(".ppm");
    QCOMPARE(fireworksOutputs(scratch.path()),
             QStringList({compressedName.mid(4), decompressedName.mid(4)}));

    const QList<QByteArray> fields = rowBefore(result.out, colorCommand(suffix));
    QVERIFY2(!fields.isEmpty(), result.out.constData());
    const QImage input(QStringLiteral("in/fireworks.ppm"));
    QCOMPARE(input.size(), QSize(400, 300));
    const QByteArray compressed = readFileBytes(compressedName);
    const QByteArray bitsPerPixel = streamText(singleBitsPerPixel(compressed.size(), 400 * 300));
    const QImage decompressed(decompressedName);

    QCOMPARE(fields.first(), QByteArray::number(quality));
    if (quality > 20) {
        // q, compression ms, decompression ms, name, 1, bits per pixel.
        QCOMPARE(fields.size(), 6);
        QVERIFY(isMilliseconds(fields.at(1)));
        QVERIFY(isMilliseconds(fields.at(2)));
        QCOMPARE(fields.mid(3), QList<QByteArray>({"fireworks", "1", bitsPerPixel}));
        QVERIFY(compressed == jpegBytes(input, quality));
        QVERIFY(sameColours(decompressed, QImage::fromData(compressed)));
    } else {
        // q, decompression ms, name, reconstruction radius, bits per pixel.
        QCOMPARE(fields.size(), 5);
        QVERIFY(isMilliseconds(fields.at(1)));
        QCOMPARE(fields.mid(2), QList<QByteArray>({"fireworks", "1", bitsPerPixel}));
        const QImage components = referenceDirectFTransform(input, 2, {1.0f, 0.5f, 0.0f});
        QCOMPARE(components.size(), QSize(200, 150));
        QVERIFY(compressed == jpegBytes(components, quality + 50));
        const QList<float> weights = readWeights(QStringLiteral("weights_out.txt"));
        QVERIFY(sameColours(decompressed,
                            referenceInverseFTransform(QImage::fromData(compressed), 400, 300, 2, 1, weights)));
    }
}

// The window's slot calls runColorBatch with its spin box: the same row, the
// quality asked once for the one image.
void TestExperiments::colorBatchThroughTheWindowsEntryPoint()
{
    ScratchDir scratch;
    QVERIFY(prepareColor(scratch));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(echo->path()) + ':' + path);
    int asked = 0;
    const QByteArray out = captureStdout([&asked] {
        runColorBatch([&asked] {
            ++asked;
            return 22;
        });
    });
    qputenv("PATH", path);
    QCOMPARE(asked, 1);
    checkPlainJpegRow(out, 22);
    if (QTest::currentTestFailed())
        return;
}

// The window's own buttons (enabled here; the form leaves them disabled) run
// what `ftjpeg batch` runs, with the quality of the spin box, and the colour
// batch leaves OpenMP at one thread without dynamic adjustment.
void TestExperiments::windowSlotsRunTheBatches()
{
    ScratchDir scratch;
    QVERIFY(prepare(scratch, {QStringLiteral("weights_out.txt"), QStringLiteral("in"), QStringLiteral("out"),
                              QStringLiteral("temp")}));
    const ProcessResult evaluated = batch({QStringLiteral("evaluate")}, scratch, *echo);
    QCOMPARE(evaluated.exitCode, 0);
    const QByteArray table = readFileBytes(QStringLiteral("out_hdr_test_ftih.csv"));
    QCOMPARE(table.count('\n'), 97);
    QVERIFY(QFile::remove(QStringLiteral("out_hdr_test_ftih.csv")));
    const ProcessResult swept = batch({QStringLiteral("jpeg-stat")}, scratch, *echo);
    QCOMPARE(swept.exitCode, 0);

    MainWindow window;
    for (const char *name : {"pushButton_6", "pushButton_7", "pushButton_8"})
        window.findChild<QPushButton *>(QLatin1String(name))->setEnabled(true);
    window.findChild<QSpinBox *>(QStringLiteral("jpeg_qual"))->setValue(27);
    auto click = [&window](const char *name) {
        return captureStdout([&window, name] { window.findChild<QPushButton *>(QLatin1String(name))->click(); });
    };
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(echo->path()) + ':' + path);
    omp_set_dynamic(1);
    omp_set_num_threads(2);
    const QByteArray colour = click("pushButton_6");
    const bool dynamic = omp_get_dynamic();
    const int threads = omp_get_max_threads();
    const QByteArray evaluation = click("pushButton_7");
    const QByteArray sweep = click("pushButton_8");
    qputenv("PATH", path);

    QVERIFY(!dynamic);
    QCOMPARE(threads, 1);
    checkPlainJpegRow(colour, 27);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(evaluation, QByteArray());
    QCOMPARE(readFileBytes(QStringLiteral("out_hdr_test_ftih.csv")), table);
    QCOMPARE(sweep, swept.out);
    QCOMPARE(sweep.count("ssimdiff_cygwin -CC 1 in/texture.ppm temp/texture_bic_sm_"), 11);
}

void TestExperiments::colorBatchWithoutWeightsFile_data()
{
    QTest::addColumn<int>("quality");
    QTest::newRow("F-transform") << 10;
    QTest::newRow("plain JPEG, which would not use it") << 25;
}

void TestExperiments::colorBatchWithoutWeightsFile()
{
    QFETCH(int, quality);
    ScratchDir scratch;
    QVERIFY(prepareColor(scratch));
    QVERIFY(QFile::remove(QStringLiteral("weights_out.txt")));
    const ProcessResult result =
        batch({QStringLiteral("color"), QStringLiteral("-q"), QString::number(quality)}, scratch, *echo);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, QByteArray("cannot open weights file!"));
    QVERIFY(result.err.startsWith("ftjpeg: "));
    QCOMPARE(fireworksOutputs(scratch.path()), QStringList());
}

// An empty table serves the plain-JPEG branch; the F-transform branch cannot
// expand with it, says so, and still completes its row and runs the program.
void TestExperiments::colorBatchWithEmptyWeightsFile()
{
    ScratchDir scratch;
    QVERIFY(prepareColor(scratch));
    QVERIFY(writeFileBytes(QStringLiteral("weights_out.txt"), QByteArray()));

    ProcessResult result = batch({QStringLiteral("color"), QStringLiteral("-q"), QStringLiteral("25")}, scratch, *echo);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.err, QByteArray());
    QCOMPARE(rowBefore(result.out, colorCommand(QStringLiteral("_2_0_1_25"))).size(), 6);

    // A reconstruction of an earlier run is not left to be measured as this one.
    const QString stale = QStringLiteral("out/fireworks_decompressed_ftih_2_0_1_10.ppm");
    QVERIFY(writeFileBytes(stale, "P6 1 1 255\nabc"));
    result = batch({QStringLiteral("color"), QStringLiteral("-q"), QStringLiteral("10")}, scratch, *echo);
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains("the weights table has 0 entries"), result.err.constData());
    const QList<QByteArray> fields = rowBefore(result.out, colorCommand(QStringLiteral("_2_0_1_10")));
    QCOMPARE(fields.size(), 5);
    const qint64 size = QFileInfo(QStringLiteral("out/fireworks_compressed_jpeg_2_0_1_10.jpg")).size();
    QVERIFY(size > 0);
    QCOMPARE(fields.mid(2), QList<QByteArray>({"fireworks", "1", streamText(singleBitsPerPixel(size, 400 * 300))}));
    QVERIFY(!QFileInfo::exists(stale));
}

void TestExperiments::colorBatchFailures_data()
{
    QTest::addColumn<QString>("removed");
    QTest::addColumn<int>("quality");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("no input, plain JPEG") << "in/fireworks.ppm" << 25 << QByteArray("in/fireworks.ppm");
    QTest::newRow("no input, F-transform") << "in/fireworks.ppm" << 10 << QByteArray("in/fireworks.ppm");
    QTest::newRow("no out/, plain JPEG") << "out" << 25 << QByteArray("out/fireworks_compressed_jpeg_2_0_1_25.jpg");
    QTest::newRow("no out/, F-transform") << "out" << 10 << QByteArray("out/fireworks_compressed_jpeg_2_0_1_10.jpg");
}

// Nothing can be measured: the row still gets every field, "nan" for the bit
// rate, the program still runs, and the reason is on standard error.
void TestExperiments::colorBatchFailures()
{
    QFETCH(QString, removed);
    QFETCH(int, quality);
    QFETCH(QByteArray, reason);
    ScratchDir scratch;
    QVERIFY(prepareColor(scratch));
    if (removed == QLatin1String("out"))
        QVERIFY(removeTree(QStringLiteral("out")));
    else
        QVERIFY(QFile::remove(removed));

    const ProcessResult result =
        batch({QStringLiteral("color"), QStringLiteral("-q"), QString::number(quality)}, scratch, *echo);
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains(reason), result.err.constData());
    const QList<QByteArray> fields =
        rowBefore(result.out, colorCommand(QStringLiteral("_2_0_1_%1").arg(quality)));
    QCOMPARE(fields.size(), quality > 20 ? 6 : 5);
    QCOMPARE(fields.first(), QByteArray::number(quality));
    QCOMPARE(fields.mid(fields.size() - 3), QList<QByteArray>({"fireworks", "1", "nan"}));
    QCOMPARE(fireworksOutputs(scratch.path()), QStringList());
}

void TestExperiments::evaluateRows()
{
    ScratchDir scratch;
    QVERIFY(prepareEvaluation(scratch));
    // Longer than the result: a file appended to or overwritten in place would show it.
    QVERIFY(writeFileBytes(QStringLiteral("out_hdr_test_ftih.csv"), QByteArray(100000, 'x') + '\n'));

    const ProcessResult result = batch({QStringLiteral("evaluate")}, scratch, *echo);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QByteArray());
    QCOMPARE(result.err, QByteArray());

    const QByteArray csv = readFileBytes(QStringLiteral("out_hdr_test_ftih.csv"));
    QVERIFY(csv.endsWith('\n'));
    QVERIFY(!csv.contains('\r'));
    const QList<QByteArray> rows = csv.left(csv.size() - 1).split('\n');
    QCOMPARE(rows.size(), 97);
    const QImage reference(QStringLiteral("out/hdr.ppm"));
    QVERIFY(!reference.isNull());
    for (int i = 4; i <= 100; ++i) {
        const QImage test(QStringLiteral("out/hdr_decompressed_ftih_4_0_%1_70.png").arg(i));
        QVERIFY(!test.isNull());
        const QString expected = QStringLiteral("4;0;%1;70;%2;%3")
                                     .arg(i)
                                     .arg(csvNumber(mse(reference, test)), csvNumber(ssim(reference, test)));
        QCOMPARE(QString::fromLatin1(rows.at(i - 4)), expected);
    }
    // The series is not flat: the error grows with the radius.
    QVERIFY(rows.first().split(';').at(4) != rows.last().split(';').at(4));
}

// Whole values without a comma, small ones in exponent form with one.
void TestExperiments::evaluateNumberText()
{
    ScratchDir scratch;
    QVERIFY(prepare(scratch, {}));
    QImage black(128, 96, QImage::Format_RGB32);
    black.fill(Qt::black);
    QImage white(128, 96, QImage::Format_RGB32);
    white.fill(Qt::white);
    QVERIFY(black.save(QStringLiteral("out/hdr.ppm"), "ppm"));
    QVERIFY(white.save(QStringLiteral("out/hdr_decompressed_ftih_4_0_5_70.png"), "png"));
    QVERIFY(black.save(QStringLiteral("out/hdr_decompressed_ftih_4_0_6_70.png"), "png"));

    // The other 95 test images are missing: their rows are not looked at.
    batch({QStringLiteral("evaluate")}, scratch, *echo);
    const QList<QByteArray> rows = readFileBytes(QStringLiteral("out_hdr_test_ftih.csv")).split('\n');
    QCOMPARE(rows.size(), 98);
    QCOMPARE(rows.at(1), QByteArray("4;0;5;70;65025;9,999e-05"));
    QCOMPARE(rows.at(2), QByteArray("4;0;6;70;0;1"));
}

void TestExperiments::evaluateWithoutReference()
{
    ScratchDir scratch;
    QVERIFY(prepareEvaluation(scratch));
    QVERIFY(QFile::remove(QStringLiteral("out/hdr.ppm")));
    const ProcessResult result = batch({QStringLiteral("evaluate")}, scratch, *echo);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, QByteArray());
    QVERIFY2(result.err.contains("out/hdr.ppm"), result.err.constData());
    QByteArray expected;
    for (int i = 4; i <= 100; ++i)
        expected += "4;0;" + QByteArray::number(i) + ";70;nan;nan\n";
    QCOMPARE(readFileBytes(QStringLiteral("out_hdr_test_ftih.csv")), expected);
}

void TestExperiments::evaluateUnopenableOutput()
{
    ScratchDir scratch;
    QVERIFY(prepare(scratch, {}));
    QVERIFY(QDir().mkdir(QStringLiteral("out_hdr_test_ftih.csv")));
    const ProcessResult result = batch({QStringLiteral("evaluate")}, scratch, *echo);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, QByteArray("cannot open output file\n"));
    QVERIFY(QFileInfo(QStringLiteral("out_hdr_test_ftih.csv")).isDir());
}

void TestExperiments::sweepRows()
{
    ScratchDir scratch;
    QVERIFY(prepareSweep(scratch));
    QVERIFY(writeFileBytes(QStringLiteral("jpeg_stat.csv"), "earlier text\n"));
    // Two files of known sizes for a 256 x 256 texture: 10000 bytes give
    // 1.2207 bits per pixel, 24576 bytes exactly 3.
    QVERIFY(writeFileBytes(QStringLiteral("temp/texture_bic_sm_0.jpg"), QByteArray(10000, 'j')));
    QVERIFY(writeFileBytes(QStringLiteral("temp/texture_bic_sm_10.jpg"), QByteArray(24576, 'j')));

    // Run from elsewhere, naming the working directory.
    const ProcessResult result =
        runFtjpeg({QStringLiteral("batch"), QStringLiteral("jpeg-stat"), QStringLiteral("-C"), scratch.path()},
                  generated.path(), pathFirst(echo->path()));
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.err, QByteArray());
    QByteArray expected;
    for (int q = 0; q <= 100; q += 10) {
        const qint64 size = QFileInfo(QStringLiteral("temp/texture_bic_sm_%1.jpg").arg(q)).size();
        QVERIFY(size > 0);
        QByteArray rate = streamText(double(float(size * 8)) / double(256 * 256));
        if (q == 0)
            QCOMPARE(rate, QByteArray("1.2207"));
        if (q == 10)
            QCOMPARE(rate, QByteArray("3"));
        expected += QByteArray::number(q) + '\t' + rate + "\tssimdiff_cygwin -CC 1 in/texture.ppm temp/texture_bic_sm_"
            + QByteArray::number(q) + ".ppm\n";
    }
    QCOMPARE(result.out, expected);
    QVERIFY(QFileInfo(QStringLiteral("jpeg_stat.csv")).isFile());
    QCOMPARE(QFileInfo(QStringLiteral("jpeg_stat.csv")).size(), qint64(0));
}

// A program that prints nothing leaves the eleven rows on one line.
void TestExperiments::sweepWithSilentProgram()
{
    ScratchDir scratch;
    QVERIFY(prepareSweep(scratch));
    FakeSsimdiff silent("echo \"$*\" >> ssimdiff.log");
    QVERIFY(silent.isValid());
    const ProcessResult result = batch({QStringLiteral("jpeg-stat")}, scratch, silent);
    QCOMPARE(result.exitCode, 0);
    QVERIFY(!result.out.contains('\n'));
    QVERIFY(result.out.endsWith('\t'));
    const QList<QByteArray> fields = result.out.left(result.out.size() - 1).split('\t');
    QCOMPARE(fields.size(), 22);
    QByteArray log;
    for (int q = 0; q <= 100; q += 10) {
        QCOMPARE(fields.at(q / 5), QByteArray::number(q));
        log += "-CC 1 in/texture.ppm temp/texture_bic_sm_" + QByteArray::number(q) + ".ppm\n";
    }
    QCOMPARE(readFileBytes(QStringLiteral("ssimdiff.log")), log);
}

void TestExperiments::sweepWithoutInputs()
{
    // Nothing at all: no pixels and no files give "nan"; the table is emptied.
    ScratchDir scratch;
    QVERIFY(scratch.isValid());
    QVERIFY(writeFileBytes(QStringLiteral("jpeg_stat.csv"), "earlier text\n"));
    ProcessResult result = batch({QStringLiteral("jpeg-stat")}, scratch, *echo);
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains("in/texture.ppm"), result.err.constData());
    QByteArray expected;
    for (int q = 0; q <= 100; q += 10)
        expected += QByteArray::number(q) + "\tnan\tssimdiff_cygwin -CC 1 in/texture.ppm temp/texture_bic_sm_"
            + QByteArray::number(q) + ".ppm\n";
    QCOMPARE(result.out, expected);
    QCOMPARE(QFileInfo(QStringLiteral("jpeg_stat.csv")).size(), qint64(0));

    // JPEG files but no texture: an infinite rate.
    QVERIFY(copyTree(root + QStringLiteral("/temp"), scratch.filePath(QStringLiteral("temp"))));
    result = batch({QStringLiteral("jpeg-stat")}, scratch, *echo);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, QByteArray(expected).replace("\tnan\t", "\tinf\t"));
}

void TestExperiments::sweepUnopenableOutput()
{
    ScratchDir scratch;
    QVERIFY(prepareSweep(scratch));
    QVERIFY(QDir().mkdir(QStringLiteral("jpeg_stat.csv")));
    const ProcessResult result = batch({QStringLiteral("jpeg-stat")}, scratch, *echo);
    QCOMPARE(result.exitCode, 1);
    // Only the message: no row, and the program never ran.
    QCOMPARE(result.out, QByteArray("cannot open output file\n"));
}

// With the real ssimdiff_cygwin every row is one line that ends with its
// SSIM and PSNR.
void TestExperiments::realImageDifferenceProgram()
{
    ScratchDir scratch;
    QVERIFY(prepare(scratch, {QStringLiteral("weights_out.txt"), QStringLiteral("in"), QStringLiteral("temp")}));
    const QProcessEnvironment environment = pathFirst(QStringLiteral(VELTRANO_BIN_DIR));
    struct Run
    {
        QStringList arguments;
        int rows;
        int fields;
    };
    const QList<Run> runs{{{QStringLiteral("color"), QStringLiteral("-q"), QStringLiteral("25")}, 1, 6 + 2},
                          {{QStringLiteral("color"), QStringLiteral("-q"), QStringLiteral("10")}, 1, 5 + 2},
                          {{QStringLiteral("jpeg-stat")}, 11, 2 + 2}};
    QList<double> sweepSsim;
    QList<double> sweepPsnr;
    for (const Run &run : runs) {
        const ProcessResult result =
            runFtjpeg(QStringList{QStringLiteral("batch")} + run.arguments, scratch.path(), environment);
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.err, QByteArray());
        QVERIFY(result.out.endsWith('\n'));
        const QList<QByteArray> lines = result.out.left(result.out.size() - 1).split('\n');
        QCOMPARE(lines.size(), run.rows);
        for (const QByteArray &line : lines) {
            const QList<QByteArray> fields = line.split('\t');
            QVERIFY2(fields.size() == run.fields, line.constData());
            bool ssimOk = false;
            bool psnrOk = false;
            const double similarity = fields.at(fields.size() - 2).toDouble(&ssimOk);
            const double psnr = fields.last().toDouble(&psnrOk);
            QVERIFY2(ssimOk && similarity > 0.0 && similarity <= 1.0, line.constData());
            QVERIFY2(psnrOk && std::isfinite(psnr) && psnr > 10.0, line.constData());
            if (run.rows == 11) {
                sweepSsim << similarity;
                sweepPsnr << psnr;
            }
        }
    }
    // The texture at JPEG quality 100 is far closer to it than at quality 0.
    QVERIFY(sweepSsim.last() > sweepSsim.first());
    QVERIFY(sweepPsnr.last() > sweepPsnr.first());
}

void TestExperiments::usageErrors()
{
    ScratchDir scratch;
    QVERIFY(scratch.isValid());
    const QList<QStringList> wrong{{},
                                   {QStringLiteral("colour")},
                                   {QStringLiteral("color"), QStringLiteral("--quality"), QStringLiteral("31")},
                                   {QStringLiteral("color"), QStringLiteral("--quality"), QStringLiteral("-1")},
                                   {QStringLiteral("color"), QStringLiteral("--quality"), QStringLiteral("high")},
                                   {QStringLiteral("evaluate"), QStringLiteral("--quality"), QStringLiteral("5")},
                                   {QStringLiteral("color"), QStringLiteral("evaluate")}};
    for (const QStringList &arguments : wrong) {
        const ProcessResult result = batch(arguments, scratch, *echo);
        QVERIFY2(result.exitCode == 2, qPrintable(arguments.join(QLatin1Char(' '))));
        QCOMPARE(result.out, QByteArray());
        QVERIFY(result.err.startsWith("ftjpeg: "));
    }
    // Nothing ran: no file appeared.
    QCOMPARE(filesUnder(scratch.path()), QStringList());
    const ProcessResult help = batch({QStringLiteral("--help")}, scratch, *echo);
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.contains("jpeg-stat"));
}

QTEST_MAIN(TestExperiments)
#include "test_experiments.moc"
