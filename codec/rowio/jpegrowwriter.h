#ifndef JPEGROWWRITER_H
#define JPEGROWWRITER_H

#include "codec/rowio/imagerowwriter.h"

namespace veltrano {

// Baseline JFIF written by libjpeg row by row with the settings of Qt's JPEG
// writer: libjpeg's defaults (4:2:0 YCbCr, accurate integer DCT, standard
// Huffman tables), the quality scaled to baseline tables (75 by default),
// the resolution in dots per inch.
class JpegRowWriter : public ImageRowWriter
{
public:
    JpegRowWriter(const QString &fileName, int width, int height, int dotsPerMeter, int quality);
    ~JpegRowWriter() override;

    // Sets the hybrid marker in the stream's first line as it is written.
    void setHybridMarker(bool marked) { marker = marked; }

    bool start() override;
    bool writeRow(const std::uint32_t *row) override;
    bool finish() override;

    // libjpeg's state, its error handling and destination among it.
    struct Encoder;

private:
    Encoder *encoder;
    int dotsPerMeter;
    int quality;
    bool marker = false;
};

} // namespace veltrano

#endif // JPEGROWWRITER_H
