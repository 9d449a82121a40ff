#include "codec/rowio/imagerowwriter.h"

#include "codec/rowio/jpegrowwriter.h"
#include "codec/rowio/pngrowwriter.h"
#include "codec/rowio/ppmrowwriter.h"

#include <cstring>

namespace veltrano {

ImageRowWriter::ImageRowWriter(const QString &fileName, int width, int height)
    : fileName(fileName)
    , width(width)
    , height(height)
    , output(fileName)
{
}

ImageRowWriter::~ImageRowWriter() = default;

void ImageRowWriter::packRow(const std::uint32_t *row, unsigned char *packed) const
{
    std::memcpy(packed, row, packedRowBytes());
}

bool ImageRowWriter::writePacked(const unsigned char *packed)
{
    return writeRow(reinterpret_cast<const std::uint32_t *>(packed));
}

bool ImageRowWriter::handles(const QByteArray &format)
{
    return format == "jpg" || format == "ppm" || format == "png";
}

std::unique_ptr<ImageRowWriter> ImageRowWriter::create(const QString &fileName, const QByteArray &format, int width,
                                                       int height, int dotsPerMeter, int quality)
{
    if (format == "jpg")
        return std::unique_ptr<ImageRowWriter>(new JpegRowWriter(fileName, width, height, dotsPerMeter, quality));
    if (format == "ppm")
        return std::unique_ptr<ImageRowWriter>(new PpmRowWriter(fileName, width, height));
    if (format == "png")
        return std::unique_ptr<ImageRowWriter>(new PngRowWriter(fileName, width, height, dotsPerMeter, quality));
    return nullptr;
}

} // namespace veltrano
