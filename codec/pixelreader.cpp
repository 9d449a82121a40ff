#include "pixelreader.h"

PixelReader::PixelReader(const QImage &image)
    : columns(image.width())
    , rows(image.height())
{
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        // QImage::pixel() returns these words as stored (premultiplied ones
        // included); for RGB32 only the unused alpha byte may differ.
        direct = true;
        bits = image.constBits();
        stride = std::size_t(image.bytesPerLine());
        return;
    default:
        break;
    }
    buffer.resize(std::size_t(columns) * std::size_t(rows));
    QRgb *out = buffer.data();
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x)
            *out++ = image.pixel(x, y);
}
