#include "study/codecs/jpegcodec.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>

namespace veltrano {

namespace {

// The pixels without the image's metadata: Qt's writer would store its text
// (a PNG's tEXt and iTXt chunks, 3 kB of XMP on one bundled photograph) as
// JPEG comments and its colour space (the 3 kB ICC profile of another) as an
// APP2 segment, bytes that code no pixel.
QImage pixelsOnly(const QImage &image)
{
    QImage bare(image.constBits(), image.width(), image.height(), image.bytesPerLine(), image.format());
    bare.setColorTable(image.colorTable());
    bare.setDotsPerMeterX(image.dotsPerMeterX());
    bare.setDotsPerMeterY(image.dotsPerMeterY());
    return bare; // shares the pixels of image, which outlives the write
}

} // namespace

QByteArray encodeJpeg(const QImage &image, int quality, bool optimised, QString *error)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpg");
    writer.setQuality(quality);
    if (optimised) {
        writer.setOptimizedWrite(true);
        writer.setProgressiveScanWrite(true);
    }
    if (writer.write(pixelsOnly(image)) && !data.isEmpty())
        return data;
    *error = QStringLiteral("JPEG encoding at quality %1 failed: %2").arg(quality).arg(writer.errorString());
    return QByteArray();
}

QImage decodeImageData(const QByteArray &data, QString *error)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    QImage image;
    if (!reader.read(&image))
        *error = QStringLiteral("the data cannot be decoded: %1").arg(reader.errorString());
    return image;
}

} // namespace veltrano
