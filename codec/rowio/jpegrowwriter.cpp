#include "codec/rowio/jpegrowwriter.h"

#include "codec/format/hybridmarker.h"

#include <QDir>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace veltrano {

struct JpegRowWriter::Encoder
{
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    jpeg_destination_mgr destination;
    std::jmp_buf jump;
    std::vector<JOCTET> buffer;
    StreamOutputFile *output = nullptr;
    bool marker = false;
    bool firstChunk = true;
    bool created = false;
    bool writeFailed = false;
};

namespace {

constexpr std::size_t chunkBytes = std::size_t(1) << 16;

void errorExit(j_common_ptr info)
{
    std::longjmp(static_cast<JpegRowWriter::Encoder *>(info->client_data)->jump, 1);
}

void outputMessage(j_common_ptr)
{
}

// Passes the bytes on, the first chunk marked when asked.
bool passBytes(JpegRowWriter::Encoder *encoder, std::size_t count)
{
    JOCTET *bytes = encoder->buffer.data();
    if (encoder->firstChunk && encoder->marker && count > std::size_t(hybridMarkerOffset)) {
        bool lineFeed = false;
        for (int i = 0; i < hybridMarkerOffset; ++i)
            lineFeed = lineFeed || bytes[i] == '\n';
        if (!lineFeed)
            bytes[hybridMarkerOffset] = JOCTET(hybridMarker);
    }
    encoder->firstChunk = false;
    if (!encoder->output->write(reinterpret_cast<const char *>(bytes), qint64(count)))
        encoder->writeFailed = true;
    return !encoder->writeFailed;
}

void initDestination(j_compress_ptr info)
{
    auto *encoder = static_cast<JpegRowWriter::Encoder *>(info->client_data);
    info->dest->next_output_byte = encoder->buffer.data();
    info->dest->free_in_buffer = encoder->buffer.size();
}

boolean emptyOutputBuffer(j_compress_ptr info)
{
    auto *encoder = static_cast<JpegRowWriter::Encoder *>(info->client_data);
    // libjpeg hands over the whole buffer here, whatever free_in_buffer says.
    if (!passBytes(encoder, encoder->buffer.size()))
        std::longjmp(encoder->jump, 1);
    initDestination(info);
    return TRUE;
}

void termDestination(j_compress_ptr info)
{
    auto *encoder = static_cast<JpegRowWriter::Encoder *>(info->client_data);
    if (!passBytes(encoder, encoder->buffer.size() - info->dest->free_in_buffer))
        std::longjmp(encoder->jump, 1);
}

bool startEncoder(JpegRowWriter::Encoder *encoder, int width, int height, int density, int quality)
{
    if (setjmp(encoder->jump))
        return false;
    jpeg_create_compress(&encoder->info);
    encoder->created = true;
    encoder->info.dest = &encoder->destination;
    encoder->info.image_width = JDIMENSION(width);
    encoder->info.image_height = JDIMENSION(height);
    // The words of a row as they lie in memory: blue, green, red, alpha; the
    // colour conversion takes the same values as from RGB bytes.
    encoder->info.input_components = 4;
    encoder->info.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&encoder->info);
    encoder->info.density_unit = 1;
    encoder->info.X_density = UINT16(density);
    encoder->info.Y_density = UINT16(density);
    jpeg_set_quality(&encoder->info, quality, TRUE);
    jpeg_start_compress(&encoder->info, TRUE);
    return true;
}

bool writeEncoderRow(JpegRowWriter::Encoder *encoder, const std::uint32_t *row)
{
    if (setjmp(encoder->jump))
        return false;
    JSAMPROW samples = reinterpret_cast<JSAMPROW>(const_cast<std::uint32_t *>(row));
    return jpeg_write_scanlines(&encoder->info, &samples, 1) == 1;
}

bool finishEncoder(JpegRowWriter::Encoder *encoder)
{
    if (setjmp(encoder->jump))
        return false;
    jpeg_finish_compress(&encoder->info);
    return true;
}

} // namespace

JpegRowWriter::JpegRowWriter(const QString &fileName, int width, int height, int dotsPerMeter, int quality)
    : ImageRowWriter(fileName, width, height)
    , encoder(new Encoder)
    , dotsPerMeter(dotsPerMeter)
    , quality(quality < 0 ? 75 : quality > 100 ? 100 : quality)
{
}

JpegRowWriter::~JpegRowWriter()
{
    if (encoder->created)
        jpeg_destroy_compress(&encoder->info);
    delete encoder;
}

bool JpegRowWriter::start()
{
#if Q_BYTE_ORDER != Q_LITTLE_ENDIAN
    message = QStringLiteral("cannot write %1: rows are not in the byte order of this writer").arg(fileName);
    return false;
#endif
    if (width < 1 || height < 1 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION) {
        message = QStringLiteral("cannot write %1: an image of %2x%3 pixels is too large for JPEG (at most %4 "
                                 "pixels a side)")
                      .arg(QDir::toNativeSeparators(fileName))
                      .arg(width)
                      .arg(height)
                      .arg(JPEG_MAX_DIMENSION);
        return false;
    }
    if (!output.open())
        return false;
    encoder->output = &output;
    encoder->marker = marker;
    encoder->buffer.resize(chunkBytes);
    encoder->info.err = jpeg_std_error(&encoder->errors);
    encoder->errors.error_exit = errorExit;
    encoder->errors.output_message = outputMessage;
    encoder->info.client_data = encoder;
    encoder->destination.init_destination = initDestination;
    encoder->destination.empty_output_buffer = emptyOutputBuffer;
    encoder->destination.term_destination = termDestination;
    // Dots per inch, rounded as Qt's writer rounds them.
    const int density = std::max(1, int(std::lround(dotsPerMeter * 0.0254)));
    if (!startEncoder(encoder, width, height, density, quality)) {
        if (!output.failed())
            message = QStringLiteral("cannot write %1: the JPEG encoder failed").arg(QDir::toNativeSeparators(fileName));
        return false;
    }
    return true;
}

bool JpegRowWriter::writeRow(const std::uint32_t *row)
{
    if (writeEncoderRow(encoder, row))
        return true;
    if (!output.failed() && message.isEmpty())
        message = QStringLiteral("cannot write %1: the JPEG encoder failed").arg(QDir::toNativeSeparators(fileName));
    return false;
}

bool JpegRowWriter::finish()
{
    if (!finishEncoder(encoder)) {
        if (!output.failed() && message.isEmpty())
            message = QStringLiteral("cannot write %1: the JPEG encoder failed").arg(QDir::toNativeSeparators(fileName));
        return false;
    }
    return output.commit();
}

} // namespace veltrano
