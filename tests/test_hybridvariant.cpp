// Hybrid variants: files that record their source size, parameters and
// weights, written by ftjpeg compress and read back by ftjpeg, the codec and
// the window, checked against the slow reference transforms; damaged
// segments; and the weight fit.
#include "codectestsupport.h"
#include "commandsupport.h"
#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/hybridvariant.h"
#include "codec/transform/kernel.h"
#include "study/rdcompare.h"
#include "study/rdoutput.h"
#include "study/rdsummary.h"
#include "referencetransforms.h"
#include "testsupport.h"
#include "codec/qimage/weightfit.h"

#include <QtEndian>
#include <QtTest>

#include <QCryptographicHash>

#include <algorithm>
#include <cmath>

using namespace veltrano;

using namespace commandtest;

namespace {

// A table whose entries all differ and whose tail is negative, so that a
// wrong index or a lost entry shows in the pixels: 1 - i / 15.
QList<float> slopedTable()
{
    QList<float> table;
    for (int i = 0; i <= 120; ++i)
        table.append(1.0f - float(i) / 15.0f);
    return table;
}

QByteArray tableText(const QList<float> &table)
{
    QByteArray text;
    for (float value : table)
        text += QByteArray::number(double(value), 'g', 9) + '\n';
    return text;
}

// The offset of the variant segment's payload (after FF E9 and the length).
int segmentPayload(const QByteArray &file)
{
    const int at = file.indexOf(QByteArray("FTVARIANT\0", 10));
    return at < 4 || uchar(file.at(at - 3)) != 0xE9 ? -1 : at;
}

// The inverse transform's accumulation, as the reference does it, with the
// truncated quotient clamped to 0 .. 255 instead of taking its low 8 bits.
QImage referenceClampedExpansion(const QImage &components, int width, int height, int step, int radius,
                                 const QList<float> &weights)
{
    const float q = float(20.0 / step);
    auto clampChannel = [](float sum, float weight) {
        const float quotient = sum / weight;
        return weight == 0.0f || !(quotient >= 1.0f) ? 0 : quotient >= 255.0f ? 255 : int(quotient);
    };
    QImage result(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            float red = 0, green = 0, blue = 0, weight = 0;
            for (int j = std::max(0, y - radius); j <= std::min(height - 1, y + radius); ++j) {
                if (j % step != 0)
                    continue;
                const float rowWeight = weights.at(int(std::ceil(float(std::abs(y - j)) * q)));
                for (int k = std::max(0, x - radius); k <= std::min(width - 1, x + radius); ++k) {
                    if (k % step != 0)
                        continue;
                    const float s = rowWeight * weights.at(int(std::ceil(float(std::abs(x - k)) * q)));
                    const QRgb pixel = components.pixel(std::min(k / step, components.width() - 1),
                                                        std::min(j / step, components.height() - 1));
                    red = red + float(qRed(pixel)) * s;
                    green = green + float(qGreen(pixel)) * s;
                    blue = blue + float(qBlue(pixel)) * s;
                    weight = weight + s;
                }
            }
            result.setPixel(x, y, qRgb(clampChannel(red, weight), clampChannel(green, weight),
                                       clampChannel(blue, weight)));
        }
    return result;
}

void putU32(QByteArray &file, int offset, quint32 value)
{
    qToBigEndian(value, file.data() + offset);
}

} // namespace

class TestHybridVariant : public QObject
{
    Q_OBJECT

private slots:
    void variantsRoundTripAtTheSourceSize_data();
    void variantsRoundTripAtTheSourceSize();
    void classicFilesAreUnchanged();
    void windowOpensAVariantAtItsSourceSize();
    void damagedSegmentsAreRefused_data();
    void damagedSegmentsAreRefused();
    void fitRecoversAKnownOptimumAndNeverRaisesTheError();
    void studyMeasuresVariantsAsTheirFiles();
    void comparisonBelowTheCrossover();
};

