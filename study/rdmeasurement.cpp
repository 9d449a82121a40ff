#include "study/rdmeasurement.h"

#include "metrics/butteraugli.h"
#include "metrics/imagemetrics.h"
#include "codec/format/bitrate.h"
#include "metrics/msssim.h"
#include "metrics/windowedssim.h"

#include <QElapsedTimer>

#include <cmath>
#include <limits>

namespace veltrano {

namespace {

double elapsedMs(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

bool isRestartMarker(unsigned char marker)
{
    return marker >= 0xD0 && marker <= 0xD7;
}

} // namespace

qint64 jpegHeaderBytes(const QByteArray &data)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
    const qint64 size = data.size();
    if (size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return -1;
    qint64 entropyBytes = 0;
    qint64 at = 2;
    while (at + 1 < size) {
        if (bytes[at] != 0xFF)
            return -1;
        const unsigned char marker = bytes[at + 1];
        if (marker == 0xFF) { // a fill byte before a marker
            ++at;
            continue;
        }
        if (marker == 0xD9) // the end of the image
            break;
        if (isRestartMarker(marker) || marker == 0x01) {
            at += 2;
            continue;
        }
        if (at + 3 >= size)
            return -1;
        const int length = (bytes[at + 2] << 8) | bytes[at + 3];
        if (length < 2)
            return -1;
        at += 2 + length;
        if (marker != 0xDA)
            continue;
        // The scan's entropy-coded data run to the next marker that is
        // neither a stuffed zero nor a restart marker.
        while (at < size) {
            if (bytes[at] == 0xFF && at + 1 < size && bytes[at + 1] != 0x00) {
                if (!isRestartMarker(bytes[at + 1]))
                    break;
                at += 2;
                continue;
            }
            const qint64 step = bytes[at] == 0xFF ? 2 : 1;
            entropyBytes += step;
            at += step;
        }
    }
    if (at > size)
        return -1;
    return size - entropyBytes;
}

bool measurePoint(const QImage &source, const RdScheme &scheme, int setting, RdPoint *point, QByteArray *data,
                  QString *error, QImage *decodedImage)
{
    point->scheme = scheme.name;
    point->quality = setting;
    QString reason;
    QElapsedTimer timer;
    timer.start();
    *data = scheme.encode(source, setting, &reason);
    point->encodeMs = elapsedMs(timer);
    if (data->isEmpty()) {
        *error = QStringLiteral("%1 at %2: %3").arg(scheme.name).arg(setting).arg(reason);
        return false;
    }
    timer.start();
    const QImage decoded = scheme.decode(*data, source.size(), &reason);
    point->decodeMs = elapsedMs(timer);
    if (decoded.isNull() || decoded.size() != source.size()) {
        if (!decoded.isNull())
            reason = QStringLiteral("the data decode at %1x%2 pixels").arg(decoded.width()).arg(decoded.height());
        *error = QStringLiteral("%1 at %2: %3").arg(scheme.name).arg(setting).arg(reason);
        return false;
    }
    point->sizeBytes = data->size();
    point->bpp = bitsPerPixel(point->sizeBytes, qint64(source.width()) * source.height());
    point->headerBytes = jpegHeaderBytes(*data);
    point->payloadBpp = point->headerBytes < 0
        ? std::numeric_limits<double>::quiet_NaN()
        : bitsPerPixel(point->sizeBytes - point->headerBytes, qint64(source.width()) * source.height());
    point->psnr = psnr(source, decoded);
    point->ssim = ssim(source, decoded);
    point->windowedSsim = windowedSsimRgbMean(source, decoded);
    point->msSsim = msSsim(source, decoded);
    ButteraugliDistance distance;
    butteraugliDistance(source, decoded, &distance);
    point->butteraugli = distance.pNorm3;
    point->butteraugliMax = distance.max;
    if (decodedImage)
        *decodedImage = decoded;
    return true;
}

} // namespace veltrano
