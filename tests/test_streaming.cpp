// The row-by-row file operations against the in-memory ones: on real
// photographs cropped to odd and even sizes, stored as PPM, PGM, PNG (RGB,
// grey, palette, alpha) and JPEG (colour, grey, the original camera file),
// for several steps and radii and every quality class, the files must be
// byte for byte those the in-memory path writes. Inputs the streaming
// readers do not reproduce exactly, and damaged ones, must be left to the
// in-memory path with nothing written.

#include "testsupport.h"

#include "codec/qimage/directtransform.h"
#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/imagefile.h"
#include "codec/rowio/imagerowreader.h"
#include "codec/rowio/imagerowwriter.h"
#include "codec/qimage/inversetransform.h"
#include "codec/rowio/jpegrowwriter.h"
#include "codec/transform/kernel.h"
#include "codec/dsp/pixelrows.h"
#include "codec/streaming/streamingcodec.h"
#include "codec/transform/weightsfile.h"

#include <QBuffer>
#include <QDir>
#include <QImageWriter>
#include <QtTest>

#include <algorithm>
#include <random>
#include <vector>

using namespace veltrano;

namespace {

struct Input
{
    QString file;
    QString label;
};

QList<float> testWeights()
{
    QList<float> weights;
    for (int i = 0; i <= 40; ++i)
        weights.append(1.0f - float(i) / 40.0f);
    return weights;
}

bool save(const QImage &image, const QString &file, const QByteArray &format, int quality = -1,
          bool progressive = false)
{
    QImageWriter writer(file, format);
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    return writer.write(image);
}

QImage crop(const QString &photo, int width, int height)
{
    return loadPhoto(photo).copy(0, 0, width, height);
}

// Every pixel's alpha set from its position, the colours kept.
QImage withAlpha(QImage image)
{
    image = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = (row[x] & 0xFFFFFFu) | (uint((x * 7 + y * 3) % 256) << 24);
    }
    return image;
}

} // namespace

class StreamingTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void rowsMatchTheirDefinition();
    void directMatchesInMemory();
    void inverseMatchesInMemory();
    void hybridMatchesInMemory();
    void qualitiesAsQtsWriterTakesThem();
    void othersAreLeftToTheInMemoryPath();
    void outputFailuresAreReported();
    void decodesBeyondTheInMemoryLimit();

private:
    QString path(const QString &name) const { return scratch.filePath(name); }
    // The formats the streamed outputs of an input are compared in. PNG
    // encoding is slow and its writer sees only rows and a size: it is tried
    // on the odd-sized photograph (whose outputs have odd and even sides;
    // its PNG file has a colour profile, which outputs must not take on)
    // and the tiny image, on outputs of up to 600000 pixels.
    static QList<QByteArray> outputFormats(const Input &input, const QImage &output, bool withPng = true)
    {
        if (withPng && (input.label == "odd.png" || input.label == "tiny.ppm")
            && qint64(output.width()) * output.height() <= 600000)
            return {"jpg", "ppm", "png"};
        return {"jpg", "ppm"};
    }
    // The in-memory operation's file beside the streamed one, compared.
    void compareFiles(const QString &streamed, const QString &reference, const QString &what);

    QTemporaryDir scratch;
    QList<Input> inputs;
};

