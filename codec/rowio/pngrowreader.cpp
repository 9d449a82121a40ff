#include "codec/rowio/pngrowreader.h"

#include "codec/format/imageheader.h"
#include "codec/dsp/pixelrows.h"

#include <QFile>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <cstdio>

#include <png.h>

namespace veltrano {

struct PngRowReader::Decoder
{
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::FILE *file = nullptr;
    long warnings = 0;
    char error[200] = {}; // libpng's words for the error that stopped it
    int colourType = 0;
    int channels = 0;
    std::uint32_t palette[256] = {};
};

namespace {

void errorExit(png_structp png, png_const_charp message)
{
    auto *decoder = static_cast<PngRowReader::Decoder *>(png_get_error_ptr(png));
    std::snprintf(decoder->error, sizeof decoder->error, "%s", message);
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
    png_read_info(png, info);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int depth = 0;
    int colourType = 0;
    int interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colourType, &interlace, nullptr, nullptr);
    if (interlace != PNG_INTERLACE_NONE || width > pngMaxSide || height > pngMaxSide)
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

// A decoder of the file with the error handling above, its header not yet
// read; null when the file cannot be opened.
PngRowReader::Decoder *openDecoder(const QString &fileName)
{
    auto *decoder = new PngRowReader::Decoder;
    decoder->file = std::fopen(QFile::encodeName(fileName).constData(), "rb");
    if (decoder->file)
        decoder->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, decoder, errorExit, warning);
    if (decoder->png) {
        png_set_user_limits(decoder->png, pngMaxSide, pngMaxSide);
        decoder->info = png_create_info_struct(decoder->png);
    }
    if (!decoder->info) {
        closeDecoder(decoder);
        return nullptr;
    }
    png_init_io(decoder->png, decoder->file);
    return decoder;
}

// How far decodeAll got: the header read, the passes and rows of the last
// pass begun, and whether the image and what follows it were read whole.
struct PngProgress
{
    bool headerRead = false;
    png_uint_32 height = 0;
    int passes = 1;
    int pass = 0;
    png_uint_32 rows = 0;
    bool imageRead = false;
    bool endRead = false;
};

// Inflates the whole image, pass by pass and row by row into one row, and
// reads the chunks after it up to IEND. Kept apart from objects with
// destructors, for the long jump.
void decodeAll(PngRowReader::Decoder *decoder, PngProgress *progress, png_bytep *row)
{
    png_structp png = decoder->png;
    png_infop info = decoder->info;
    if (setjmp(png_jmpbuf(png)))
        return;
    png_read_info(png, info);
    progress->headerRead = true;
    progress->height = png_get_image_height(png, info);
    progress->passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    *row = static_cast<png_bytep>(png_malloc(png, png_get_rowbytes(png, info)));
    for (progress->pass = 0; progress->pass < progress->passes; ++progress->pass)
        for (progress->rows = 0; progress->rows < progress->height; ++progress->rows)
            png_read_row(png, *row, nullptr);
    progress->imageRead = true;
    png_read_end(png, nullptr);
    progress->endRead = true;
}

} // namespace

namespace {

// Reads the header; false on an error. Kept apart from objects with
// destructors, for the long jump.
bool readHeaderOnly(PngRowReader::Decoder *decoder, png_uint_32 *width, png_uint_32 *height)
{
    if (setjmp(png_jmpbuf(decoder->png)))
        return false;
    png_read_info(decoder->png, decoder->info);
    *width = png_get_image_width(decoder->png, decoder->info);
    *height = png_get_image_height(decoder->png, decoder->info);
    return true;
}

} // namespace

