#include "jpegrowreader.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

struct JpegRowReader::Decoder
{
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    std::jmp_buf jump;
    long warnings = 0;
    std::FILE *file = nullptr;
    bool created = false;
};

namespace {

void errorExit(j_common_ptr info)
{
    auto *decoder = reinterpret_cast<JpegRowReader::Decoder *>(info->client_data);
    std::longjmp(decoder->jump, 1);
}

void emitMessage(j_common_ptr info, int level)
{
    if (level < 0)
        ++reinterpret_cast<JpegRowReader::Decoder *>(info->client_data)->warnings;
}

void outputMessage(j_common_ptr)
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
    jpeg_stdio_src(&decoder->info, decoder->file);
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
    return decoder->warnings == 0 && decoder->info.output_components == 4;
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

bool JpegRowReader::readRow(std::uint32_t *out)
{
    if (setjmp(decoder->jump))
        return false;
    JSAMPROW row = reinterpret_cast<JSAMPROW>(out);
    if (jpeg_read_scanlines(&decoder->info, &row, 1) != 1)
        return false;
    return decoder->warnings == 0;
}

bool JpegRowReader::readEnd()
{
    if (setjmp(decoder->jump))
        return false;
    jpeg_finish_decompress(&decoder->info);
    return decoder->warnings == 0;
}