void StreamingTest::initTestCase()
{
    QVERIFY(scratch.isValid());
    const QImage colourOdd = crop("chelsea.png", 451, 299);
    const QImage colourEven = crop("astronaut.png", 320, 244);
    const QImage grey = crop("camera.png", 301, 257).convertToFormat(QImage::Format_Grayscale8);
    const QImage tiny = crop("chelsea.png", 3, 2);
    struct Made
    {
        QImage image;
        QString name;
        QByteArray format;
        int quality;
    };
    const QList<Made> made = {
        {colourOdd, "odd.ppm", "ppm", -1},
        {colourEven, "even.ppm", "ppm", -1},
        {grey, "grey.pgm", "pgm", -1},
        {tiny, "tiny.ppm", "ppm", -1},
        {colourOdd, "odd.png", "png", -1},
        {grey, "grey.png", "png", -1},
        {colourEven.convertToFormat(QImage::Format_Indexed8), "indexed.png", "png", -1},
        {colourOdd.convertToFormat(QImage::Format_Indexed8,
                                   QVector<QRgb>{0xFF000000u, 0xFF808080u, 0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu,
                                                 0xFFFFFFFFu, 0xFF804020u, 0xFF204080u}),
         "eight.png", "png", -1},
        {withAlpha(colourOdd), "alpha.png", "png", -1},
        {colourOdd, "odd.jpg", "jpg", 90},
        {grey, "grey.jpg", "jpg", 80},
    };
    for (const Made &m : made) {
        QVERIFY2(save(m.image, path(m.name), m.format, m.quality), qPrintable(m.name));
        inputs.append({path(m.name), m.name});
    }
    inputs.append({photoPath("hubble_deep_field.jpg"), "hubble_deep_field.jpg"});
}

// Rows of every length up to a few shuffle widths, in buffers of exactly
// their size (so that AddressSanitizer sees any access beyond them), against
// the pixel words written out one by one.
void StreamingTest::rowsMatchTheirDefinition()
{
    std::mt19937 random(17);
    for (int count = 0; count <= 70; ++count) {
        std::vector<unsigned char> rgb(static_cast<std::size_t>(3 * count));
        std::vector<unsigned char> grey(static_cast<std::size_t>(count));
        for (unsigned char &byte : rgb)
            byte = static_cast<unsigned char>(random());
        for (unsigned char &byte : grey)
            byte = static_cast<unsigned char>(random());
        std::vector<std::uint32_t> words(static_cast<std::size_t>(count));
        rgbBytesToWords(rgb.data(), words.data(), count);
        for (int x = 0; x < count; ++x)
            QCOMPARE(words[x], qRgb(rgb[3 * x], rgb[3 * x + 1], rgb[3 * x + 2]));
        greyBytesToWords(grey.data(), words.data(), count);
        for (int x = 0; x < count; ++x)
            QCOMPARE(words[x], qRgb(grey[x], grey[x], grey[x]));
        // Alpha is ignored on the way out.
        for (int x = 0; x < count; ++x)
            words[x] = (std::uint32_t(random()) & 0xFF000000u) | qRgb(rgb[3 * x], rgb[3 * x + 1], rgb[3 * x + 2]);
        std::vector<unsigned char> back(static_cast<std::size_t>(3 * count));
        wordsToRgbBytes(words.data(), back.data(), count);
        QVERIFY2(back == rgb, qPrintable(QString::number(count)));
    }

    // A PPM file whose rows are wider than the block its reader reads at a
    // time (one row per read then; Qt's own reader cannot read it at all).
    const QImage wide = loadPhoto("chelsea.png").scaled(87403, 5).convertToFormat(QImage::Format_RGB32);
    QVERIFY(save(wide, path("wide.ppm"), "ppm"));
    QString error;
    QCOMPARE(streamDirectTransform(path("wide.ppm"), path("wide-streamed.ppm"), "ppm", 2, makeRaisedCosineKernel(2),
                                   &error),
             StreamOutcome::Done);
    QVERIFY2(writeImageFile(path("wide-reference.ppm"), directFTransform(wide, 2, makeRaisedCosineKernel(2)), "ppm",
                            -1, &error),
             qPrintable(error));
    compareFiles(path("wide-streamed.ppm"), path("wide-reference.ppm"), "wide.ppm");
}

void StreamingTest::compareFiles(const QString &streamed, const QString &reference, const QString &what)
{
    const QByteArray a = readFileBytes(streamed);
    const QByteArray b = readFileBytes(reference);
    QVERIFY2(!b.isEmpty(), qPrintable(what + ": no reference file"));
    QVERIFY2(a == b, qPrintable(QStringLiteral("%1: %2 bytes streamed, %3 in memory").arg(what).arg(a.size()).arg(b.size())));
}

