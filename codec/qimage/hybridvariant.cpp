#include "codec/qimage/hybridvariant.h"

#include "codec/qimage/directtransform.h"
#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/imagefile.h"
#include "codec/qimage/inversetransform.h"
#include "codec/transform/kernel.h"
#include "codec/format/variantsegment.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace veltrano {

namespace {

// libjpeg's largest image side.
constexpr int maxJpegDimension = 65500;

QImage failImage(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return QImage();
}

QByteArray failBytes(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return QByteArray();
}

struct JpegErrorManager
{
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpegErrorExit(j_common_ptr info)
{
    auto *manager = reinterpret_cast<JpegErrorManager *>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->jump, 1);
}

void jpegQuiet(j_common_ptr, int) {}

struct EncodeJob
{
    int width = 0;
    int height = 0;
    int channels = 3;       // 1 (grey) or 3 (RGB)
    const unsigned char *pixels = nullptr; // rows of width * channels bytes
    int quality = 70;
    bool optimize = false;
    bool progressive = false;
    bool chroma444 = false;
    const QByteArray *segment = nullptr; // the whole marker segment, if any
};

// libjpeg reports errors by longjmp, so this function keeps no object with a
// destructor between setjmp and the calls that may jump.
bool runEncoder(const EncodeJob &job, unsigned char **output, unsigned long *outputSize, char *message)
{
    jpeg_compress_struct cinfo;
    JpegErrorManager manager;
    cinfo.err = jpeg_std_error(&manager.base);
    manager.base.error_exit = jpegErrorExit;
    manager.base.emit_message = jpegQuiet;
    manager.message[0] = '\0';
    if (setjmp(manager.jump)) {
        std::snprintf(message, JMSG_LENGTH_MAX, "%s", manager.message);
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, output, outputSize);
    cinfo.image_width = JDIMENSION(job.width);
    cinfo.image_height = JDIMENSION(job.height);
    cinfo.input_components = job.channels;
    cinfo.in_color_space = job.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    // 72 dots per inch, as the classic hybrid file states it.
    cinfo.density_unit = 1;
    cinfo.X_density = 72;
    cinfo.Y_density = 72;
    jpeg_set_quality(&cinfo, job.quality, TRUE);
    if (job.channels == 3 && job.chroma444) {
        cinfo.comp_info[0].h_samp_factor = 1;
        cinfo.comp_info[0].v_samp_factor = 1;
    }
    cinfo.optimize_coding = job.optimize ? TRUE : FALSE;
    if (job.progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    // Written after the JFIF header, before the tables.
    if (job.segment) {
        const QByteArray &segment = *job.segment;
        jpeg_write_marker(&cinfo, JPEG_APP0 + 9,
                          reinterpret_cast<const JOCTET *>(segment.constData()) + 4, unsigned(segment.size() - 4));
    }
    const std::size_t stride = std::size_t(job.width) * std::size_t(job.channels);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(job.pixels + std::size_t(cinfo.next_scanline) * stride);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

bool isGrey(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (qRed(row[x]) != qGreen(row[x]) || qRed(row[x]) != qBlue(row[x]))
                return false;
    }
    return true;
}

// The components of a JPEG stream, decoded by Qt's reader as the window reads
// any JPEG file; the expected size is checked from the header before decoding.
QImage decodeComponents(const QByteArray &data, const QSize &expected, QString *error)
{
    QByteArray copy = data;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    if (reader.size() != expected)
        return failImage(error, QStringLiteral("its JPEG stream holds %1x%2 components instead of %3x%4")
                                    .arg(reader.size().width())
                                    .arg(reader.size().height())
                                    .arg(expected.width())
                                    .arg(expected.height()));
    QImage image;
    if (!reader.read(&image) || image.size() != expected)
        return failImage(error, QStringLiteral("its components cannot be decoded: %1").arg(reader.errorString()));
    return image;
}

QList<float> tableFromEntries(const VariantSegment &segment)
{
    QList<float> table;
    const int size = segment.entries.isEmpty() ? 0 : segment.entries.last().first + 1;
    table.reserve(size);
    for (int i = 0; i < size; ++i)
        table.append(0.0f);
    for (const QPair<int, float> &entry : segment.entries)
        table[entry.first] = entry.second;
    return table;
}

QByteArray readWholeFile(const QString &fileName, QString *error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot open %1: %2").arg(QDir::toNativeSeparators(fileName), file.errorString());
        return QByteArray();
    }
    return file.readAll();
}

// The image as JPEG with the variant's coding: one channel when every pixel
// is grey, three otherwise; the segment (if any) after the JFIF header.
QByteArray encodeWithVariantCoding(const QImage &image, int quality, const HybridVariant &variant,
                                   const QByteArray *segment, QString *error)
{
    const QImage components = image.convertToFormat(QImage::Format_ARGB32);
    const bool grey = isGrey(components);
    const int channels = grey ? 1 : 3;
    std::vector<unsigned char> pixels(std::size_t(components.width()) * std::size_t(components.height())
                                      * std::size_t(channels));
    std::size_t at = 0;
    for (int y = 0; y < components.height(); ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(components.constScanLine(y));
        for (int x = 0; x < components.width(); ++x) {
            if (grey) {
                pixels[at++] = static_cast<unsigned char>(qRed(row[x]));
            } else {
                pixels[at++] = static_cast<unsigned char>(qRed(row[x]));
                pixels[at++] = static_cast<unsigned char>(qGreen(row[x]));
                pixels[at++] = static_cast<unsigned char>(qBlue(row[x]));
            }
        }
    }
    EncodeJob job;
    job.width = components.width();
    job.height = components.height();
    job.channels = channels;
    job.pixels = pixels.data();
    job.quality = quality;
    job.optimize = variant.optimize;
    job.progressive = variant.progressive;
    job.chroma444 = variant.chroma444;
    job.segment = segment;
    unsigned char *output = nullptr;
    unsigned long outputSize = 0;
    char message[JMSG_LENGTH_MAX] = {};
    const bool encoded = runEncoder(job, &output, &outputSize, message);
    QByteArray data;
    if (encoded && output) {
        data = QByteArray(reinterpret_cast<const char *>(output), int(outputSize));
        std::free(output);
    }
    // After a failure the buffer belongs to the destination manager, which
    // may have replaced it; it is left alone (the checks of the callers keep
    // the encoder from failing on its input).
    if (!encoded || data.isEmpty())
        return failBytes(error, QStringLiteral("the JPEG encoder failed: %1").arg(QString::fromLocal8Bit(message)));
    return data;
}

} // namespace

