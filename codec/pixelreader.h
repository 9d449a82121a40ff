#ifndef PIXELREADER_H
#define PIXELREADER_H

#include <QImage>
#include <QRgb>

#include <vector>

// Random access to the pixels of an image with the values QImage::pixel()
// returns, without its per-call cost. 32-bit images are read in place; any
// other format (grey, indexed, 16-bit, premultiplied 8565 ...) is fetched
// once through QImage::pixel() into a buffer. Only the colour bits are
// meaningful: alpha is left as stored.
class PixelReader
{
public:
    explicit PixelReader(const QImage &image);

    int width() const { return columns; }
    int height() const { return rows; }
    const QRgb *row(int y) const
    {
        return direct ? reinterpret_cast<const QRgb *>(bits + std::size_t(y) * stride)
                      : buffer.data() + std::size_t(y) * std::size_t(columns);
    }

private:
    int columns = 0;
    int rows = 0;
    bool direct = false;
    const uchar *bits = nullptr;
    std::size_t stride = 0;
    std::vector<QRgb> buffer;
};

#endif // PIXELREADER_H
