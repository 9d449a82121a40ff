#ifndef PNGROWWRITER_H
#define PNGROWWRITER_H

#include "codec/rowio/imagerowwriter.h"

namespace veltrano {

// PNG written by libpng row by row with the settings of Qt's PNG writer for
// an ARGB32 image: eight-bit RGBA, not interlaced, libpng's default filters,
// zlib's default compression unless a quality of 0 to 100 maps to a level
// (9 down to 0), the resolution in a pHYs chunk in dots per metre, no other
// chunk.
class PngRowWriter : public ImageRowWriter
{
public:
    PngRowWriter(const QString &fileName, int width, int height, int dotsPerMeter, int quality);
    ~PngRowWriter() override;

    bool start() override;
    bool writeRow(const std::uint32_t *row) override;
    bool finish() override;

    // libpng's state and the destination of its bytes.
    struct Encoder;

private:
    void setEncoderError();

    Encoder *encoder;
    int dotsPerMeter;
    int level; // zlib's compression level, -1 for its default
};

} // namespace veltrano

#endif // PNGROWWRITER_H
