#include "codec/qimage/scanlinesource.h"

#include "codec/dsp/pixelrows.h"

#include <cstring>

namespace veltrano {

static_assert(sizeof(QRgb) == sizeof(std::uint32_t), "QRgb is a 32-bit word");

namespace {

// The pixel word of the bytes red, green, blue and alpha in memory order,
// read as one little-endian 32-bit word.
inline QRgb rgbaFromBytes(std::uint32_t word)
{
    return (word & 0xFF00FF00u) | ((word & 0xFFu) << 16) | ((word >> 16) & 0xFFu);
}

} // namespace

ScanLineSource::ScanLineSource(const QImage &image)
    : image(image)
{
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        kind = Kind::Direct;
        return;
    case QImage::Format_Grayscale8:
        kind = Kind::Grey;
        break;
    case QImage::Format_RGB888:
        kind = Kind::Rgb888;
        break;
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888:
        kind = Kind::Rgba8888;
        break;
    case QImage::Format_Indexed8:
        kind = Kind::Indexed;
        // pixel() gives 0 for an index beyond the colour table.
        colours = image.colorTable();
        colours.resize(256);
        for (int i = image.colorTable().size(); i < 256; ++i)
            colours[i] = 0;
        break;
    default:
        kind = Kind::Generic;
        break;
    }
    buffer.resize(std::size_t(image.width() > 0 ? image.width() : 0));
}

const QRgb *ScanLineSource::row(int y)
{
    const int columns = image.width();
    switch (kind) {
    case Kind::Direct:
        return reinterpret_cast<const QRgb *>(image.constScanLine(y));
    case Kind::Grey:
        greyBytesToWords(image.constScanLine(y), buffer.data(), columns);
        break;
    case Kind::Rgb888:
        rgbBytesToWords(image.constScanLine(y), buffer.data(), columns);
        break;
    case Kind::Rgba8888: {
        // Bytes red, green, blue, alpha; pixel() returns them unpremultiplied.
        const uchar *in = image.constScanLine(y);
        QRgb *out = buffer.data();
        for (int x = 0; x < columns; ++x, in += 4) {
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
            std::uint32_t word;
            std::memcpy(&word, in, sizeof word);
            out[x] = rgbaFromBytes(word);
#else
            out[x] = (uint(in[3]) << 24) | (uint(in[0]) << 16) | (uint(in[1]) << 8) | uint(in[2]);
#endif
        }
        break;
    }
    case Kind::Indexed: {
        const uchar *in = image.constScanLine(y);
        const QRgb *table = colours.constData();
        for (int x = 0; x < columns; ++x)
            buffer[std::size_t(x)] = table[in[x]];
        break;
    }
    case Kind::Generic:
        for (int x = 0; x < columns; ++x)
            buffer[std::size_t(x)] = image.pixel(x, y);
        break;
    }
    return buffer.data();
}

const std::uint32_t *ScanLineSource::fetch(void *source, int y)
{
    return static_cast<ScanLineSource *>(source)->row(y);
}

} // namespace veltrano