namespace {

struct Term
{
    int node;
    float weight;
};

// The terms of one output row or column, as the inverse transform builds
// them: j within the radius and the output, multiples of step only, node
// index clamped to the last component.
std::vector<Term> termsOf(int position, int size, int nodes, int step, int radius, const QList<float> &weights)
{
    std::vector<Term> terms;
    const float scale = static_cast<float>(20.0 / step);
    for (int j = std::max(position - radius, 0); j <= std::min(position + radius, size - 1); ++j) {
        if (j % step != 0)
            continue;
        const float product = float(std::abs(position - j)) * scale;
        terms.push_back({std::min(j / step, nodes - 1), weights.at(int(std::ceil(double(product))))});
    }
    return terms;
}

uint clampedChannel(float colourSum, float weightSum)
{
    if (weightSum == 0.0f)
        return 0;
    const float quotient = colourSum / weightSum;
    if (std::isnan(quotient) || quotient < 1.0f)
        return 0;
    if (quotient >= 255.0f)
        return 255;
    return uint(int(quotient));
}

QImage expandClamped(const QImage &components, int width, int height, int step, int radius,
                     const QList<float> &weights)
{
    const QImage nodes = components.convertToFormat(QImage::Format_ARGB32);
    QImage output(width, height, QImage::Format_ARGB32);
    if (nodes.isNull() || output.isNull())
        return QImage();
    std::vector<std::vector<Term>> columns(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x)
        columns[std::size_t(x)] = termsOf(x, width, nodes.width(), step, radius, weights);
    for (int y = 0; y < height; ++y) {
        const std::vector<Term> rows = termsOf(y, height, nodes.height(), step, radius, weights);
        QRgb *out = reinterpret_cast<QRgb *>(output.scanLine(y));
        for (int x = 0; x < width; ++x) {
            float red = 0.0f;
            float green = 0.0f;
            float blue = 0.0f;
            float weight = 0.0f;
            for (const Term &row : rows) {
                const QRgb *line = reinterpret_cast<const QRgb *>(nodes.constScanLine(row.node));
                for (const Term &column : columns[std::size_t(x)]) {
                    const float s = row.weight * column.weight;
                    const QRgb pixel = line[column.node];
                    red = red + float(qRed(pixel)) * s;
                    green = green + float(qGreen(pixel)) * s;
                    blue = blue + float(qBlue(pixel)) * s;
                    weight = weight + s;
                }
            }
            out[x] = 0xFF000000u | (clampedChannel(red, weight) << 16) | (clampedChannel(green, weight) << 8)
                | clampedChannel(blue, weight);
        }
    }
    return output;
}

} // namespace

