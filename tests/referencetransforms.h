#ifndef REFERENCETRANSFORMS_H
#define REFERENCETRANSFORMS_H

// Slow, plainly written transforms that the codec's results are checked
// against: one QImage::pixel() call per tap, the loops in the documented
// order, single-precision accumulators, nothing precomputed.

#include <QImage>
#include <QList>
#include <QRgb>
#include <QString>

#include <cmath>
#include <cstdlib>

// A channel: the float quotient truncated toward zero, low 8 bits kept; a
// zero weight sum (or a quotient that is not a finite int) gives 0.
inline int referenceChannel(float colourSum, float weightSum)
{
    if (weightSum == 0.0f)
        return 0;
    const float quotient = colourSum / weightSum;
    if (!(quotient > -2147483648.0f && quotient < 2147483648.0f))
        return 0;
    const int truncated = static_cast<int>(quotient);
    return truncated & 0xFF;
}

inline QRgb referencePixel(int red, int green, int blue)
{
    return qRgba(red, green, blue, 255);
}

// Direct F-transform: node rows outer, node columns inner; per node, pixel
// columns outer and pixel rows inner.
inline QImage referenceDirectFTransform(const QImage &image, int step, const QList<float> &kernel)
{
    const int width = image.width();
    const int height = image.height();
    const int n = kernel.size() - 1;
    QImage result(width / step, height / step, QImage::Format_ARGB32);
    for (int y = 0; y < height; y += step) {
        int row = y / step;
        if (row > height / step - 1)
            row = height / step - 1;
        int i = 0;
        for (int x = 0; x < width; x += step) {
            float red = 0.0f;
            float green = 0.0f;
            float blue = 0.0f;
            float weight = 0.0f;
            for (int px = x - n; px <= x + n; ++px) {
                for (int py = y - n; py <= y + n; ++py) {
                    if (px < 0 || px >= width || py < 0 || py >= height)
                        continue;
                    const float s = kernel.at(std::abs(x - px)) * kernel.at(std::abs(y - py));
                    const QRgb pixel = image.pixel(px, py);
                    red = red + float(qRed(pixel)) * s;
                    green = green + float(qGreen(pixel)) * s;
                    blue = blue + float(qBlue(pixel)) * s;
                    weight = weight + s;
                }
            }
            if (i < width / step)
                result.setPixel(i, row,
                                referencePixel(referenceChannel(red, weight), referenceChannel(green, weight),
                                               referenceChannel(blue, weight)));
            ++i;
        }
    }
    return result;
}

// Inverse F-transform: output rows outer, output columns inner; per pixel,
// row terms outer and column terms inner, weights looked up at
// ceil(float(|d| * float(20 / step))).
inline QImage referenceInverseFTransform(const QImage &components, int width, int height, int step, int radius,
                                         const QList<float> &weights)
{
    const float q = float(20.0 / step);
    const int lastColumn = components.width() - 1;
    const int lastRow = components.height() - 1;
    QImage result(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            float red = 0.0f;
            float green = 0.0f;
            float blue = 0.0f;
            float weight = 0.0f;
            for (int j = y - radius; j <= y + radius; ++j) {
                if (j < 0 || j > height - 1 || j % step != 0)
                    continue;
                int nodeRow = j / step;
                if (nodeRow > lastRow)
                    nodeRow = lastRow;
                const float dy = float(std::abs(y - j)) * q;
                const float rowWeight = weights.at(int(std::ceil(dy)));
                for (int k = x - radius; k <= x + radius; ++k) {
                    if (k < 0 || k > width - 1 || k % step != 0)
                        continue;
                    int nodeColumn = k / step;
                    if (nodeColumn > lastColumn)
                        nodeColumn = lastColumn;
                    const float dx = float(std::abs(x - k)) * q;
                    const float columnWeight = weights.at(int(std::ceil(dx)));
                    const float s = rowWeight * columnWeight;
                    const QRgb pixel = components.pixel(nodeColumn, nodeRow);
                    red = red + float(qRed(pixel)) * s;
                    green = green + float(qGreen(pixel)) * s;
                    blue = blue + float(qBlue(pixel)) * s;
                    weight = weight + s;
                }
            }
            result.setPixel(x, y,
                            referencePixel(referenceChannel(red, weight), referenceChannel(green, weight),
                                           referenceChannel(blue, weight)));
        }
    }
    return result;
}

// The first pixel at which two images differ, as "(x, y): 0xAARRGGBB vs
// 0xAARRGGBB", or an empty string when they have the same size, format and
// pixels.
inline QString firstPixelDifference(const QImage &actual, const QImage &expected)
{
    if (actual.size() != expected.size())
        return QStringLiteral("size %1x%2 vs %3x%4")
            .arg(actual.width())
            .arg(actual.height())
            .arg(expected.width())
            .arg(expected.height());
    if (actual.format() != expected.format())
        return QStringLiteral("format %1 vs %2").arg(int(actual.format())).arg(int(expected.format()));
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x)
            if (actual.pixel(x, y) != expected.pixel(x, y))
                return QStringLiteral("(%1, %2): 0x%3 vs 0x%4")
                    .arg(x)
                    .arg(y)
                    .arg(actual.pixel(x, y), 8, 16, QLatin1Char('0'))
                    .arg(expected.pixel(x, y), 8, 16, QLatin1Char('0'));
    return QString();
}

#endif // REFERENCETRANSFORMS_H
