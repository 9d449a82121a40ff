// Writes the seed corpus of the fuzz targets from real files:
//   makecorpus SOURCE_DIR OUTPUT_DIR
// SOURCE_DIR is the project's source folder (data/photos and tests/data are
// read from it); OUTPUT_DIR receives fuzz_hybrid/, fuzz_weights/,
// fuzz_transforms/ and fuzz_region/. Run through fuzz/make-corpus.sh.

#include "codec/qimage/hybridjpeg.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QList>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "codec/qimage/regionimagefile.h"
#include "codec/region/regionfile.h"
#include "codec/region/regiontext.h"

using namespace veltrano;

namespace {

QString outputDir;

void put(const QString &target, const QString &name, const QByteArray &data)
{
    const QString dir = outputDir + QLatin1Char('/') + target;
    QDir().mkpath(dir);
    QFile file(dir + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size()) {
        std::fprintf(stderr, "makecorpus: cannot write %s\n", qPrintable(file.fileName()));
        std::exit(1);
    }
}

QByteArray encode(const QImage &image, const char *format, int quality = -1, bool progressive = false)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    if (!writer.write(image)) {
        std::fprintf(stderr, "makecorpus: cannot encode %s: %s\n", format, qPrintable(writer.errorString()));
        std::exit(1);
    }
    return data;
}

QImage load(const QString &fileName)
{
    QImage image(fileName);
    if (image.isNull()) {
        std::fprintf(stderr, "makecorpus: cannot read %s\n", qPrintable(fileName));
        std::exit(1);
    }
    return image;
}

// Sets the height and width of the first frame header of a JPEG stream.
QByteArray withFrameSize(QByteArray data, int width, int height)
{
    for (int i = 2; i + 8 < data.size(); ++i)
        if (uchar(data[i]) == 0xFF && uchar(data[i + 1]) == 0xC0) {
            data[i + 5] = char(height >> 8);
            data[i + 6] = char(height);
            data[i + 7] = char(width >> 8);
            data[i + 8] = char(width);
            break;
        }
    return data;
}

// The working directory's weights table: 1 / (1 + (i / 20)^2), nine digits.
QByteArray weightsLines(int count, const char *lineEnd)
{
    QByteArray text;
    for (int i = 0; i < count; ++i) {
        const double d = i / 20.0;
        text += QByteArray::number(1.0 / (1.0 + d * d), 'g', 9) + lineEnd;
    }
    return text;
}