void TestHybridVariant::variantsRoundTripAtTheSourceSize_data()
{
    QTest::addColumn<QString>("photo");
    QTest::addColumn<QRect>("crop");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("kernelRadius");
    QTest::addColumn<int>("radius");
    QTest::addColumn<int>("channels");
    QTest::newRow("radius 3, optimized, odd width") << "chelsea.png" << QRect(0, 0, 451, 300)
        << QStringList{"--reconstruct-radius", "3", "--optimize"} << 2 << 2 << 3 << 3;
    QTest::newRow("step 3, 4:4:4, progressive, odd sizes") << "astronaut.png" << QRect(37, 50, 211, 133)
        << QStringList{"--step", "3", "--kernel-radius", "4", "--reconstruct-radius", "7", "--chroma", "444",
                       "--progressive"} << 3 << 4 << 7 << 3;
    QTest::newRow("step 5, kernel 1, radius 0: nearest node") << "chelsea.png" << QRect(3, 3, 103, 77)
        << QStringList{"--step", "5", "--kernel-radius", "1", "--reconstruct-radius", "0"} << 5 << 1 << 0 << 3;
    QTest::newRow("radius 3, clamped") << "astronaut.png" << QRect(100, 200, 97, 71)
        << QStringList{"--reconstruct-radius", "3", "--clamp"} << 2 << 2 << 3 << 3;
    QTest::newRow("grey photograph, one channel") << "camera.png" << QRect(0, 0, 255, 129)
        << QStringList{"--chroma", "420"} << 2 << 2 << 1 << 1;
}

void TestHybridVariant::variantsRoundTripAtTheSourceSize()
{
    QFETCH(QString, photo);
    QFETCH(QRect, crop);
    QFETCH(QStringList, options);
    QFETCH(int, step);
    QFETCH(int, kernelRadius);
    QFETCH(int, radius);
    QFETCH(int, channels);
    ScratchDir scratch;
    const QImage source = loadPhoto(photo).copy(crop);
    QVERIFY(source.save(QStringLiteral("source.png")));
    QVERIFY(writeFileBytes(QStringLiteral("table.txt"), tableText(slopedTable())));

    const ProcessResult compressed = runProcess(binPath(QStringLiteral("ftjpeg")),
        QStringList{"compress", "source.png", "v.jpg", "--quality", "60", "--weights", "table.txt", "--decoded",
                    "inmemory.png"} + options);
    QCOMPARE(compressed.exitCode, 0);
    const QByteArray file = readFileBytes(QStringLiteral("v.jpg"));
    QVERIFY(file.startsWith(QByteArray::fromHex("FFD8FFE000104A4649460001")));
    QCOMPARE(file.at(12), char(0x04));
    QCOMPARE(segmentPayload(file), 24); // right after the JFIF header
    // Every byte counts, the segment's too.
    QCOMPARE(compressed.out, QString::number(double(float(file.size() * 8)) / double(source.width() * source.height()),
                                             'g', 6).toUtf8() + '\n');

    // The components decode as any JPEG; expanded by the reference with the
    // table, they are the file's image.
    const QImage components = QImage::fromData(file);
    QCOMPARE(components.size(), QSize(source.width() / step, source.height() / step));
    QCOMPARE(components.isGrayscale(), channels == 1);
    // They are the reference component image of this kernel through JPEG:
    // Qt's writer runs the same library with the same tables, so with 4:2:0
    // chroma the decoded pixels agree whatever the Huffman coding or scans.
    QImage exact = referenceDirectFTransform(source, step, makeRaisedCosineKernel(kernelRadius));
    if (channels == 1)
        exact = exact.convertToFormat(QImage::Format_Grayscale8);
    if (!options.contains(QStringLiteral("444")))
        QCOMPARE(firstPixelDifference(components, QImage::fromData(encodeJpeg(exact, 60))), QString());
    const bool clamped = options.contains(QStringLiteral("--clamp"));
    const QImage expected = clamped
        ? referenceClampedExpansion(components, source.width(), source.height(), step, radius, slopedTable())
        : referenceInverseFTransform(components, source.width(), source.height(), step, radius, slopedTable());
    // The table's negative entries overshoot: clamping is not wrapping.
    if (clamped)
        QVERIFY(firstPixelDifference(expected, referenceInverseFTransform(components, source.width(),
                                                   source.height(), step, radius, slopedTable())) != QString());

    // No weights file is needed to decode the file, by ftjpeg or the codec.
    QVERIFY(QFile::remove(QStringLiteral("table.txt")));
    const ProcessResult decompressed =
        runProcess(binPath(QStringLiteral("ftjpeg")), {"decompress", "v.jpg", "decoded.png"});
    QCOMPARE(decompressed.exitCode, 0);
    QCOMPARE(firstPixelDifference(QImage(QStringLiteral("decoded.png")), expected), QString());
    QCOMPARE(firstPixelDifference(QImage(QStringLiteral("inmemory.png")), expected), QString());
    QString error;
    QCOMPARE(firstPixelDifference(decompressHybrid(QStringLiteral("v.jpg"), &error), expected), QString());
    QCOMPARE(firstPixelDifference(decodeHybridVariant(file, &error), expected), QString());

    const ProcessResult info = runProcess(binPath(QStringLiteral("ftjpeg")), {"info", "v.jpg"});
    QCOMPARE(info.exitCode, 0);
    QVERIFY2(info.out.contains(QStringLiteral("decodes to %1x%2 (step %3, kernel radius %4, reconstruction radius %5")
                                   .arg(source.width()).arg(source.height()).arg(step).arg(kernelRadius)
                                   .arg(radius).toUtf8()), info.out.constData());
}