void StreamingTest::directMatchesInMemory()
{
    // (step, kernel radius): the hybrid kernel, exact separable sums, and a
    // kernel whose sums round (the general order).
    const QList<QPair<int, int>> geometries = {{2, 2}, {1, 1}, {3, 2}, {2, 3}, {4, 5}};
    for (const Input &input : inputs) {
        QImage image;
        QString error;
        QVERIFY2(readImageFile(input.file, image, &error), qPrintable(error));
        for (const auto &geometry : geometries) {
            if (image.width() < geometry.first || image.height() < geometry.first)
                continue;
            const QList<float> kernel = makeRaisedCosineKernel(geometry.second);
            const QImage components = directFTransform(image, geometry.first, kernel);
            for (const QByteArray &format : outputFormats(input, components)) {
                const QString what =
                    QStringLiteral("%1 step %2 radius %3 %4").arg(input.label).arg(geometry.first).arg(geometry.second).arg(QString(format));
                const QString streamed = path("streamed." + format);
                const QString reference = path("reference." + format);
                QVERIFY2(writeImageFile(reference, components, format, -1, &error), qPrintable(error));
                QCOMPARE(streamDirectTransform(input.file, streamed, format, geometry.first, kernel, &error),
                         StreamOutcome::Done);
                compareFiles(streamed, reference, what);
            }
        }
    }
}

void StreamingTest::inverseMatchesInMemory()
{
    // (step, radius, width, height) from components of the inputs' size:
    // twice the size, odd sizes that reuse the last node, a larger output.
    const QList<float> weights = testWeights();
    struct Case
    {
        int step, radius;
        int widthNumerator, extraWidth, extraHeight;
    };
    const QList<Case> cases = {{2, 1, 2, 0, 0}, {2, 1, 2, 1, 1}, {3, 2, 3, 2, 0}, {1, 0, 1, 0, 1}, {2, 3, 2, 1, 0},
                               {4, 5, 4, 3, 2}};
    for (const Input &input : inputs) {
        QImage components;
        QString error;
        QVERIFY2(readImageFile(input.file, components, &error), qPrintable(error));
        for (const Case &c : cases) {
            const int width = components.width() * c.widthNumerator + c.extraWidth;
            const int height = components.height() * c.step + c.extraHeight;
            if (weights.size() < requiredWeightCount(width, height, c.step, c.radius))
                continue;
            const QImage expanded = inverseFTransform(components, width, height, c.step, c.radius, weights, &error);
            QVERIFY2(!expanded.isNull(), qPrintable(error));
            for (const QByteArray &format : outputFormats(input, expanded)) {
                const QString what = QStringLiteral("%1 step %2 radius %3 to %4x%5 %6")
                                         .arg(input.label)
                                         .arg(c.step)
                                         .arg(c.radius)
                                         .arg(width)
                                         .arg(height)
                                         .arg(QString(format));
                const QString streamed = path("streamed." + format);
                const QString reference = path("reference." + format);
                QVERIFY2(writeImageFile(reference, expanded, format, -1, &error), qPrintable(error));
                QCOMPARE(streamInverseTransform(input.file, streamed, format, width, height, c.step, c.radius, weights,
                                                &error),
                         StreamOutcome::Done);
                compareFiles(streamed, reference, what);
            }
        }
    }
}

