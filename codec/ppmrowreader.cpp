#include "ppmrowreader.h"

#include "pixelrows.h"

#include <QFile>

#include <algorithm>
#include <cctype>
#include <climits>

namespace {

// Rows are read a block of about this many bytes at a time, straight into
// the block: stdio passes a read this large past its own buffer.
constexpr std::size_t blockBytes = std::size_t(1) << 18;

// A header number as Qt's PPM reader reads it: white space and comment lines
// before it, digits, and the one byte after it consumed (unless it starts a
// comment: then -1, as that byte would belong to the pixels). -1 when there
// is no number or it overflows.
long long headerNumber(std::FILE *file, bool last)
{
    int c = 0;
    for (;;) {
        c = std::getc(file);
        if (c == EOF)
            return -1;
        if (std::isdigit(c))
            break;
        if (std::isspace(c))
            continue;
        if (c != '#')
            return -1;
        // Qt's reader takes a comment line in pieces of 99 bytes at most and
        // misreads the rest of a longer one: such files are left to it.
        int length = 0;
        while (c != '\n' && c != EOF && ++length < 90)
            c = std::getc(file);
        if (c != '\n')
            return -1;
    }
    long long value = c - '0';
    for (;;) {
        c = std::getc(file);
        if (c == EOF)
            return last ? -1 : value;
        if (!std::isdigit(c))
            break;
        value = value * 10 + (c - '0');
        if (value > INT_MAX)
            return -1;
    }
    // The byte after the last number must be plain white space; a comment
    // there, or anything else, is left to Qt's reader.
    if (last && !std::isspace(c))
        return -1;
    if (!last && c == '#')
        return -1;
    return value;
}

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
    std::FILE *file = std::fopen(QFile::encodeName(fileName).constData(), "rb");
    if (!file)
        return nullptr;
    const int first = std::getc(file);
    const int second = std::getc(file);
    const int third = std::getc(file);
    const long long width = third != EOF && std::isspace(third) ? headerNumber(file, false) : -1;
    const long long height = width > 0 ? headerNumber(file, false) : -1;
    const long long maximum = height > 0 ? headerNumber(file, true) : -1;
    const long start = std::ftell(file);
    if (first != 'P' || (second != '5' && second != '6') || width <= 0 || height <= 0 || maximum != 255
        || start < 0 || std::fseek(file, 0, SEEK_END) != 0) {
        std::fclose(file);
        return nullptr;
    }
    const bool grey = second == '5';
    const long long size = std::ftell(file);
    // Every declared row must be in the file, checked before anything is
    // allocated for them.
    const long long rowBytes = width * (grey ? 1 : 3);
    if (size < start || (size - start) / rowBytes < height || std::fseek(file, start, SEEK_SET) != 0) {
        std::fclose(file);
        return nullptr;
    }
    return std::unique_ptr<ImageRowReader>(new PpmRowReader(file, int(width), int(height), grey));
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