QImage expandHybridVariant(const QImage &components, int width, int height, int step, int radius, bool clamp,
                           const QList<float> &weights, QString *error)
{
    if (!clamp)
        return inverseFTransform(components, width, height, step, radius, weights, error);
    // The same checks as the inverse transform's, then the clamped pass.
    const QImage probe = components.isNull() || width < 1 || height < 1 || step < 1 || step > maxTransformStep
            || radius < 0 || weights.size() < requiredWeightCount(width, height, step, radius)
        ? inverseFTransform(components, width, height, step, radius, weights, error)
        : QImage(1, 1, QImage::Format_ARGB32);
    if (probe.isNull())
        return QImage();
    const QImage output = expandClamped(components, width, height, step, std::min(radius, std::max(width, height) - 1),
                                        weights);
    if (output.isNull() && error)
        *error = QStringLiteral("cannot allocate an image of %1x%2 pixels").arg(width).arg(height);
    return output;
}

QString checkHybridVariant(const HybridVariant &variant)
{
    if (variant.step < 1 || variant.step > maxTransformStep)
        return QStringLiteral("node spacing %1 is outside 1 to %2").arg(variant.step).arg(maxTransformStep);
    if (variant.kernelRadius < 1 || variant.kernelRadius > maxTransformStep)
        return QStringLiteral("kernel radius %1 is outside 1 to %2").arg(variant.kernelRadius).arg(maxTransformStep);
    if (variant.reconstructRadius < 0
        || qint64(variant.reconstructRadius) > qint64(maxVariantRadiusSpacings + 1) * variant.step - 1)
        return QStringLiteral("reconstruction radius %1 is outside 0 to %2 (%3 node spacings of %4)")
            .arg(variant.reconstructRadius)
            .arg(qint64(maxVariantRadiusSpacings + 1) * variant.step - 1)
            .arg(maxVariantRadiusSpacings)
            .arg(variant.step);
    return QString();
}

QByteArray encodeHybridVariant(const QImage &source, int quality, const HybridVariant &variant,
                               const QList<float> &weights, QString *error)
{
    const QString invalid = checkHybridVariant(variant);
    if (!invalid.isEmpty())
        return failBytes(error, invalid);
    if (quality < 0 || quality > 100)
        return failBytes(error, QStringLiteral("JPEG quality %1 is outside 0 to 100").arg(quality));
    if (source.isNull() || source.width() < variant.step || source.height() < variant.step)
        return failBytes(error, QStringLiteral("an image of %1x%2 pixels is too small for a component image "
                                               "(at least %3x%3 pixels are needed)")
                                    .arg(source.width())
                                    .arg(source.height())
                                    .arg(variant.step));
    const int width = source.width();
    const int height = source.height();
    if (width / variant.step > maxJpegDimension || height / variant.step > maxJpegDimension)
        return failBytes(error, QStringLiteral("a component image of %1x%2 pixels is larger than JPEG allows "
                                               "(%3 pixels a side)")
                                    .arg(width / variant.step)
                                    .arg(height / variant.step)
                                    .arg(maxJpegDimension));
    const QList<int> indexes = usedWeightIndexes(width, height, variant.step, variant.reconstructRadius);
    if (indexes.size() > maxVariantSegmentEntries())
        return failBytes(error, QStringLiteral("the expansion uses %1 weight entries, more than a variant segment "
                                               "holds (%2)")
                                    .arg(indexes.size())
                                    .arg(maxVariantSegmentEntries()));
    VariantSegment segment;
    segment.sourceWidth = width;
    segment.sourceHeight = height;
    segment.step = variant.step;
    segment.kernelRadius = variant.kernelRadius;
    segment.reconstructRadius = variant.reconstructRadius;
    segment.quality = quality;
    segment.flags = (variant.optimize ? VariantOptimized : 0) | (variant.progressive ? VariantProgressive : 0)
        | (variant.chroma444 ? VariantChroma444 : 0) | (variant.clamp ? VariantClamp : 0);
    for (int index : indexes) {
        if (index >= weights.size())
            return failBytes(error, QStringLiteral("the weights table has %1 entries, but step %2 and radius %3 "
                                                   "need %4")
                                        .arg(weights.size())
                                        .arg(variant.step)
                                        .arg(variant.reconstructRadius)
                                        .arg(indexes.last() + 1));
        const float weight = weights.at(index);
        if (!std::isfinite(weight))
            return failBytes(error, QStringLiteral("weight entry %1 is not finite; a variant records finite "
                                                   "weights only")
                                        .arg(index));
        segment.entries.append(qMakePair(index, weight));
    }

    const QImage components = withFixedResolution(
        directFTransform(source, variant.step, makeRaisedCosineKernel(variant.kernelRadius)));
    if (components.isNull())
        return failBytes(error, QStringLiteral("cannot compute the component image of %1x%2 pixels")
                                    .arg(width)
                                    .arg(height));
    const QByteArray marker = serializeVariantSegment(segment);
    QByteArray data = encodeWithVariantCoding(components, quality, variant, &marker, error);
    if (data.isEmpty())
        return QByteArray();
    if (!markHybridJpegData(data))
        return failBytes(error, QStringLiteral("the JPEG encoder wrote no JFIF header to mark"));
    return data;
}