void StreamingTest::hybridMatchesInMemory()
{
    const QList<float> weights = testWeights();
    for (const Input &input : inputs) {
        QImage source;
        QString error;
        QVERIFY2(readImageFile(input.file, source, &error), qPrintable(error));
        for (const int quality : {0, 1, 24, 50, 70, 93, 100}) {
            const QString what = QStringLiteral("%1 quality %2").arg(input.label).arg(quality);
            const QString hybrid = path("hybrid.jpg");
            qint64 pixels = 0;
            qint64 bytes = 0;
            QCOMPARE(streamHybridCompress(input.file, hybrid, quality, weights, &pixels, &bytes, &error),
                     StreamOutcome::Done);
            const QByteArray expected = encodeHybridJpeg(source, quality, &error);
            QVERIFY2(readFileBytes(hybrid) == expected, qPrintable(what));
            QCOMPARE(bytes, qint64(expected.size()));
            QCOMPARE(pixels, qint64(source.width()) * source.height());

            // Decoding the file: in memory, then streamed.
            const QImage decoded = decompressHybrid(hybrid, weights, &error);
            QVERIFY2(!decoded.isNull(), qPrintable(error));
            // PNG at a low and a high quality.
            for (const QByteArray &format : outputFormats(input, decoded, quality == 24 || quality == 93)) {
                const QString streamed = path("decoded." + format);
                const QString reference = path("reference." + format);
                QVERIFY2(writeImageFile(reference, decoded, format, -1, &error), qPrintable(error));
                QCOMPARE(streamHybridDecompress(hybrid, streamed, format, weights, &error), StreamOutcome::Done);
                compareFiles(streamed, reference, what + " decoded to " + format);
            }
        }
    }
}

void StreamingTest::qualitiesAsQtsWriterTakesThem()
{
    // The operations write at the default quality; a writer given another
    // writes what Qt's writer makes of it (a zlib level for PNG).
    const QImage cropped = crop("astronaut.png", 161, 97).convertToFormat(QImage::Format_ARGB32);
    QImage photo(cropped.width(), cropped.height(), QImage::Format_ARGB32);
    for (int y = 0; y < photo.height(); ++y)
        std::copy_n(cropped.constScanLine(y), photo.bytesPerLine(), photo.scanLine(y));
    for (const QByteArray &format : {QByteArray("jpg"), QByteArray("png")}) {
        for (const int quality : {0, 1, 12, 50, 89, 90, 100}) {
            const QString what = QStringLiteral("%1 quality %2").arg(QString(format)).arg(quality);
            const QString streamed = path("quality." + format);
            const QString reference = path("quality-reference." + format);
            QString error;
            QVERIFY2(writeImageFile(reference, photo, format, quality, &error), qPrintable(error));
            const std::unique_ptr<ImageRowWriter> writer = ImageRowWriter::create(
                streamed, format, photo.width(), photo.height(), photo.dotsPerMeterX(), quality);
            QVERIFY(writer && writer->start());
            for (int y = 0; y < photo.height(); ++y)
                QVERIFY(writer->writeRow(reinterpret_cast<const std::uint32_t *>(photo.constScanLine(y))));
            QVERIFY2(writer->finish(), qPrintable(writer->error()));
            compareFiles(streamed, reference, what);
        }
    }
}

