#include "directtransform.h"

#include "pixelmath.h"
#include "pixelreader.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

QImage directFTransform(const QImage &image, int step, const QList<float> &kernel)
{
    if (image.isNull() || step < 1 || kernel.isEmpty())
        return QImage();
    const int width = image.width();
    const int height = image.height();
    const int componentWidth = width / step;
    const int componentHeight = height / step;
    if (componentWidth < 1 || componentHeight < 1)
        return QImage();

    QImage components(componentWidth, componentHeight, QImage::Format_ARGB32);
    if (components.isNull())
        return QImage();

    const PixelReader pixels(image);
    const int radius = kernel.size() - 1;
    const std::vector<float> coefficients(kernel.cbegin(), kernel.cend());

    for (int y = 0; y < height; y += step) {
        const int componentRow = std::min(componentHeight - 1, y / step);
        QRgb *out = reinterpret_cast<QRgb *>(components.scanLine(componentRow));
        const int firstRow = std::max(0, y - radius);
        const int lastRow = std::min(height - 1, y + radius);
        int column = 0;
        for (int x = 0; x < width && column < componentWidth; x += step, ++column) {
            float red = 0.0f;
            float green = 0.0f;
            float blue = 0.0f;
            float weightSum = 0.0f;
            const int firstColumn = std::max(0, x - radius);
            const int lastColumn = std::min(width - 1, x + radius);
            for (int px = firstColumn; px <= lastColumn; ++px) {
                const float columnWeight = coefficients[std::size_t(std::abs(x - px))];
                for (int py = firstRow; py <= lastRow; ++py) {
                    const float s = columnWeight * coefficients[std::size_t(std::abs(y - py))];
                    const QRgb pixel = pixels.row(py)[px];
                    red += float(qRed(pixel)) * s;
                    green += float(qGreen(pixel)) * s;
                    blue += float(qBlue(pixel)) * s;
                    weightSum += s;
                }
            }
            out[column] = opaquePixel(channelFromSums(red, weightSum), channelFromSums(green, weightSum),
                                      channelFromSums(blue, weightSum));
        }
    }
    return components;
}
