#include "jpegcodec.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>

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
    if (writer.write(image) && !data.isEmpty())
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