void TestHybridVariant::classicFilesAreUnchanged()
{
    ScratchDir scratch;
    const QImage source = loadPhoto(QStringLiteral("chelsea.png")).copy(0, 0, 201, 133);
    QVERIFY(source.save(QStringLiteral("source.png")));
    QVERIFY(writeFileBytes(QStringLiteral("table.txt"), tableText(slopedTable())));
    const ProcessResult run = runProcess(binPath(QStringLiteral("ftjpeg")),
        {"compress", "source.png", "c.jpg", "--quality", "55", "--weights", "table.txt"});
    QCOMPARE(run.exitCode, 0);
    const QByteArray file = readFileBytes(QStringLiteral("c.jpg"));
    QVERIFY(sameJpegStream(file, referenceHybridFile(source, 55)));
    QCOMPARE(segmentPayload(file), -1);
    // Still decoded to twice the components with the table named.
    const ProcessResult decoded = runProcess(binPath(QStringLiteral("ftjpeg")),
        {"decompress", "c.jpg", "d.png", "--weights", "table.txt"});
    QCOMPARE(decoded.exitCode, 0);
    QCOMPARE(QImage(QStringLiteral("d.png")).size(), QSize(200, 132));
}

void TestHybridVariant::windowOpensAVariantAtItsSourceSize()
{
    ScratchDir scratch;
    const QImage source = loadPhoto(QStringLiteral("chelsea.png")).copy(5, 7, 181, 121);
    HybridVariant variant;
    variant.reconstructRadius = 3;
    QByteArray file;
    const QImage expanded = compressHybridVariant(source, 70, variant, slopedTable(), &file);
    QCOMPARE(expanded.size(), source.size());
    QVERIFY(writeFileBytes(scratch.filePath(QStringLiteral("variant.jpg")), file));

    // No weights file in the working directory.
    MainWindow window;
    FakeChooser chooser;
    clickOpen(window, chooser, scratch.filePath(QStringLiteral("variant.jpg")));
    QCOMPARE(normalizedConsole(window),
             QStringList({"<time> - File opened.", "<time> - It is a hybrid JPEG image."}));
    QCOMPARE(firstPixelDifference(paneImage(window, "image_original").convertToFormat(QImage::Format_ARGB32),
                                  expanded),
             QString());
    QCOMPARE(QImage(QStringLiteral("hybrid_decompressed.bmp")).size(), QSize(181, 121));
}

