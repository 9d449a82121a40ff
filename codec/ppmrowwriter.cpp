#include "ppmrowwriter.h"

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
    char *out = bytes.data();
    for (int x = 0; x < width; ++x, out += 3) {
        const std::uint32_t word = row[x];
        out[0] = char(word >> 16);
        out[1] = char(word >> 8);
        out[2] = char(word);
    }
    return output.write(bytes.data(), qint64(bytes.size()));
}

bool PpmRowWriter::finish()
{
    return output.commit();
}