void hybridSeeds(const QString &source)
{
    const QString photos = source + QStringLiteral("/data/photos/");
    const QImage chelsea = load(photos + QStringLiteral("chelsea.png"));
    const QImage camera = load(photos + QStringLiteral("camera.png"));
    const QImage hubble = load(photos + QStringLiteral("hubble_deep_field.jpg"));
    const QImage astronaut = load(photos + QStringLiteral("astronaut.png"));

    const QImage crop = chelsea.copy(120, 60, 32, 24).convertToFormat(QImage::Format_RGB32);
    const QImage grey = camera.copy(200, 100, 24, 16);
    const QImage tiny = hubble.copy(50, 50, 7, 5);
    const QImage small = astronaut.scaled(40, 40, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

    for (int quality : {10, 50, 90})
        put("fuzz_hybrid", QStringLiteral("crop_q%1.jpg").arg(quality), encode(crop, "jpg", quality));
    put("fuzz_hybrid", QStringLiteral("grey_q75.jpg"), encode(grey, "jpg", 75));
    put("fuzz_hybrid", QStringLiteral("tiny_q60.jpg"), encode(tiny, "jpg", 60));
    put("fuzz_hybrid", QStringLiteral("small_progressive.jpg"), encode(small, "jpg", 40, true));

    // Marked in memory, and written by the hybrid compression itself.
    QByteArray marked = encode(small, "jpg", 70);
    markHybridJpegData(marked);
    put("fuzz_hybrid", QStringLiteral("small_marked.jpg"), marked);
    {
        QTemporaryDir scratch;
        QList<float> weights;
        for (int i = 0; i < 21; ++i)
            weights.append(float(1.0 / (1.0 + (i / 20.0) * (i / 20.0))));
        const QString hybrid = scratch.path() + QStringLiteral("/hybrid.jpg");
        QString error;
        if (compressHybrid(crop, 80, weights, &error, hybrid).isNull()) {
            std::fprintf(stderr, "makecorpus: hybrid compression failed: %s\n", qPrintable(error));
            std::exit(1);
        }
        QFile file(hybrid);
        file.open(QIODevice::ReadOnly);
        put("fuzz_hybrid", QStringLiteral("crop_hybrid.jpg"), file.readAll());
    }

    // Damaged and hostile JPEG streams.
    const QByteArray whole = encode(crop, "jpg", 50);
    put("fuzz_hybrid", QStringLiteral("crop_truncated.jpg"), whole.left(whole.size() / 2));
    put("fuzz_hybrid", QStringLiteral("claims_65535x65535.jpg"), withFrameSize(whole, 65535, 65535));
    put("fuzz_hybrid", QStringLiteral("claims_20000x20000.jpg"), withFrameSize(encode(tiny, "jpg", 10), 20000, 20000));

    // Other formats Open image accepts.
    QImage alpha = small.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < alpha.height(); ++y)
        for (int x = 0; x < alpha.width(); ++x)
            alpha.setPixel(x, y, (alpha.pixel(x, y) & 0x00FFFFFFu) | (uint((x * 6) & 0xFF) << 24));
    put("fuzz_hybrid", QStringLiteral("alpha.png"), encode(alpha.copy(0, 0, 16, 16), "png"));
    put("fuzz_hybrid", QStringLiteral("crop.bmp"), encode(crop.copy(0, 0, 12, 10), "bmp"));
    put("fuzz_hybrid", QStringLiteral("crop.ppm"), encode(crop.copy(0, 0, 12, 10), "ppm"));
    put("fuzz_hybrid", QStringLiteral("indexed.bmp"),
        encode(small.copy(0, 0, 16, 8).convertToFormat(QImage::Format_Indexed8), "bmp"));
    put("fuzz_hybrid", QStringLiteral("grey.pgm"), encode(grey.copy(0, 0, 8, 8), "pgm"));
    put("fuzz_hybrid", QStringLiteral("mono.xbm"), encode(grey.copy(0, 0, 16, 8).convertToFormat(QImage::Format_Mono), "xbm"));
    for (const char *name : {"palette_color.png", "truncated.jpg"}) {
        QFile file(source + QStringLiteral("/tests/data/") + QLatin1String(name));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "makecorpus: cannot read %s\n", qPrintable(file.fileName()));
            std::exit(1);
        }
        put("fuzz_hybrid", QLatin1String(name), file.readAll());
    }
    // A file of fewer than 13 bytes, and one with a line feed before byte 12.
    put("fuzz_hybrid", QStringLiteral("short.jpg"), QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10));
    QByteArray early = marked;
    early[8] = '\n';
    put("fuzz_hybrid", QStringLiteral("early_line_feed.jpg"), early);
}

void weightsSeeds()
{
    put("fuzz_weights", QStringLiteral("first_lines.txt"), weightsLines(12, "\n"));
    put("fuzz_weights", QStringLiteral("crlf.txt"), weightsLines(12, "\r\n"));
    put("fuzz_weights", QStringLiteral("no_final_line_end.txt"), weightsLines(3, "\n") + "0.5");
    put("fuzz_weights", QStringLiteral("blank_line.txt"), QByteArray("1\n\n0.5\n"));
    put("fuzz_weights", QStringLiteral("text.txt"), QByteArray("1\nweight\n0.5\n"));
    put("fuzz_weights", QStringLiteral("commas.txt"), QByteArray("1,0\n0,5\n1;2\n"));
    put("fuzz_weights", QStringLiteral("nan_inf.txt"), QByteArray("nan\ninf\n-inf\nNaN\n"));
    put("fuzz_weights", QStringLiteral("out_of_range.txt"), QByteArray("1e39\n-1e39\n1e-50\n3.4028235e38\n"));
    put("fuzz_weights", QStringLiteral("spaces.txt"), QByteArray("  1  \n\t0.5\t\n+2.5e-1\n"));
    put("fuzz_weights", QStringLiteral("empty.txt"), QByteArray());
    put("fuzz_weights", QStringLiteral("bom.txt"), QByteArray("\xEF\xBB\xBF" "1\n0.5\n"));
}

