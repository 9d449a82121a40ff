#include "codec/rowio/ppmrowreader.h"

#include "codec/format/imageheader.h"
#include "codec/dsp/pixelrows.h"

#include <QFile>

#include <algorithm>
#include <climits>

namespace veltrano {

namespace {

// Rows are read a block of about this many bytes at a time, straight into
// the block: stdio passes a read this large past its own buffer.
constexpr std::size_t blockBytes = std::size_t(1) << 18;

} // namespace

PpmRowReader::PpmRowReader(std::FILE *file, int width, int height, bool grey)
    : ImageRowReader(width, height)
    , file(file)
    , grey(grey)
    , rowBytes(std::size_t(width) * (grey ? 1 : 3))
    , blockRows(std::max<std::size_t>(1, std::min<std::size_t>(blockBytes / rowBytes, std::size_t(height))))
    , rowsLeft(height)
    , bytes(rowBytes * blockRows)
{
}

PpmRowReader::~PpmRowReader()
{
    std::fclose(file);
}

std::unique_ptr<ImageRowReader> PpmRowReader::open(const QString &fileName)
{
    PnmHeader header;
    qint64 size = 0;
    {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly) || !binaryPnmHeader(file, &header))
            return nullptr;
        size = file.size();
    }
    // Every declared row must be in the file, checked before anything is
    // allocated for them (the checks before decoding say what is missing).
    const qint64 rowBytes = header.width * (header.grey ? 1 : 3);
    if (header.maxValue != 255 || header.width > INT_MAX || header.height > INT_MAX
        || (size - header.dataOffset) / rowBytes < header.height)
        return nullptr;
    std::FILE *file = std::fopen(QFile::encodeName(fileName).constData(), "rb");
    if (!file)
        return nullptr;
    if (std::fseek(file, long(header.dataOffset), SEEK_SET) != 0) {
        std::fclose(file);
        return nullptr;
    }
    return std::unique_ptr<ImageRowReader>(new PpmRowReader(file, int(header.width), int(header.height), header.grey));
}

bool PpmRowReader::readRow(std::uint32_t *out)
{
    if (blockNext == blockFilled) {
        const std::size_t count = std::min<std::size_t>(blockRows, std::size_t(rowsLeft));
        if (count == 0 || std::fread(bytes.data(), rowBytes, count, file) != count)
            return false;
        rowsLeft -= int(count);
        blockFilled = count;
        blockNext = 0;
    }
    const unsigned char *in = bytes.data() + blockNext * rowBytes;
    ++blockNext;
    if (grey)
        greyBytesToWords(in, out, width());
    else
        rgbBytesToWords(in, out, width());
    return true;
}

} // namespace veltrano
