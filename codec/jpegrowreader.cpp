#include "jpegrowreader.h"

#include "imageheader.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

struct JpegRowReader::Decoder
{
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    std::jmp_buf jump;
    QString firstDamage;
    QString fileName;
    jpeg_source_mgr source;
    JOCTET buffer[1 << 16];
    std::FILE *file = nullptr;
    bool created = false;
};

namespace {

void errorExit(j_common_ptr info)
{
    auto *decoder = reinterpret_cast<JpegRowReader::Decoder *>(info->client_data);
    std::longjmp(decoder->jump, 1);
}

// Keeps the first warning of damaged data; the others change nothing that
// Qt's reader would not change too.
void emitMessage(j_common_ptr info, int level)
{
    if (level >= 0)
        return;
    auto *decoder = reinterpret_cast<JpegRowReader::Decoder *>(info->client_data);
    if (!decoder->firstDamage.isEmpty())
        return;
    char text[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, text);
    const QString warning = QString::fromLocal8Bit(text);
    if (isJpegDamageWarning(warning))
        decoder->firstDamage = warning;
}

bool endsWithEoi(std::FILE *file)
{
    unsigned char end[2] = {};
    return std::fseek(file, -2, SEEK_END) == 0 && std::fread(end, 1, 2, file) == 2 && end[0] == 0xFF
        && end[1] == 0xD9;
}

void outputMessage(j_common_ptr)
{
}

// The file's bytes as Qt's reader hands them to libjpeg: at the end of the
// file a fake end-of-image marker, without a warning of its own, so that the
// decoder's warnings are the ones Qt's reader sees.
void initSource(j_decompress_ptr)
{
}

boolean fillInputBuffer(j_decompress_ptr info)
{
    auto *decoder = reinterpret_cast<JpegRowReader::Decoder *>(info->client_data);
    const std::size_t count = std::fread(decoder->buffer, 1, sizeof decoder->buffer, decoder->file);
    decoder->source.next_input_byte = decoder->buffer;
    if (count == 0) {
        decoder->buffer[0] = JOCTET(0xFF);
        decoder->buffer[1] = JOCTET(JPEG_EOI);
        decoder->source.bytes_in_buffer = 2;
    } else {
        decoder->source.bytes_in_buffer = count;
    }
    return TRUE;
}

void skipInputData(j_decompress_ptr info, long count)
{
    jpeg_source_mgr *source = info->src;
    while (count > long(source->bytes_in_buffer)) {
        count -= long(source->bytes_in_buffer);
        fillInputBuffer(info);
    }
    if (count > 0) {
        source->next_input_byte += count;
        source->bytes_in_buffer -= std::size_t(count);
    }
}

void termSource(j_decompress_ptr)
{
}

void closeDecoder(JpegRowReader::Decoder *decoder)
{
    if (decoder->created)
        jpeg_destroy_decompress(&decoder->info);
    if (decoder->file)
        std::fclose(decoder->file);
    delete decoder;
}

// Set-up up to the first row; false on any fault or unsupported stream.
// Kept apart from objects with destructors, for the long jump.
bool startDecoder(JpegRowReader::Decoder *decoder)
{
    if (setjmp(decoder->jump))
        return false;
    jpeg_create_decompress(&decoder->info);
    decoder->created = true;
    decoder->source.init_source = initSource;
    decoder->source.fill_input_buffer = fillInputBuffer;
    decoder->source.skip_input_data = skipInputData;
    decoder->source.resync_to_restart = jpeg_resync_to_restart;
    decoder->source.term_source = termSource;
    decoder->source.bytes_in_buffer = 0;
    decoder->source.next_input_byte = nullptr;
    decoder->info.src = &decoder->source;
    if (jpeg_read_header(&decoder->info, TRUE) != JPEG_HEADER_OK)
        return false;
    const int components = decoder->info.num_components;
    if ((components != 1 && components != 3) || jpeg_has_multiple_scans(&decoder->info))
        return false;
    if (components == 3 && decoder->info.jpeg_color_space != JCS_YCbCr && decoder->info.jpeg_color_space != JCS_RGB)
        return false;
    // The words of a row as they lie in memory: blue, green, red, 0xFF.
    decoder->info.out_color_space = JCS_EXT_BGRX;
    decoder->info.dct_method = JDCT_ISLOW;
    decoder->info.do_fancy_upsampling = TRUE;
    jpeg_start_decompress(&decoder->info);
    return decoder->firstDamage.isEmpty() && decoder->info.output_components == 4;
}

} // namespace

JpegRowReader::JpegRowReader(Decoder *decoder, int width, int height)
    : ImageRowReader(width, height)
    , decoder(decoder)
{
}

JpegRowReader::~JpegRowReader()
{
    closeDecoder(decoder);
}

std::unique_ptr<ImageRowReader> JpegRowReader::open(const QString &fileName)
{
#if Q_BYTE_ORDER != Q_LITTLE_ENDIAN
    Q_UNUSED(fileName);
    return nullptr;
#else
    auto *decoder = new Decoder;
    decoder->fileName = fileName;
    decoder->file = std::fopen(QFile::encodeName(fileName).constData(), "rb");
    if (!decoder->file) {
        delete decoder;
        return nullptr;
    }
    decoder->info.err = jpeg_std_error(&decoder->errors);
    decoder->errors.error_exit = errorExit;
    decoder->errors.emit_message = emitMessage;
    decoder->errors.output_message = outputMessage;
    decoder->info.client_data = decoder;
    if (!startDecoder(decoder)) {
        closeDecoder(decoder);
        return nullptr;
    }
    return std::unique_ptr<ImageRowReader>(
        new JpegRowReader(decoder, int(decoder->info.output_width), int(decoder->info.output_height)));
#endif
}

namespace {

bool readDecoderRow(JpegRowReader::Decoder *decoder, std::uint32_t *out)
{
    if (setjmp(decoder->jump))
        return false;
    JSAMPROW row = reinterpret_cast<JSAMPROW>(out);
    return jpeg_read_scanlines(&decoder->info, &row, 1) == 1;
}

bool finishDecoder(JpegRowReader::Decoder *decoder)
{
    if (setjmp(decoder->jump))
        return false;
    jpeg_finish_decompress(&decoder->info);
    return true;
}

} // namespace

bool JpegRowReader::readRow(std::uint32_t *out)
{
    // Rows go on after damaged data, as Qt's reader goes on, so that a fatal
    // error later in the stream is still met: that one the in-memory path
    // reports in Qt's words.
    return readDecoderRow(decoder, out);
}

bool JpegRowReader::readEnd()
{
    if (!finishDecoder(decoder))
        return false;
    if (decoder->firstDamage.isEmpty())
        return true;
    damageMessage = damagedFileMessage(decoder->fileName,
                                       jpegDamageDescription(decoder->firstDamage, endsWithEoi(decoder->file)));
    return false;
}
