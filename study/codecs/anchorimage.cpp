#include "study/codecs/anchorimage.h"

#include <vector>

bool isGreyImage(const QImage &image)
{
    if (image.format() == QImage::Format_Grayscale8)
        return true;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) != qGreen(p) || qGreen(p) != qBlue(p))
                return false;
        }
    return true;
}

AnchorPixels anchorPixels(const QImage &image)
{
    AnchorPixels pixels;
    pixels.width = image.width();
    pixels.height = image.height();
    pixels.channels = isGreyImage(image) ? 1 : 3;
    pixels.samples.resize(pixels.width * pixels.height * pixels.channels);
    unsigned char *out = reinterpret_cast<unsigned char *>(pixels.samples.data());
    for (int y = 0; y < pixels.height; ++y)
        for (int x = 0; x < pixels.width; ++x) {
            const QRgb p = image.pixel(x, y);
            if (pixels.channels == 1) {
                *out++ = static_cast<unsigned char>(qGreen(p));
            } else {
                *out++ = static_cast<unsigned char>(qRed(p));
                *out++ = static_cast<unsigned char>(qGreen(p));
                *out++ = static_cast<unsigned char>(qBlue(p));
            }
        }
    return pixels;
}

QImage imageFromSamples(const unsigned char *samples, int width, int height, int channels, int rowBytes)
{
    if (width <= 0 || height <= 0 || (channels != 1 && channels != 3) || rowBytes < width * channels)
        return QImage();
    QImage image(width, height, channels == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    if (image.isNull())
        return image;
    for (int y = 0; y < height; ++y) {
        const unsigned char *row = samples + qint64(y) * rowBytes;
        if (channels == 1) {
            std::copy(row, row + width, image.scanLine(y));
            continue;
        }
        QRgb *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            out[x] = qRgb(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
    }
    return image;
}