// Seeds in the layout fuzz_transforms.cpp reads: eleven parameter bytes,
// then values and pixels; the pixels are rows of a photograph.
void transformSeeds(const QString &source)
{
    const QImage photo = load(source + QStringLiteral("/data/photos/chelsea.png")).convertToFormat(QImage::Format_RGB32);
    struct Seed
    {
        const char *name;
        unsigned char parameters[11];
    };
    const Seed seeds[] = {
        {"hybrid_16x16_rgb32", {15, 15, 0, 1, 1, 1, 0, 0, 31, 31, 0}},
        {"odd_17x9_argb32", {16, 8, 1, 1, 1, 1, 0, 0, 32, 18, 0}},
        {"premultiplied_step3", {23, 20, 2, 2, 2, 2, 0, 0, 47, 40, 0}},
        {"grey_step4_radius3", {31, 31, 3, 3, 3, 3, 0, 0, 60, 50, 0}},
        {"indexed_step1", {9, 9, 4, 0, 0, 0, 0, 0, 9, 9, 5}},
        {"rgb888_step8_radius6", {47, 47, 5, 7, 5, 4, 0, 0, 95, 95, 0}},
        {"dyadic_kernel_and_weights", {20, 12, 0, 1, 2, 1, 1, 1, 40, 24, 0}},
        {"float_kernel_and_weights", {12, 20, 1, 2, 3, 2, 2, 2, 24, 40, 0}},
    };
    for (const Seed &seed : seeds) {
        QByteArray data(reinterpret_cast<const char *>(seed.parameters), 11);
        const uchar *row = photo.constScanLine(200);
        data += QByteArray(reinterpret_cast<const char *>(row) + 400, 600);
        put("fuzz_transforms", QLatin1String(seed.name), data);
    }
}

// Block files of crops of the photographs at a few settings, compressed (of
// version 4, and one each of version 4 in many chunks, 3 and 2, so that
// every reader is fuzzed) and as text, and one cut short.
void regionSeeds(const QString &source)
{
    const QImage photo = load(source + QStringLiteral("/data/photos/chelsea.png"));
    int index = 0;
    for (const float maxDiff : {1.0f, 4.0f, 16.0f}) {
        RegionParameters parameters;
        parameters.maxDiff = maxDiff;
        parameters.minArea = maxDiff > 8 ? 64 : 1;
        parameters.sim = maxDiff > 8 ? 4.0f : 0.0f;
        RegionImage blocks;
        QString error;
        if (!encodeRegionQImage(photo.copy(100 + 20 * index, 60, 70 + index, 45), parameters, &blocks, &error)) {
            std::fprintf(stderr, "makecorpus: region compression failed: %s\n", qPrintable(error));
            std::exit(1);
        }
        const QByteArray data = writeRegionFile(blocks);
        put(QStringLiteral("fuzz_region"), QStringLiteral("blocks%1.ftr").arg(index), data);
        if (index == 1) {
            put(QStringLiteral("fuzz_region"), QStringLiteral("blocks%1.txt").arg(index), writeRegionText(blocks));
            put(QStringLiteral("fuzz_region"), QStringLiteral("cut%1.ftr").arg(index), data.left(data.size() / 2));
            put(QStringLiteral("fuzz_region"), QStringLiteral("blocks%1-v2.ftr").arg(index),
                writeRegionFile(blocks, 2));
            put(QStringLiteral("fuzz_region"), QStringLiteral("blocks%1-v3.ftr").arg(index),
                writeRegionFile(blocks, 3));
            // Three rows of roots, a chunk each.
            RegionImage tall;
            if (!encodeRegionQImage(photo.copy(200, 20, 40, 140), parameters, &tall, &error)) {
                std::fprintf(stderr, "makecorpus: region compression failed: %s\n", qPrintable(error));
                std::exit(1);
            }
            put(QStringLiteral("fuzz_region"), QStringLiteral("chunks%1.ftr").arg(index), writeRegionFile(tall, 4, 1));
        }
        ++index;
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: makecorpus SOURCE_DIR OUTPUT_DIR\n");
        return 2;
    }
    const QString source = QString::fromLocal8Bit(argv[1]);
    outputDir = QString::fromLocal8Bit(argv[2]);
    hybridSeeds(source);
    weightsSeeds();
    transformSeeds(source);
    regionSeeds(source);
    return 0;
}
