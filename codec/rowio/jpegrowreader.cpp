#include "codec/rowio/jpegrowreader.h"

#include "codec/format/imageheader.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace veltrano {

struct JpegRowReader::Decoder
{
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    std::jmp_buf jump;
    QString firstWarning;
    bool ranOut = false;   // the decoder asked for bytes past the end of the file
    bool rowsRead = false; // every row had been read when it did
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

// Keeps the first warning. libjpeg warns of damaged data only (corrupt or
// missing entropy-coded data, bad arithmetic codes, an inconsistent
// progression, extraneous bytes, lost restart markers, header fields it has
// to work around), and each of them is damage.
void emitMessage(j_common_ptr info, int level)
{
    if (level >= 0)
        return;
    auto *decoder = reinterpret_cast<JpegRowReader::Decoder *>(info->client_data);
    if (!decoder->firstWarning.isEmpty())
        return;
    char text[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, text);
    decoder->firstWarning = QString::fromLocal8Bit(text);
}

bool damageSeen(const JpegRowReader::Decoder *decoder)
{
    return decoder->ranOut || !decoder->firstWarning.isEmpty();
}

void outputMessage(j_common_ptr)
{
}

// The file's bytes as Qt's reader hands them to libjpeg: at the end of the
// file a fake end-of-image marker, so that the rows decoded are those Qt's
// reader gives. That the decoder asked for more is noted: the arithmetic
// decoder takes the marker for zero bits without a warning, so a file cut
// short would otherwise pass for a sound one.
void initSource(j_decompress_ptr)
{
}

boolean fillInputBuffer(j_decompress_ptr info)
{
    auto *decoder = reinterpret_cast<JpegRowReader::Decoder *>(info->client_data);
    const std::size_t count = std::fread(decoder->buffer, 1, sizeof decoder->buffer, decoder->file);
    decoder->source.next_input_byte = decoder->buffer;
    if (count == 0) {
        decoder->ranOut = true;
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

// A decoder of the file with the error and source handling above, before
// anything is read; null when the file cannot be opened.
JpegRowReader::Decoder *openDecoder(const QString &fileName)
{
    auto *decoder = new JpegRowReader::Decoder;
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
    return decoder;
}

// Creates the decompressor and reads the header; false on a fatal error.
// Called under the caller's setjmp.
bool readHeader(JpegRowReader::Decoder *decoder)
{
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
    return jpeg_read_header(&decoder->info, TRUE) == JPEG_HEADER_OK;
}

// Set-up up to the first row; false on any fault or unsupported stream.
// Kept apart from objects with destructors, for the long jump.
bool startDecoder(JpegRowReader::Decoder *decoder)
{
    if (setjmp(decoder->jump))
        return false;
    if (!readHeader(decoder))
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
    return !damageSeen(decoder) && decoder->info.output_components == 4;
}

// Decodes the whole stream as cheaply as libjpeg can (an eighth of the size,
// so only the DC coefficients are transformed) but every byte of it entropy
// decoded and every marker read, up to the end of image; damageSeen() then
// tells whether it is sound. False on a fatal error, *headerRead telling
// whether it came after the header. Kept apart from objects with destructors.
bool decodeAll(JpegRowReader::Decoder *decoder, bool *headerRead)
{
    if (setjmp(decoder->jump))
        return false;
    if (!readHeader(decoder))
        return false;
    *headerRead = true;
    decoder->info.scale_num = 1;
    decoder->info.scale_denom = 8;
    decoder->info.dct_method = JDCT_IFAST;
    decoder->info.do_fancy_upsampling = FALSE;
    decoder->info.do_block_smoothing = FALSE;
    decoder->info.quantize_colors = FALSE;
    jpeg_start_decompress(&decoder->info);
    const JDIMENSION rowBytes = decoder->info.output_width * JDIMENSION(decoder->info.output_components);
    JSAMPARRAY row = (*decoder->info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&decoder->info), JPOOL_IMAGE,
                                                        rowBytes, 1);
    // Once the file has run out, only the fake end of image follows: the
    // Huffman decoder warns of it within 64 blocks (a code takes at least a
    // bit, and it holds at most 64), so within 64 rows of MCUs, at most 256
    // rows of this size; the arithmetic decoder never does. The verdict is
    // the same however large the image claims to be.
    JDIMENSION rowsAfterEnd = 0;
    while (decoder->info.output_scanline < decoder->info.output_height) {
        if (jpeg_read_scanlines(&decoder->info, row, 1) != 1)
            return false;
        if (decoder->ranOut && ++rowsAfterEnd > 256)
            return true;
    }
    // Every row is whole when the file ran out only after its last one, or
    // during it in a single Huffman-coded scan that met no marker (the
    // decoder reads ahead, but warns when it needs bits it lacks). Neither
    // the arithmetic decoder nor a file of several scans, which may lack
    // whole scans, can tell.
    decoder->rowsRead = !decoder->ranOut
        || (decoder->firstWarning.isEmpty() && !decoder->info.arith_code
            && !jpeg_has_multiple_scans(&decoder->info));
    jpeg_finish_decompress(&decoder->info);
    return true;
}

} // namespace

QString jpegDataDamage(const QString &fileName)
{
    JpegRowReader::Decoder *decoder = openDecoder(fileName);
    if (!decoder)
        return QString();
    bool headerRead = false;
    const bool decoded = decodeAll(decoder, &headerRead);
    // A header libjpeg cannot read is no image at all: the reader that
    // decodes the file says so in its own words.
    QString damage;
    if (headerRead && damageSeen(decoder))
        damage = jpegDamageDescription(decoder->firstWarning, decoder->ranOut, decoded && decoder->rowsRead);
    closeDecoder(decoder);
    return damage;
}

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
    Decoder *decoder = openDecoder(fileName);
    if (!decoder)
        return nullptr;
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

bool JpegRowReader::failOnDamage()
{
    if (!damageSeen(decoder))
        return false;
    // The verdict is the one the in-memory path gives, from the whole file,
    // whatever row the damage was met at.
    const QString damage = jpegDataDamage(decoder->fileName);
    if (!damage.isEmpty())
        damageMessage = damagedFileMessage(decoder->fileName, damage);
    return true;
}

bool JpegRowReader::readRow(std::uint32_t *out)
{
    // Reading stops at the first damage: what follows it is not the image.
    const bool read = readDecoderRow(decoder, out);
    return !failOnDamage() && read;
}

bool JpegRowReader::readEnd()
{
    const bool finished = finishDecoder(decoder);
    return !failOnDamage() && finished;
}

} // namespace veltrano
