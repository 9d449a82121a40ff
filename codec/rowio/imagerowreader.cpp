#include "codec/rowio/imagerowreader.h"

#include "codec/format/imageheader.h"
#include "codec/rowio/jpegrowreader.h"
#include "codec/rowio/pngrowreader.h"
#include "codec/rowio/ppmrowreader.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace veltrano {

ImageRowReader::ImageRowReader(int width, int height)
    : columns(width)
    , rows(height)
    , buffer(std::size_t(width > 0 ? width : 1), 0u)
{
}

ImageRowReader::~ImageRowReader() = default;

std::unique_ptr<ImageRowReader> ImageRowReader::open(const QString &fileName, QString *refusal)
{
    refusal->clear();
    char head[8] = {};
    {
        QFile file(fileName);
        if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly) || file.read(head, 8) != 8)
            return nullptr;
    }
    const bool ppm = head[0] == 'P' && (head[1] == '5' || head[1] == '6');
    const bool png = std::equal(head, head + 8, "\x89PNG\r\n\x1a\n");
    const bool jpeg = uchar(head[0]) == 0xFF && uchar(head[1]) == 0xD8;
    if (!ppm && !png && !jpeg)
        return nullptr;
    // A JPEG stream's header is checked before libjpeg reads any of it. The
    // PPM and PNG readers check what they read of the header themselves and
    // allocate a row or a block of rows only; the size they read is the one
    // Qt's reader would declare.
    // A file the reader declines still gets the checks that need no size:
    // what they refuse, or find missing, the in-memory path would refuse in
    // the same words.
    std::unique_ptr<ImageRowReader> reader;
    QSize declared;
    if (!jpeg) {
        reader = ppm ? PpmRowReader::open(fileName) : PngRowReader::open(fileName);
        if (reader)
            declared = QSize(reader->width(), reader->height());
    }
    ImageFileHeader header;
    if (!checkImageHeader(fileName, maxStreamedPixels, &header, refusal, ImageDecoding::RowByRow, declared, nullptr))
        return nullptr;
    if (!header.damage.isEmpty()) {
        *refusal = damagedFileMessage(fileName, header.damage);
        return nullptr;
    }
    if (!jpeg && !reader)
        return nullptr;
    // A size neither the frame header nor the reader told is left to the
    // in-memory path.
    if (!header.size.isValid())
        return nullptr;
    if (jpeg)
        reader = JpegRowReader::open(fileName);
    if (reader && (reader->width() < 1 || reader->height() < 1
                   || qint64(reader->width()) * reader->height() > maxStreamedPixels))
        reader.reset();
    return reader;
}

const std::uint32_t *ImageRowReader::row(int y)
{
    if (broken || y < lastRow || y >= rows) {
        broken = true;
        std::fill(buffer.begin(), buffer.end(), 0u);
        return buffer.data();
    }
    while (nextRow <= y) {
        if (!readRow(buffer.data())) {
            broken = true;
            std::fill(buffer.begin(), buffer.end(), 0u);
            return buffer.data();
        }
        ++nextRow;
    }
    lastRow = y;
    return buffer.data();
}

const std::uint32_t *ImageRowReader::fetch(void *reader, int y)
{
    return static_cast<ImageRowReader *>(reader)->row(y);
}

bool ImageRowReader::finish()
{
    while (!broken && nextRow < rows) {
        if (!readRow(buffer.data()))
            broken = true;
        ++nextRow;
    }
    if (!broken && !readEnd())
        broken = true;
    return !broken;
}

} // namespace veltrano