void TestHybridVariant::damagedSegmentsAreRefused_data()
{
    ScratchDir scratch;
    HybridVariant variant;
    variant.step = 3;
    variant.reconstructRadius = 4;
    QByteArray good;
    QVERIFY(!compressHybridVariant(loadPhoto(QStringLiteral("chelsea.png")).copy(0, 0, 100, 61), 70, variant,
                                   slopedTable(), &good).isNull());
    const int p = segmentPayload(good);
    QVERIFY(p > 0);
    // Payload: identifier (10), version, width, height, step, kernel radius,
    // radius, quality, flags, count, then (index, weight) pairs.
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("message");
    // A stream cut inside its headers is no image to Qt's reader either, so
    // the window refuses it before it looks for the segment.
    QByteArray f = good;
    f[p + 10] = 2;
    QTest::newRow("version") << f << "has version 2, this program reads version 1";
    f = good;
    putU32(f, p + 11, 103);
    QTest::newRow("width against the frame") << f << "which needs 34x20 components, but the JPEG frame holds 33x20";
    f = good;
    putU32(f, p + 11, 65535 * 3);
    putU32(f, p + 15, 65535 * 3);
    QTest::newRow("huge source") << f << "which is not from 3x3 to 268435456 pixels";
    f = good;
    putU32(f, p + 19, 0);
    QTest::newRow("step 0") << f << "gives node spacing 0";
    f = good;
    putU32(f, p + 27, 7);
    QTest::newRow("radius against the entries") << f << "holds 5 weight entries, but step 3 and radius 7 use 8";
    f = good;
    f[p + 32] = char(f.at(p + 32) | 2);
    QTest::newRow("progressive flag") << f << "says the JPEG stream is progressive, but its frame is sequential";
    f = good;
    f[p + 32] = char(0x80);
    QTest::newRow("unknown flag") << f << "unknown flags 0x80";
    f = good;
    putU32(f, p + 35 + 8, 8);
    QTest::newRow("entry index") << f << "weight entry 1 has index 8, where the expansion looks up index 7";
    f = good;
    putU32(f, p + 35 + 12, 0x7FC00000u);
    QTest::newRow("NaN weight") << f << "weight for index 7 is not finite";
    f = good;
    f[p + 34] = 4;
    QTest::newRow("count against the length") << f << "but 4 weight entries need 69";
    f = good;
    f.insert(p - 4, good.mid(p - 4, 2 + ((uchar(good.at(p - 2)) << 8) | uchar(good.at(p - 1)))));
    QTest::newRow("two segments") << f << "has 2 variant segments, where one is allowed";
    f = good.left(p + 20);
    QTest::newRow("truncated") << f << "runs past the end of the data";
}

void TestHybridVariant::damagedSegmentsAreRefused()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, message);
    ScratchDir scratch;
    QVERIFY(writeFileBytes(QStringLiteral("bad.jpg"), file));
    QString error;
    QVERIFY(decodeHybridVariant(file, &error).isNull());
    QVERIFY2(error.contains(message), qPrintable(error));
    for (const QStringList &arguments : {QStringList{"decompress", "bad.jpg", "out.png"}, QStringList{"info", "bad.jpg"}}) {
        const ProcessResult run = runProcess(binPath(QStringLiteral("ftjpeg")), arguments);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.startsWith("ftjpeg: cannot decode bad.jpg: ") && run.err.contains(message.toUtf8()),
                 run.err.constData());
    }
    QVERIFY(!QFile::exists(QStringLiteral("out.png")));

    MainWindow window;
    FakeChooser chooser;
    clickOpen(window, chooser, scratch.filePath(QStringLiteral("bad.jpg")));
    const QStringList lines = normalizedConsole(window);
    const bool truncated = QByteArray(QTest::currentDataTag()) == "truncated";
    QCOMPARE(lines.value(truncated ? 0 : 2), QStringLiteral("<time> - File open failed."));
    QCOMPARE(lines.size(), truncated ? 2 : 4);
    if (!truncated)
        QVERIFY2(lines.value(3).contains(message), qPrintable(lines.join('\n')));
    QVERIFY(!QFile::exists(QStringLiteral("hybrid_decompressed.bmp")));
}

