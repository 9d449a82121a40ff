#include "codec/rowio/pngrowwriter.h"

#include <QDir>

#include <csetjmp>

#include <png.h>

namespace veltrano {

struct PngRowWriter::Encoder
{
    png_structp png = nullptr;
    png_infop info = nullptr;
    StreamOutputFile *output = nullptr;
    QString reason; // libpng's own words for what failed
    bool failed = false; // libpng is not called again once it has failed
};

namespace {

void errorExit(png_structp png, png_const_charp message)
{
    auto *encoder = static_cast<PngRowWriter::Encoder *>(png_get_error_ptr(png));
    if (encoder->reason.isEmpty())
        encoder->reason = QString::fromLatin1(message);
    encoder->failed = true;
    png_longjmp(png, 1);
}

void warning(png_structp, png_const_charp)
{
}

void writeBytes(png_structp png, png_bytep bytes, png_size_t count)
{
    auto *encoder = static_cast<PngRowWriter::Encoder *>(png_get_io_ptr(png));
    // The file's own error says why; libpng is only stopped here.
    if (!encoder->output->write(reinterpret_cast<const char *>(bytes), qint64(count)))
        png_error(png, "the data could not all be written");
}

void flushBytes(png_structp)
{
}

bool startEncoder(PngRowWriter::Encoder *encoder, int width, int height, int dotsPerMeter, int level)
{
    png_structp png = encoder->png;
    png_infop info = encoder->info;
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, encoder, writeBytes, flushBytes);
    if (level >= 0)
        png_set_compression_level(png, level);
    // The format's own limits, not libpng's default ones for reading
    // (a million pixels a side), since rows are never held whole here.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB_ALPHA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // The words of a row lie in memory as blue, green, red, alpha on a
    // little-endian machine, alpha, red, green, blue on a big-endian one.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    png_set_bgr(png);
#else
    png_set_swap_alpha(png);
#endif
    if (dotsPerMeter > 0)
        png_set_pHYs(png, info, png_uint_32(dotsPerMeter), png_uint_32(dotsPerMeter), PNG_RESOLUTION_METER);
    png_write_info(png, info);
    return true;
}

bool writeEncoderRow(PngRowWriter::Encoder *encoder, const std::uint32_t *row)
{
    if (!encoder->png || encoder->failed || setjmp(png_jmpbuf(encoder->png)))
        return false;
    png_write_row(encoder->png, reinterpret_cast<png_const_bytep>(row));
    return true;
}

bool finishEncoder(PngRowWriter::Encoder *encoder)
{
    if (!encoder->png || encoder->failed || setjmp(png_jmpbuf(encoder->png)))
        return false;
    png_write_end(encoder->png, encoder->info);
    return true;
}

} // namespace

PngRowWriter::PngRowWriter(const QString &fileName, int width, int height, int dotsPerMeter, int quality)
    : ImageRowWriter(fileName, width, height)
    , encoder(new Encoder)
    , dotsPerMeter(dotsPerMeter)
    // Qt's mapping of a quality to a level.
    , level(quality < 0 ? -1 : (100 - qMin(quality, 100)) * 9 / 91)
{
}

PngRowWriter::~PngRowWriter()
{
    if (encoder->png)
        png_destroy_write_struct(&encoder->png, encoder->info ? &encoder->info : nullptr);
    delete encoder;
}

void PngRowWriter::setEncoderError()
{
    if (output.failed() || !message.isEmpty())
        return;
    message = QStringLiteral("cannot write %1: the PNG encoder failed").arg(QDir::toNativeSeparators(fileName));
    if (!encoder->reason.isEmpty())
        message += QStringLiteral(" (%1)").arg(encoder->reason);
}

bool PngRowWriter::start()
{
    if (width < 1 || height < 1) {
        message = QStringLiteral("cannot write %1: an image of %2x%3 pixels has no rows to write")
                      .arg(QDir::toNativeSeparators(fileName))
                      .arg(width)
                      .arg(height);
        return false;
    }
    if (!output.open())
        return false;
    encoder->output = &output;
    encoder->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, encoder, errorExit, warning);
    if (encoder->png)
        encoder->info = png_create_info_struct(encoder->png);
    if (!encoder->info || !startEncoder(encoder, width, height, dotsPerMeter, level)) {
        encoder->failed = true;
        setEncoderError();
        return false;
    }
    return true;
}

bool PngRowWriter::writeRow(const std::uint32_t *row)
{
    if (writeEncoderRow(encoder, row))
        return true;
    setEncoderError();
    return false;
}

bool PngRowWriter::finish()
{
    if (!finishEncoder(encoder)) {
        setEncoderError();
        return false;
    }
    return output.commit();
}

} // namespace veltrano
