#include "scanlinesource.h"

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define VELTRANO_SSSE3_ROWS
#endif

static_assert(sizeof(QRgb) == sizeof(std::uint32_t), "QRgb is a 32-bit word");

namespace {

// The pixel word of the bytes red, green, blue and alpha in memory order,
// read as one little-endian 32-bit word.
inline QRgb rgbaFromBytes(std::uint32_t word)
{
    return (word & 0xFF00FF00u) | ((word & 0xFFu) << 16) | ((word >> 16) & 0xFFu);
}

inline QRgb rgbFromBytes(std::uint32_t word)
{
    return 0xFF000000u | rgbaFromBytes(word);
}

#ifdef VELTRANO_SSSE3_ROWS
// RGB888 pixels to words, four at a time by a byte shuffle; returns how many
// were done. Each step loads 16 bytes for the 12 it uses, so it stops while
// 16 bytes remain in the row.
__attribute__((target("ssse3"))) int rgb888RowSsse3(const uchar *in, QRgb *out, int columns)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    const __m128i alpha = _mm_set1_epi32(int(0xFF000000u));
    int x = 0;
    for (; 3 * (x + 4) + 4 <= 3 * columns; x += 4) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x), _mm_or_si128(_mm_shuffle_epi8(bytes, order), alpha));
    }
    return x;
}

const bool haveSsse3 = __builtin_cpu_supports("ssse3");
#endif

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
    case Kind::Grey: {
        const uchar *in = image.constScanLine(y);
        for (int x = 0; x < columns; ++x)
            buffer[std::size_t(x)] = 0xFF000000u | (uint(in[x]) * 0x010101u);
        break;
    }
    case Kind::Rgb888: {
        const uchar *in = image.constScanLine(y);
        QRgb *out = buffer.data();
        int x = 0;
#ifdef VELTRANO_SSSE3_ROWS
        if (haveSsse3) {
            x = rgb888RowSsse3(in, out, columns);
            in += 3 * x;
        }
#endif
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        // Four pixels from three 32-bit words of their 12 bytes.
        for (; x + 4 <= columns; x += 4, in += 12) {
            std::uint32_t word[3];
            std::memcpy(word, in, sizeof word);
            out[x] = rgbFromBytes(word[0]);
            out[x + 1] = rgbFromBytes((word[0] >> 24) | (word[1] << 8));
            out[x + 2] = rgbFromBytes((word[1] >> 16) | (word[2] << 16));
            out[x + 3] = rgbFromBytes(word[2] >> 8);
        }
#endif
        for (; x < columns; ++x, in += 3)
            out[x] = 0xFF000000u | (uint(in[0]) << 16) | (uint(in[1]) << 8) | uint(in[2]);
        break;
    }
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
