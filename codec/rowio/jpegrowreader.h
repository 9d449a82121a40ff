#ifndef JPEGROWREADER_H
#define JPEGROWREADER_H

#include "codec/rowio/imagerowreader.h"

#include <cstdio>

namespace veltrano {

// JPEG streams of one (grey) or three (colour) components coded in a single
// scan, decoded row by row by libjpeg with the settings Qt's reader uses
// (accurate integer DCT, smooth chroma upsampling). Streams of several scans
// (progressive ones among them) need the whole image buffered and are left
// to the in-memory path, as are those of other component counts. Damaged
// data (jpegDataDamage) stops the reading where it is met, with the
// in-memory path's message.
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
    // Whether the decoder has met damage; damage() is then set.
    bool failOnDamage();

    JpegRowReader(Decoder *decoder, int width, int height);

    Decoder *decoder;
};

// The damage policy of every JPEG reader, streamed or in memory: the stream
// is entropy decoded to its end of image with the error handling and input
// above, and any libjpeg warning, or the decoder asking for bytes past the
// end of the file, is damage, wherever in the decoding it comes (at the end
// of image too). What is wrong, worded as jpegDamageDescription words it;
// empty for a sound stream and for one whose header libjpeg cannot read (the
// decoder of the file then reports that itself).
QString jpegDataDamage(const QString &fileName);

} // namespace veltrano

#endif // JPEGROWREADER_H
