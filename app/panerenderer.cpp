#include "app/panerenderer.h"

#include <QVector>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace veltrano {

namespace {
const int maxSamplesPerAxis = 4;

// For each output pixel along one axis, the image indices of its samples,
// -1 for a sample beside the image.
QVector<int> sampleIndices(int outputLength, int samples, double scale, double offset, int imageLength)
{
    QVector<int> indices(outputLength * samples);
    for (int p = 0; p < outputLength; ++p)
        for (int s = 0; s < samples; ++s) {
            const double at = (p + (s + 0.5) / samples - offset) / scale;
            const double index = std::floor(at);
            indices[p * samples + s] = index >= 0 && index < imageLength ? int(index) : -1;
        }
    return indices;
}

inline QRgb differencePixel(QRgb a, QRgb b)
{
    a = qUnpremultiply(a);
    b = qUnpremultiply(b);
    auto channel = [](int x, int y) { return std::min(255, 4 * std::abs(x - y)); };
    return qRgb(channel(qRed(a), qRed(b)), channel(qGreen(a), qGreen(b)), channel(qBlue(a), qBlue(b)));
}
} // namespace

QImage viewableFormat(const QImage &image)
{
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return image;
    default:
        return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                             : QImage::Format_RGB32);
    }
}

QImage renderPane(const QImage &source, const QImage *reference, double scale, const QPointF &topLeft,
                  const QSize &outputSize)
{
    QImage out(outputSize, QImage::Format_ARGB32_Premultiplied);
    if (out.isNull())
        return out;
    out.fill(Qt::transparent);
    if (source.isNull() || (reference && reference->isNull()) || scale <= 0)
        return out;

    const int samples = scale >= 1 ? 1 : std::min(maxSamplesPerAxis, int(std::ceil(1 / scale - 1e-9)));
    int width = source.width();
    int height = source.height();
    if (reference) {
        width = std::min(width, reference->width());
        height = std::min(height, reference->height());
    }
    const QVector<int> columns = sampleIndices(outputSize.width(), samples, scale, topLeft.x(), width);
    const QVector<int> rows = sampleIndices(outputSize.height(), samples, scale, topLeft.y(), height);

    for (int y = 0; y < outputSize.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        if (samples == 1) {
            const int row = rows[y];
            if (row < 0)
                continue;
            const auto *sourceLine = reinterpret_cast<const QRgb *>(source.constScanLine(row));
            const auto *referenceLine
                = reference ? reinterpret_cast<const QRgb *>(reference->constScanLine(row)) : nullptr;
            for (int x = 0; x < outputSize.width(); ++x) {
                const int column = columns[x];
                if (column < 0)
                    continue;
                line[x] = referenceLine ? differencePixel(sourceLine[column], referenceLine[column])
                                        : sourceLine[column];
            }
            continue;
        }
        // Premultiplied samples are averaged as they are; those beside the
        // image count as transparent, which softens its border.
        const QRgb *sourceLines[maxSamplesPerAxis];
        const QRgb *referenceLines[maxSamplesPerAxis];
        int lines = 0;
        for (int sy = 0; sy < samples; ++sy) {
            const int row = rows[y * samples + sy];
            if (row < 0)
                continue;
            sourceLines[lines] = reinterpret_cast<const QRgb *>(source.constScanLine(row));
            referenceLines[lines]
                = reference ? reinterpret_cast<const QRgb *>(reference->constScanLine(row)) : nullptr;
            ++lines;
        }
        if (lines == 0)
            continue;
        const int count = samples * samples;
        const int *columnSamples = columns.constData();
        for (int x = 0; x < outputSize.width(); ++x, columnSamples += samples) {
            quint32 alpha = 0, red = 0, green = 0, blue = 0;
            for (int sx = 0; sx < samples; ++sx) {
                const int column = columnSamples[sx];
                if (column < 0)
                    continue;
                for (int r = 0; r < lines; ++r) {
                    const QRgb pixel = reference ? differencePixel(sourceLines[r][column], referenceLines[r][column])
                                                 : sourceLines[r][column];
                    alpha += pixel >> 24;
                    red += (pixel >> 16) & 0xFF;
                    green += (pixel >> 8) & 0xFF;
                    blue += pixel & 0xFF;
                }
            }
            line[x] = qRgba(red / count, green / count, blue / count, alpha / count);
        }
    }
    return out;
}

QImage differenceImage(const QImage &image, const QImage &reference)
{
    const QSize size(std::min(image.width(), reference.width()), std::min(image.height(), reference.height()));
    return renderPane(image, &reference, 1.0, QPointF(0, 0), size).convertToFormat(QImage::Format_RGB32);
}

QRgb straightPixel(const QImage &image, const QPoint &pixel)
{
    return qUnpremultiply(reinterpret_cast<const QRgb *>(image.constScanLine(pixel.y()))[pixel.x()]);
}

} // namespace veltrano
