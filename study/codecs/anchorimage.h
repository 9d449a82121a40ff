#ifndef ANCHORIMAGE_H
#define ANCHORIMAGE_H

#include <QByteArray>
#include <QImage>

#include <algorithm>

namespace veltrano {

// The pixels of the study's codecs, as they hand them to a library and take
// them back: used by the resampling here and by the codecs' implementations
// in the study-codec module (module/). Defined in this header, so that each
// of the two compiles its own copy (the module's stays hidden inside it).

// Interleaved 8-bit samples of an image as the anchor codecs take them:
// one grey sample per pixel when every pixel is grey (red = green = blue),
// red, green, blue otherwise; rows without padding. Pixels are read as
// QImage::pixel gives them, alpha ignored.
struct AnchorPixels
{
    int width = 0;
    int height = 0;
    int channels = 3;
    QByteArray samples;
};

// Whether every pixel of the image has red = green = blue.
inline bool isGreyImage(const QImage &image)
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

inline AnchorPixels anchorPixels(const QImage &image)
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

// The image of interleaved samples (1 channel: Format_Grayscale8; 3:
// Format_RGB32), copied; null when the sizes do not agree.
inline QImage imageFromSamples(const unsigned char *samples, int width, int height, int channels, int rowBytes)
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

} // namespace veltrano

#endif // ANCHORIMAGE_H