void StreamingTest::othersAreLeftToTheInMemoryPath()
{
    const QImage colour = crop("chelsea.png", 200, 151);
    QVERIFY(save(colour, path("plain.bmp"), "bmp"));
    QVERIFY(save(colour, path("progressive.jpg"), "jpg", 80, true));
    QVERIFY(save(colour.convertToFormat(QImage::Format_RGBA64), path("deep.png"), "png"));
    QVERIFY(save(colour, path("whole.ppm"), "ppm"));
    QVERIFY(save(colour, path("whole.jpg"), "jpg", 80));
    const QByteArray ppm = readFileBytes(path("whole.ppm"));
    QVERIFY(writeFileBytes(path("truncated.ppm"), ppm.left(ppm.size() - 1)));
    // A JPEG whose entropy-coded data stops two thirds of the way through,
    // and one with a stretch of it overwritten.
    const QByteArray jpeg = readFileBytes(path("whole.jpg"));
    QVERIFY(writeFileBytes(path("cut.jpg"), jpeg.left(jpeg.size() * 2 / 3)));
    QByteArray damaged = jpeg;
    for (int i = jpeg.size() / 2; i < jpeg.size() / 2 + 200; ++i)
        damaged[i] = char(0xFF);
    QVERIFY(writeFileBytes(path("damaged.jpg"), damaged));
    QVERIFY(writeFileBytes(path("comment.ppm"), "P6\n# " + QByteArray(120, 'x') + "\n2 2\n255\n" + QByteArray(12, 'a')));

    const QList<float> weights = testWeights();
    const QString output = path("left.jpg");
    for (const char *name : {"plain.bmp", "progressive.jpg", "deep.png", "comment.ppm"}) {
        QFile::remove(output);
        QString error;
        qint64 pixels = 0;
        qint64 bytes = 0;
        QCOMPARE(streamDirectTransform(path(name), output, "jpg", 2, makeRaisedCosineKernel(2), &error),
                 StreamOutcome::NotStreamed);
        QCOMPARE(streamHybridCompress(path(name), output, 70, weights, &pixels, &bytes, &error),
                 StreamOutcome::NotStreamed);
        QCOMPARE(streamHybridDecompress(path(name), output, "ppm", weights, &error), StreamOutcome::NotStreamed);
        QVERIFY2(!QFile::exists(output), name);
    }
    // Damaged data, cut short or overwritten, is refused by the streaming
    // path itself, in the in-memory path's words.
    for (const char *name : {"cut.jpg", "damaged.jpg", "truncated.ppm"}) {
        QImage image;
        QString expected;
        QVERIFY(!readImageFile(path(name), image, &expected));
        QString error;
        QCOMPARE(streamDirectTransform(path(name), output, "ppm", 2, makeRaisedCosineKernel(2), &error),
                 StreamOutcome::Failed);
        QCOMPARE(error, expected);
        error.clear();
        QCOMPARE(streamHybridDecompress(path(name), output, "jpg", weights, &error), StreamOutcome::Failed);
        QCOMPARE(error, expected);
        QVERIFY2(!QFile::exists(output), name);
        const ProcessResult run = runProcess(binPath("ftjpeg"), {"direct", path(name), output});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(QString::fromLocal8Bit(run.err), "ftjpeg: " + expected + '\n');
        QVERIFY2(!QFile::exists(output), name);
    }
    // Too small for the step, a table too short, formats written in memory.
    QString error;
    qint64 pixels = 0;
    qint64 bytes = 0;
    QCOMPARE(streamDirectTransform(inputs.at(3).file, output, "jpg", 4, makeRaisedCosineKernel(2), &error),
             StreamOutcome::NotStreamed);
    QCOMPARE(streamHybridCompress(path("whole.ppm"), output, 70, weights.mid(0, 10), &pixels, &bytes, &error),
             StreamOutcome::NotStreamed);
    QCOMPARE(streamDirectTransform(path("whole.ppm"), path("left.bmp"), "bmp", 2, makeRaisedCosineKernel(2), &error),
             StreamOutcome::NotStreamed);
    QVERIFY(!QFile::exists(output) && !QFile::exists(path("left.bmp")));

    // Through ftjpeg, such inputs give what the in-memory path gives.
    const ProcessResult run = runProcess(binPath("ftjpeg"), {"direct", path("plain.bmp"), path("fromBmp.ppm")});
    QCOMPARE(run.exitCode, 0);
    QImage image;
    QVERIFY(readImageFile(path("plain.bmp"), image, &error));
    QVERIFY(writeImageFile(path("fromBmpReference.ppm"), directFTransform(image, 2, makeRaisedCosineKernel(2)), "ppm",
                           -1, &error));
    compareFiles(path("fromBmp.ppm"), path("fromBmpReference.ppm"), "bmp through ftjpeg");
}

