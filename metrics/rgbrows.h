#ifndef RGBROWS_H
#define RGBROWS_H

#include <QImage>
#include <QRgb>

// Reads row y of image into out (image.width() values), each value exactly
// what image.pixel(x, y) returns, but straight from the scan line for the
// common 32-bit and 8-bit grey formats. Callers ignore the alpha bits.
void readRgbRow(const QImage &image, int y, QRgb *out);

#endif // RGBROWS_H