QByteArray encodeVariantJpeg(const QImage &image, int quality, const HybridVariant &variant, QString *error)
{
    if (quality < 0 || quality > 100)
        return failBytes(error, QStringLiteral("JPEG quality %1 is outside 0 to 100").arg(quality));
    if (image.isNull() || image.width() > maxJpegDimension || image.height() > maxJpegDimension)
        return failBytes(error, QStringLiteral("an image of %1x%2 pixels cannot be stored as JPEG")
                                    .arg(image.width())
                                    .arg(image.height()));
    return encodeWithVariantCoding(image, quality, variant, nullptr, error);
}

QImage compressHybridVariant(const QImage &source, int quality, const HybridVariant &variant,
                             const QList<float> &weights, QByteArray *data, QString *error)
{
    const QByteArray bytes = encodeHybridVariant(source, quality, variant, weights, error);
    if (bytes.isEmpty())
        return QImage();
    const QSize size(source.width() / variant.step, source.height() / variant.step);
    const QImage components = decodeComponents(bytes, size, error);
    if (components.isNull())
        return QImage();
    if (data)
        *data = bytes;
    return withFixedResolution(expandHybridVariant(components, source.width(), source.height(), variant.step,
                                                   variant.reconstructRadius, variant.clamp, weights, error));
}

namespace {

QImage expandVariant(const VariantSegment &segment, const QImage &components, QString *error)
{
    return withFixedResolution(expandHybridVariant(components, segment.sourceWidth, segment.sourceHeight,
                                                   segment.step, segment.reconstructRadius,
                                                   (segment.flags & VariantClamp) != 0, tableFromEntries(segment),
                                                   error));
}

} // namespace

QImage decodeHybridVariant(const QByteArray &data, QString *error)
{
    VariantSegment segment;
    if (!parseVariantSegment(data, &segment, error))
        return QImage();
    const QSize size(segment.sourceWidth / segment.step, segment.sourceHeight / segment.step);
    const QImage components = decodeComponents(data, size, error);
    if (components.isNull())
        return QImage();
    return expandVariant(segment, components, error);
}

QImage decompressHybridVariant(const QString &fileName, QString *error)
{
    const QString name = QDir::toNativeSeparators(fileName);
    QString reason;
    const QByteArray data = readWholeFile(fileName, &reason);
    if (data.isEmpty())
        return failImage(error, reason.isEmpty() ? QStringLiteral("cannot read %1: the file is empty").arg(name)
                                                 : reason);
    VariantSegment segment;
    if (!parseVariantSegment(data, &segment, &reason))
        return failImage(error, QStringLiteral("cannot decode %1: %2").arg(name, reason));
    // The components are read as any image file is, with its checks against
    // damaged streams; the segment has bounded their size by then.
    const QSize size(segment.sourceWidth / segment.step, segment.sourceHeight / segment.step);
    QImage components;
    if (!readImageFile(fileName, components, &reason, qint64(size.width()) * qint64(size.height())))
        return failImage(error, reason);
    if (components.size() != size)
        return failImage(error, QStringLiteral("cannot decode %1: its components read back at %2x%3 instead of "
                                               "%4x%5")
                                    .arg(name)
                                    .arg(components.width())
                                    .arg(components.height())
                                    .arg(size.width())
                                    .arg(size.height()));
    const QImage image = expandVariant(segment, components, &reason);
    if (image.isNull())
        return failImage(error, QStringLiteral("cannot decode %1: %2").arg(name, reason));
    return image;
}

} // namespace veltrano
