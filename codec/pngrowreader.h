#ifndef PNGROWREADER_H
#define PNGROWREADER_H

#include "imagerowreader.h"

#include <vector>

// PNG files without interlacing, of 8-bit grey, grey and alpha, RGB or RGBA
// pixels, or of palette indexes of any depth, read row by row by libpng.
// Colours are taken as stored (no gamma correction, as Qt's reader takes
// them); an index beyond the palette gives 0, as QImage::pixel() does for an
// index beyond the colour table. Every warning of libpng counts as a fault.
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
    PngRowReader(Decoder *decoder, int width, int height);

    Decoder *decoder;
    std::vector<unsigned char> bytes;
};

#endif // PNGROWREADER_H