void TestHybridVariant::fitRecoversAKnownOptimumAndNeverRaisesTheError()
{
    // Targets made by expanding components with a known table (negative
    // lobes at distance 3): its ratios within each distance class (even:
    // entries 0 and 20; odd: 10 and 30) are the optimum, at error 0.
    QList<float> known = slopedTable();
    known[0] = 1.0f;
    known[10] = 0.6f;
    known[20] = -0.12f;
    known[30] = -0.09f;
    QList<WeightFitSample> samples;
    for (const QRect &crop : {QRect(0, 0, 97, 64), QRect(200, 100, 64, 81)}) {
        const QImage source = loadPhoto(QStringLiteral("astronaut.png")).copy(crop);
        const QImage components = referenceDirectFTransform(source, 2, hybridKernel());
        samples.append({components, referenceInverseFTransform(components, source.width(), source.height(), 2,
                                                                3, known)});
    }
    QList<float> start;
    for (int i = 0; i <= 40; ++i)
        start.append(1.0f / (1.0f + (i / 20.0f) * (i / 20.0f)));
    const WeightFitResult fit = fitReconstructionWeights(samples, 2, 3, start);
    QCOMPARE(fit.fittedIndexes, QList<int>({0, 10, 20, 30}));
    QCOMPARE(fit.startMse, reconstructionMse(samples, 2, 3, start));
    QCOMPARE(fit.fittedMse, reconstructionMse(samples, 2, 3, fit.weights));
    QVERIFY(fit.startMse > 20);
    QVERIFY2(fit.fittedMse < 0.05, qPrintable(QString::number(fit.fittedMse)));
    QVERIFY(std::fabs(fit.weights.at(20) / fit.weights.at(0) - (-0.12f)) < 0.005);
    QVERIFY(std::fabs(fit.weights.at(30) / fit.weights.at(10) - (-0.09f / 0.6f)) < 0.005);
    for (int i = 0; i < start.size(); ++i)
        if (!fit.fittedIndexes.contains(i))
            QCOMPARE(fit.weights.at(i), start.at(i));

    // Started at the optimum, nothing moves; and through ftjpeg, on real JPEG
    // components, the written table's error is never above the start's.
    const WeightFitResult still = fitReconstructionWeights(samples, 2, 3, known);
    QCOMPARE(still.fittedMse, still.startMse);
    QCOMPARE(still.weights, known);

    ScratchDir scratch;
    loadPhoto(QStringLiteral("chelsea.png")).copy(0, 0, 150, 101).save(QStringLiteral("a.png"));
    loadPhoto(QStringLiteral("brick.png")).copy(0, 0, 120, 90).save(QStringLiteral("b.png"));
    QVERIFY(writeFileBytes(QStringLiteral("start.txt"), tableText(start)));
    const ProcessResult run = runProcess(binPath(QStringLiteral("ftjpeg")),
        {"fit-weights", "a.png", "b.png", "--reconstruct-radius", "3", "--quality", "80", "--holdout", "1",
         "--weights", "start.txt", "--out", "fit.txt"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.startsWith("fitted on 1 image: PSNR ") && run.out.contains("\nheld out 1 image: PSNR "),
             run.out.constData());
    const QList<QByteArray> lines = readFileBytes(QStringLiteral("fit.txt")).split('\n');
    QCOMPARE(lines.size(), start.size() + 1);
    QList<float> written;
    for (int i = 0; i < start.size(); ++i)
        written.append(lines.at(i).toFloat());
    HybridVariant variant;
    variant.reconstructRadius = 3;
    const QImage a(QStringLiteral("a.png"));
    QByteArray file;
    QVERIFY(!compressHybridVariant(a, 80, variant, start, &file).isNull());
    const QList<WeightFitSample> corpus{{QImage::fromData(file), a}};
    QVERIFY(reconstructionMse(corpus, 2, 3, written) < reconstructionMse(corpus, 2, 3, start));

    // Beside the table, what it was fitted on; the study marks those images
    // (found by their bytes, under any name) for the schemes using it.
    const QList<QByteArray> provenance = readFileBytes(QStringLiteral("fit.txt.provenance")).split('\n');
    QCOMPARE(provenance.size(), 4);
    QVERIFY2(provenance[0].startsWith("options\t--step 2 --kernel-radius 2 --reconstruct-radius 3 --chroma 420 "
                                      "--quality 80 --holdout 1"),
             provenance[0].constData());
    const QByteArray digestA = QCryptographicHash::hash(readFileBytes(QStringLiteral("a.png")),
                                                        QCryptographicHash::Sha256).toHex();
    QCOMPARE(provenance[1], "fitted\t" + digestA + "\ta.png");
    QVERIFY(provenance[2].startsWith("held-out\t") && provenance[2].endsWith("\tb.png"));
    QVERIFY(QFile::copy(QStringLiteral("a.png"), QStringLiteral("again.png")));
    const ProcessResult study = runProcess(binPath(QStringLiteral("ftjpeg")),
        {"rd", "again.png", "b.png", "--schemes", "jpeg", "--hybrid", "rradius=3,weights=fit.txt", "--no-ablation",
         "--out", "out"});
    QVERIFY2(study.exitCode == 0, study.err.constData());
    QVERIFY2(study.err.contains("note: the weights of hybrid:rradius=3,weights=fit.txt were fitted on 1 of the images "
                                "measured"),
             study.err.constData());
    QCOMPARE(readFileBytes(QStringLiteral("out/fitted.csv")),
             QByteArray("scheme,image_index,image\n\"hybrid:rradius=3,weights=fit.txt\",0,again.png\n"));
    QVERIFY(readFileBytes(QStringLiteral("out/report.html")).contains("<li>hybrid:rradius=3,weights=fit.txt: again.png</li>"));
}

void TestHybridVariant::studyMeasuresVariantsAsTheirFiles()
{
    ScratchDir scratch;
    loadPhoto(QStringLiteral("chelsea.png")).copy(0, 0, 91, 67).save(QStringLiteral("a.png"));
    QVERIFY(writeFileBytes(QStringLiteral("table.txt"), tableText(slopedTable())));
    const QString spec = QStringLiteral("step=3,rradius=4,weights=%1,optimize,clamp").arg(scratch.filePath("table.txt"));
    const ProcessResult run = runProcess(binPath(QStringLiteral("ftjpeg")),
        {"rd", "a.png", "--schemes", "jpeg", "--hybrid", spec, "--keep", "kept", "--out", "out", "--jobs", "2",
         "--no-ablation"});
    QCOMPARE(run.exitCode, 0);
    RdStudy study;
    QString error;
    QVERIFY2(RdOutput::readStudy(QStringLiteral("out"), &study, &error), qPrintable(error));
    const QString name = QStringLiteral("hybrid:step=3,rradius=4,weights=table.txt,optimize,clamp");
    QCOMPARE(studySchemes(study), QStringList({"jpeg", name}));
    int variantPoints = 0;
    for (const RdPoint &point : study.images.value(0).points) {
        if (point.scheme != name || point.quality % 25 != 0)
            continue;
        ++variantPoints;
        // The kept file is what ftjpeg compress writes for the same variant.
        const ProcessResult compress = runProcess(binPath(QStringLiteral("ftjpeg")),
            {"compress", "a.png", "c.jpg", "--step", "3", "--reconstruct-radius", "4", "--optimize", "--clamp",
             "--weights", "table.txt", "--quality", QString::number(point.quality)});
        QCOMPARE(compress.exitCode, 0);
        QCOMPARE(readFileBytes(point.file), readFileBytes(QStringLiteral("c.jpg")));
        QCOMPARE(point.sizeBytes, qint64(readFileBytes(QStringLiteral("c.jpg")).size()));
    }
    QCOMPARE(variantPoints, 5);

    const ProcessResult bad = runProcess(binPath(QStringLiteral("ftjpeg")), {"rd", "a.png", "--hybrid", "step=2,sharpen"});
    QCOMPARE(bad.exitCode, 2);
    QVERIFY2(bad.err.contains("--hybrid: 'sharpen' in 'step=2,sharpen' is not a variant key"), bad.err.constData());
}

void TestHybridVariant::comparisonBelowTheCrossover()
{
    // PSNR linear in log10(rate): the monotone cubic reproduces it exactly.
    QVector<RateQualityPoint> anchor;
    QVector<RateQualityPoint> half;
    for (int i = 0; i <= 8; ++i) {
        const double rate = std::pow(10.0, -1.0 + 0.25 * i);
        anchor.append({rate, 30.0 + 10.0 * std::log10(rate)});
        half.append({rate / 2, 30.0 + 10.0 * std::log10(rate)});
    }
    const RdComparison ahead = compareRateQuality(anchor, half);
    QVERIFY(std::isnan(ahead.crossoverRate));
    QVERIFY(std::fabs(ahead.belowRatePercent + 50.0) < 1e-9);
    QVERIFY(std::fabs(ahead.whole.ratePercent + 50.0) < 1e-9);
    QCOMPARE(ahead.testCeiling, 40.0);
    // Behind from the start: no range below the crossover.
    const RdComparison behind = compareRateQuality(half, anchor);
    QCOMPARE(behind.crossoverRate, anchor.front().rate);
    QVERIFY(std::isnan(behind.belowRatePercent));
}

QTEST_MAIN(TestHybridVariant)
#include "test_hybridvariant.moc"
