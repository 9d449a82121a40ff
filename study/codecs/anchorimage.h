#ifndef ANCHORIMAGE_H
#define ANCHORIMAGE_H

#include <QByteArray>
#include <QImage>

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
bool isGreyImage(const QImage &image);

AnchorPixels anchorPixels(const QImage &image);

// The image of interleaved samples (1 channel: Format_Grayscale8; 3:
// Format_RGB32), copied; null when the sizes do not agree.
QImage imageFromSamples(const unsigned char *samples, int width, int height, int channels, int rowBytes);

#endif // ANCHORIMAGE_H
