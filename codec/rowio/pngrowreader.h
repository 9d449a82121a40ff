#ifndef PNGROWREADER_H
#define PNGROWREADER_H

#include "codec/rowio/imagerowreader.h"

#include <QSize>

#include <vector>

namespace veltrano {

// PNG files without interlacing, of 8-bit grey, grey and alpha, RGB or RGBA
// pixels, or of palette indexes of any depth, read row by row by libpng.
// Colours are taken as stored (no gamma correction, as Qt's reader takes
// them); an index beyond the palette gives 0, as QImage::pixel() does for an
// index beyond the colour table. Every warning of libpng counts as a fault
// (the in-memory path decides such files); an error is damage
// (pngDataDamage), with the in-memory path's message.
class PngRowReader : public ImageRowReader
{
public:
    ~PngRowReader() override;
    static std::unique_ptr<ImageRowReader> open(const QString &fileName);

    // libpng's state, its error handling among it.
    struct Decoder;

protected:
    bool readRow(std::uint32_t *out) override;
    bool readEnd() override;

private:
    PngRowReader(Decoder *decoder, const QString &fileName, int width, int height);
    // Whether libpng has stopped on an error; damage() is then set.
    bool failOnError();

    Decoder *decoder;
    QString fileName;
    std::vector<unsigned char> bytes;
};

// The damage policy of every PNG reader, streamed or in memory: the image is
// inflated to its end (every pass of an interlaced one) and the chunks after
// it read up to IEND, with libpng's error handling. Any error of libpng once
// the header is read is damage (its warnings, about ancillary chunks, are
// not). What is missing, with libpng's words; empty for a sound file and for
// one whose header libpng cannot read (the decoder of the file then reports
// that itself).
QString pngDataDamage(const QString &fileName);

// The size the header of a PNG file declares, read by libpng with the
// error handling above, which prints nothing; false with *error saying
// what is wrong when libpng cannot read the header, and *damaged whether
// that is damage (or a size beyond pngMaxSide a side).
bool pngHeaderSize(const QString &fileName, QSize *size, QString *error, bool *damaged);

} // namespace veltrano

#endif // PNGROWREADER_H
