#include "rgbrows.h"

#include <algorithm>

void readRgbRow(const QImage &image, int y, QRgb *out)
{
    const int width = image.width();
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied: {
        // pixel() hands these out unchanged (premultiplied ones included).
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        std::copy(line, line + width, out);
        return;
    }
    case QImage::Format_Grayscale8: {
        const uchar *line = image.constScanLine(y);
        for (int x = 0; x < width; ++x)
            out[x] = qRgb(line[x], line[x], line[x]);
        return;
    }
    default:
        for (int x = 0; x < width; ++x)
            out[x] = image.pixel(x, y);
        return;
    }
}
