#ifndef JPEGROWREADER_H
#define JPEGROWREADER_H

#include "imagerowreader.h"

#include <cstdio>

// JPEG streams of one (grey) or three (colour) components coded in a single
// scan, decoded row by row by libjpeg with the settings Qt's reader uses
// (accurate integer DCT, smooth chroma upsampling). Streams of several scans
// (progressive ones among them) need the whole image buffered and are left
// to the in-memory path, as are those of other component counts. Damaged
// data fails the reading at its end, with the in-memory path's message.
class JpegRowReader : public ImageRowReader
{
public:
    ~JpegRowReader() override;
    static std::unique_ptr<ImageRowReader> open(const QString &fileName);

    // libjpeg's state, its error handling among it.
    struct Decoder;

protected:
    bool readRow(std::uint32_t *out) override;
    bool readEnd() override;

private:
    JpegRowReader(Decoder *decoder, int width, int height);

    Decoder *decoder;
};

#endif // JPEGROWREADER_H
