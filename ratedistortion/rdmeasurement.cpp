#include "rdmeasurement.h"

#include "bitrate.h"
#include "hybridjpeg.h"
#include "imagemetrics.h"
#include "windowedssim.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImageReader>
#include <QImageWriter>

namespace {

double elapsedMs(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

bool encodeJpeg(const QImage &image, int quality, QByteArray *data, QString *error)
{
    QBuffer buffer(data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpg");
    writer.setQuality(quality);
    if (writer.write(image))
        return true;
    *error = QStringLiteral("JPEG encoding at quality %1 failed: %2").arg(quality).arg(writer.errorString());
    return false;
}

QImage decodeImage(const QByteArray &data, QString *error)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    QImage image;
    if (!reader.read(&image))
        *error = QStringLiteral("the JPEG data cannot be decoded: %1").arg(reader.errorString());
    return image;
}

void measureQuality(const QImage &source, const QImage &decoded, RdPoint *point)
{
    point->psnr = psnr(source, decoded);
    point->ssim = ssim(source, decoded);
    point->windowedSsim = windowedSsimRgbMean(source, decoded);
}

} // namespace

QVector<int> rdQualities()
{
    QVector<int> qualities;
    for (int quality = 0; quality <= 100; quality += 5)
        qualities.append(quality);
    return qualities;
}

bool measureImage(const QImage &source, const QList<float> &weights, QVector<RdPoint> *points, QString *error,
                  const std::function<void()> &pointDone)
{
    const int width = source.width();
    const int height = source.height();
    if (!fitsHybridJpeg(source, error) || !hybridWeightsSuffice(weights, width, height, error))
        return false;
    QElapsedTimer timer;
    for (int quality : rdQualities()) {
        RdPoint point;
        point.scheme = jpegScheme();
        point.quality = quality;
        QByteArray data;
        timer.start();
        if (!encodeJpeg(source, quality, &data, error))
            return false;
        point.encodeMs = elapsedMs(timer);
        timer.start();
        const QImage decoded = decodeImage(data, error);
        point.decodeMs = elapsedMs(timer);
        if (decoded.isNull())
            return false;
        if (decoded.size() != source.size()) {
            *error = QStringLiteral("the JPEG at quality %1 decodes at %2x%3 pixels")
                         .arg(quality)
                         .arg(decoded.width())
                         .arg(decoded.height());
            return false;
        }
        point.sizeBytes = data.size();
        point.bpp = bitsPerPixel(point.sizeBytes, qint64(width) * height);
        measureQuality(source, decoded, &point);
        points->append(point);
        if (pointDone)
            pointDone();
    }
    for (int quality : rdQualities()) {
        RdPoint point;
        point.scheme = hybridScheme();
        point.quality = quality;
        timer.start();
        const QByteArray data = encodeHybridJpeg(source, quality, error);
        point.encodeMs = elapsedMs(timer);
        if (data.isEmpty())
            return false;
        timer.start();
        const QImage decoded = decodeHybridJpeg(data, width, height, weights, error);
        point.decodeMs = elapsedMs(timer);
        if (decoded.isNull())
            return false;
        point.sizeBytes = data.size();
        point.bpp = bitsPerPixel(point.sizeBytes, qint64(width) * height);
        measureQuality(source, decoded, &point);
        points->append(point);
        if (pointDone)
            pointDone();
    }
    return true;
}
