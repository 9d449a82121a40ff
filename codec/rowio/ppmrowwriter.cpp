#include "codec/rowio/ppmrowwriter.h"

#include "codec/dsp/pixelrows.h"

namespace veltrano {

PpmRowWriter::PpmRowWriter(const QString &fileName, int width, int height)
    : ImageRowWriter(fileName, width, height)
    , bytes(std::size_t(width) * 3)
{
}

bool PpmRowWriter::start()
{
    if (!output.open())
        return false;
    const QByteArray header = "P6\n" + QByteArray::number(width) + ' ' + QByteArray::number(height) + "\n255\n";
    return output.write(header.constData(), header.size());
}

bool PpmRowWriter::writeRow(const std::uint32_t *row)
{
    packRow(row, bytes.data());
    return writePacked(bytes.data());
}

void PpmRowWriter::packRow(const std::uint32_t *row, unsigned char *packed) const
{
    wordsToRgbBytes(row, packed, width);
}

bool PpmRowWriter::writePacked(const unsigned char *packed)
{
    return output.write(reinterpret_cast<const char *>(packed), qint64(packedRowBytes()));
}

bool PpmRowWriter::finish()
{
    return output.commit();
}

} // namespace veltrano
