#include "pngrowreader.h"

#include "pixelrows.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>

#include <png.h>

struct PngRowReader::Decoder
{
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::FILE *file = nullptr;
    long warnings = 0;
    int colourType = 0;
    int channels = 0;
    std::uint32_t palette[256] = {};
};

namespace {

void errorExit(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void warning(png_structp png, png_const_charp)
{
    ++static_cast<PngRowReader::Decoder *>(png_get_error_ptr(png))->warnings;
}

void closeDecoder(PngRowReader::Decoder *decoder)
{
    if (decoder->png)
        png_destroy_read_struct(&decoder->png, decoder->info ? &decoder->info : nullptr, nullptr);
    if (decoder->file)
        std::fclose(decoder->file);
    delete decoder;
}

// Set-up up to the first row; false on any fault or unsupported file. Kept
// apart from objects with destructors, for the long jump.
bool startDecoder(PngRowReader::Decoder *decoder)
{
    png_structp png = decoder->png;
    png_infop info = decoder->info;
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, decoder->file);
    png_read_info(png, info);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int depth = 0;
    int colourType = 0;
    int interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colourType, &interlace, nullptr, nullptr);
    if (interlace != PNG_INTERLACE_NONE || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu)
        return false;
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_GRAY_ALPHA:
    case PNG_COLOR_TYPE_RGB:
    case PNG_COLOR_TYPE_RGB_ALPHA:
        if (depth != 8)
            return false;
        break;
    case PNG_COLOR_TYPE_PALETTE: {
        png_colorp entries = nullptr;
        int count = 0;
        if (png_get_PLTE(png, info, &entries, &count) != PNG_INFO_PLTE || count < 0 || count > 256)
            return false;
        for (int i = 0; i < count; ++i)
            decoder->palette[i] = 0xFF000000u | (std::uint32_t(entries[i].red) << 16)
                | (std::uint32_t(entries[i].green) << 8) | entries[i].blue;
        if (depth < 8)
            png_set_packing(png);
        break;
    }
    default:
        return false;
    }
    png_read_update_info(png, info);
    decoder->colourType = colourType;
    decoder->channels = png_get_channels(png, info);
    return decoder->warnings == 0 && png_get_rowbytes(png, info) == png_size_t(width) * png_size_t(decoder->channels);
}

bool readDecoderRow(PngRowReader::Decoder *decoder, unsigned char *bytes)
{
    if (setjmp(png_jmpbuf(decoder->png)))
        return false;
    png_read_row(decoder->png, bytes, nullptr);
    return decoder->warnings == 0;
}

bool readDecoderEnd(PngRowReader::Decoder *decoder)
{
    if (setjmp(png_jmpbuf(decoder->png)))
        return false;
    png_read_end(decoder->png, nullptr);
    return decoder->warnings == 0;
}

} // namespace

PngRowReader::PngRowReader(Decoder *decoder, int width, int height)
    : ImageRowReader(width, height)
    , decoder(decoder)
    , bytes(std::size_t(width) * std::size_t(decoder->channels))
{
}

PngRowReader::~PngRowReader()
{
    closeDecoder(decoder);
}

std::unique_ptr<ImageRowReader> PngRowReader::open(const QString &fileName)
{
    auto *decoder = new Decoder;
    decoder->file = std::fopen(QFile::encodeName(fileName).constData(), "rb");
    if (decoder->file)
        decoder->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, decoder, errorExit, warning);
    if (decoder->png)
        decoder->info = png_create_info_struct(decoder->png);
    if (!decoder->info || !startDecoder(decoder)) {
        closeDecoder(decoder);
        return nullptr;
    }
    const png_uint_32 width = png_get_image_width(decoder->png, decoder->info);
    const png_uint_32 height = png_get_image_height(decoder->png, decoder->info);
    return std::unique_ptr<ImageRowReader>(new PngRowReader(decoder, int(width), int(height)));
}

bool PngRowReader::readRow(std::uint32_t *out)
{
    if (!readDecoderRow(decoder, bytes.data()))
        return false;
    const unsigned char *in = bytes.data();
    const int columns = width();
    switch (decoder->colourType) {
    case PNG_COLOR_TYPE_GRAY:
        greyBytesToWords(in, out, columns);
        break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        for (int x = 0; x < columns; ++x)
            out[x] = 0xFF000000u | (std::uint32_t(in[2 * x]) * 0x010101u);
        break;
    case PNG_COLOR_TYPE_RGB:
        rgbBytesToWords(in, out, columns);
        break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        for (int x = 0; x < columns; ++x, in += 4)
            out[x] = (std::uint32_t(in[3]) << 24) | (std::uint32_t(in[0]) << 16) | (std::uint32_t(in[1]) << 8) | in[2];
        break;
    default:
        for (int x = 0; x < columns; ++x)
            out[x] = decoder->palette[in[x]];
        break;
    }
    return true;
}

bool PngRowReader::readEnd()
{
    return readDecoderEnd(decoder);
}