bool pngHeaderSize(const QString &fileName, QSize *size, QString *error, bool *damaged)
{
    *damaged = true;
    PngRowReader::Decoder *decoder = openDecoder(fileName);
    if (!decoder) {
        *error = QStringLiteral("the file cannot be opened");
        return false;
    }
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    const bool read = readHeaderOnly(decoder, &width, &height);
    const bool ended = std::feof(decoder->file) != 0;
    // libpng refuses a side beyond its limit as invalid; the header's own
    // numbers tell that case apart.
    const png_uint_32 limit = std::min(png_get_user_width_max(decoder->png), png_get_user_height_max(decoder->png));
    unsigned char head[24] = {};
    const bool told = std::fseek(decoder->file, 0, SEEK_SET) == 0 && std::fread(head, 1, 24, decoder->file) == 24
        && std::memcmp(head + 12, "IHDR", 4) == 0;
    const png_uint_32 toldWidth = png_get_uint_32(head + 16);
    const png_uint_32 toldHeight = png_get_uint_32(head + 20);
    if (read)
        *size = QSize(int(width), int(height));
    else if (told && (toldWidth > limit || toldHeight > limit) && toldWidth <= PNG_UINT_31_MAX
             && toldHeight <= PNG_UINT_31_MAX) {
        *damaged = false;
        *error = QStringLiteral("a PNG image of %1x%2 pixels is beyond what libpng reads (at most %3 pixels a side)")
                     .arg(toldWidth)
                     .arg(toldHeight)
                     .arg(limit);
    }
    else
        *error = ended ? QStringLiteral("the file ends inside its header")
                       : QStringLiteral("its header is damaged (%1)").arg(QString::fromLocal8Bit(decoder->error));
    closeDecoder(decoder);
    return read;
}

QString pngDataDamage(const QString &fileName)
{
    PngRowReader::Decoder *decoder = openDecoder(fileName);
    if (!decoder)
        return QString();
    PngProgress progress;
    png_bytep row = nullptr;
    decodeAll(decoder, &progress, &row);
    if (row)
        png_free(decoder->png, row);
    // libpng says "Read Error" of a file that ends early: said plainly.
    const bool ended = std::feof(decoder->file) != 0;
    const QString error = ended ? QStringLiteral("the file ends there") : QString::fromLocal8Bit(decoder->error);
    closeDecoder(decoder);
    // A header libpng cannot read is no image at all: the reader that
    // decodes the file says so in its own words.
    if (!progress.headerRead || progress.endRead)
        return QString();
    if (progress.imageRead && ended)
        return QStringLiteral("the file ends before its IEND chunk");
    if (progress.imageRead)
        return QStringLiteral("what follows its image data is damaged or missing (%1)").arg(error);
    if (progress.passes > 1)
        return QStringLiteral("its image data breaks off in pass %1 of %2 of its interlacing, so part of the image "
                              "is missing (%3)")
            .arg(progress.pass + 1)
            .arg(progress.passes)
            .arg(error);
    return QStringLiteral("its image data holds %1 of %2 rows, so the bottom %3 rows of the image are missing (%4)")
        .arg(progress.rows)
        .arg(progress.height)
        .arg(progress.height - progress.rows)
        .arg(error);
}

PngRowReader::PngRowReader(Decoder *decoder, const QString &fileName, int width, int height)
    : ImageRowReader(width, height)
    , decoder(decoder)
    , fileName(fileName)
    , bytes(std::size_t(width) * std::size_t(decoder->channels))
{
}

PngRowReader::~PngRowReader()
{
    closeDecoder(decoder);
}

std::unique_ptr<ImageRowReader> PngRowReader::open(const QString &fileName)
{
    Decoder *decoder = openDecoder(fileName);
    if (!decoder)
        return nullptr;
    if (!startDecoder(decoder)) {
        closeDecoder(decoder);
        return nullptr;
    }
    const png_uint_32 width = png_get_image_width(decoder->png, decoder->info);
    const png_uint_32 height = png_get_image_height(decoder->png, decoder->info);
    return std::unique_ptr<ImageRowReader>(new PngRowReader(decoder, fileName, int(width), int(height)));
}

bool PngRowReader::failOnError()
{
    if (decoder->error[0] == '\0')
        return false;
    // The verdict is the one the in-memory path gives, from the whole file.
    const QString damage = pngDataDamage(fileName);
    if (!damage.isEmpty())
        damageMessage = damagedFileMessage(fileName, damage);
    return true;
}

bool PngRowReader::readRow(std::uint32_t *out)
{
    if (!readDecoderRow(decoder, bytes.data())) {
        failOnError();
        return false;
    }
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
    if (readDecoderEnd(decoder))
        return true;
    failOnError();
    return false;
}

} // namespace veltrano