void StreamingTest::outputFailuresAreReported()
{
    QString error;
    for (const QByteArray &format : {QByteArray("jpg"), QByteArray("png")}) {
        const QString missingFolder = path("no such folder/out." + format);
        QCOMPARE(streamDirectTransform(inputs.at(0).file, missingFolder, format, 2, makeRaisedCosineKernel(2), &error),
                 StreamOutcome::Failed);
        QVERIFY2(error.startsWith("cannot write " + QDir::toNativeSeparators(missingFolder) + ": "),
                 qPrintable(error));
    }

    // An earlier file stays as it was when the new one cannot be completed:
    // a JPEG cannot be 70000 pixels wide.
    const QString kept = path("kept.jpg");
    QVERIFY(writeFileBytes(kept, "earlier"));
    QVERIFY(save(QImage(1, 1, QImage::Format_RGB32), path("one.ppm"), "ppm"));
    QCOMPARE(streamInverseTransform(path("one.ppm"), kept, "jpg", 70000, 2, 1, 0, testWeights(), &error),
             StreamOutcome::Failed);
    QVERIFY2(error.contains("too large for JPEG"), qPrintable(error));
    QCOMPARE(readFileBytes(kept), QByteArray("earlier"));

    // A PNG may be wider than the million pixels libpng and Qt's writer
    // allow by default.
    QCOMPARE(streamInverseTransform(path("one.ppm"), path("wide.png"), "png", 1000003, 2, 1, 0, testWeights(), &error),
             StreamOutcome::Done);
    const QByteArray png = readFileBytes(path("wide.png"));
    QCOMPARE(png.mid(12, 12), QByteArray("IHDR\x00\x0F\x42\x43\x00\x00\x00\x02", 12));
    QVERIFY(png.endsWith(QByteArray("IEND\xAE\x42\x60\x82", 8)));
}

void StreamingTest::decodesBeyondTheInMemoryLimit()
{
    // A hybrid file of 8200 x 8200 uniform components decodes to 16400 x
    // 16400 pixels, more than the in-memory limit: ftjpeg streams it, and
    // with weights 1 and 0.5 every decoded pixel is the component colour.
    const int side = 8200;
    QVERIFY(qint64(2 * side) * (2 * side) > maxDecodedPixels);
    const QString hybrid = path("large.jpg");
    {
        JpegRowWriter writer(hybrid, side, side, hybridDotsPerMeter, 90);
        writer.setHybridMarker(true);
        QVERIFY(writer.start());
        const std::vector<std::uint32_t> row(side, 0xFF5A7896u);
        for (int y = 0; y < side; ++y)
            QVERIFY(writer.writeRow(row.data()));
        QVERIFY(writer.finish());
    }
    QByteArray weights;
    for (int i = 0; i <= 20; ++i)
        weights += i == 0 ? "1\n" : "0.5\n";
    QVERIFY(writeFileBytes(path("halves.txt"), weights));

    const ProcessResult run =
        runProcess(binPath("ftjpeg"), {"decompress", "--weights", path("halves.txt"), hybrid, path("large-out.jpg")});
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QString error;
    const std::unique_ptr<ImageRowReader> components = ImageRowReader::open(hybrid, &error);
    const std::unique_ptr<ImageRowReader> decoded = ImageRowReader::open(path("large-out.jpg"), &error);
    QVERIFY(components && decoded);
    QCOMPARE(decoded->width(), 2 * side);
    QCOMPARE(decoded->height(), 2 * side);
    // The decoded image, encoded again, is as flat: one colour everywhere,
    // within the rounding of the flat blocks' quantised mean.
    const std::uint32_t colour = components->row(0)[0];
    const std::uint32_t first = decoded->row(0)[0];
    for (int shift = 0; shift < 24; shift += 8)
        QVERIFY(qAbs(int((first >> shift) & 0xFF) - int((colour >> shift) & 0xFF)) <= 2);
    for (const int y : {0, 1, 8191, 2 * side - 1}) {
        const std::uint32_t *pixels = decoded->row(y);
        for (int x = 0; x < 2 * side; x += 97)
            QCOMPARE(pixels[x], first);
    }
    QVERIFY(!decoded->failed());
}

QTEST_GUILESS_MAIN(StreamingTest)
#include "test_streaming.moc"
