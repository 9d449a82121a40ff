#include "app/imagepyramid.h"

namespace veltrano {

namespace {
// Each pixel the mean of a 2 x 2 block, the last row and column repeated for
// odd sizes; premultiplied values average correctly.
QImage halved(const QImage &image)
{
    const int width = (image.width() + 1) / 2;
    const int height = (image.height() + 1) / 2;
    QImage out(width, height, image.format());
    if (out.isNull())
        return out;
    for (int y = 0; y < height; ++y) {
        const auto *top = reinterpret_cast<const QRgb *>(image.constScanLine(2 * y));
        const auto *bottom = reinterpret_cast<const QRgb *>(image.constScanLine(qMin(2 * y + 1, image.height() - 1)));
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int left = 2 * x;
            const int right = qMin(left + 1, image.width() - 1);
            const QRgb p[4] = {top[left], top[right], bottom[left], bottom[right]};
            quint32 sums[4] = {0, 0, 0, 0};
            for (const QRgb v : p) {
                sums[0] += v >> 24;
                sums[1] += (v >> 16) & 0xFF;
                sums[2] += (v >> 8) & 0xFF;
                sums[3] += v & 0xFF;
            }
            line[x] = qRgba((sums[1] + 2) / 4, (sums[2] + 2) / 4, (sums[3] + 2) / 4, (sums[0] + 2) / 4);
        }
    }
    return out;
}
} // namespace

void ImagePyramid::setImage(const QImage &image)
{
    levels = {image};
}

const QImage &ImagePyramid::image() const
{
    static const QImage none;
    return levels.isEmpty() ? none : levels.first();
}

const QImage &ImagePyramid::levelFor(double scale, double *levelScale)
{
    int level = 0;
    while (scale <= 0.5 && !levels.isEmpty()) {
        if (level + 1 == levels.size()) {
            const QImage &last = levels.last();
            if (last.width() <= 1 && last.height() <= 1)
                break;
            const QImage next = halved(last);
            if (next.isNull())
                break;
            levels.append(next);
        }
        scale *= 2;
        ++level;
    }
    *levelScale = scale;
    return levels.isEmpty() ? image() : levels.at(level);
}

} // namespace veltrano
