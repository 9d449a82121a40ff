#ifndef PPMROWWRITER_H
#define PPMROWWRITER_H

#include "codec/rowio/imagerowwriter.h"

#include <vector>

namespace veltrano {

// Binary PPM (P6, maximum value 255), the header as Qt's writer writes it.
class PpmRowWriter : public ImageRowWriter
{
public:
    PpmRowWriter(const QString &fileName, int width, int height);

    bool start() override;
    bool writeRow(const std::uint32_t *row) override;
    // Packed rows are the file's red, green, blue bytes.
    std::size_t packedRowBytes() const override { return std::size_t(width) * 3; }
    void packRow(const std::uint32_t *row, unsigned char *packed) const override;
    bool writePacked(const unsigned char *packed) override;
    bool finish() override;

private:
    std::vector<unsigned char> bytes; // a row packed, without a pipeline
};

} // namespace veltrano

#endif // PPMROWWRITER_H
