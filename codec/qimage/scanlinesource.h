#ifndef SCANLINESOURCE_H
#define SCANLINESOURCE_H

#include <QImage>
#include <QRgb>
#include <QVector>

#include <cstdint>
#include <vector>

namespace veltrano {

// One row at a time of an image, as the 32-bit words QImage::pixel() returns
// for it (only the colour bits are meaningful; alpha may be left as stored).
// RGB32, ARGB32 and ARGB32_Premultiplied rows are the image's own scan lines
// (pixel() returns their words as stored, premultiplied ones included);
// grey and indexed rows are converted through the grey level or the colour
// table, RGB888, RGBX8888 and RGBA8888 rows (byte-ordered colours, as numpy
// arrays hold them) byte by byte; every other format is read through
// QImage::pixel() itself. Only one row of memory is used beyond the image.
class ScanLineSource
{
public:
    explicit ScanLineSource(const QImage &image);

    int width() const { return image.width(); }
    int height() const { return image.height(); }

    // Row y; valid until the next call.
    const QRgb *row(int y);

    // The same as a plain function, for the transforms' inner loops.
    static const std::uint32_t *fetch(void *source, int y);

private:
    enum class Kind
    {
        Direct,
        Grey,
        Rgb888,
        Rgba8888,
        Indexed,
        Generic,
    };

    const QImage &image;
    Kind kind = Kind::Generic;
    QVector<QRgb> colours;
    std::vector<QRgb> buffer;
};

} // namespace veltrano

#endif // SCANLINESOURCE_H
