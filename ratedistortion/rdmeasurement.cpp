#include "rdmeasurement.h"

#include "butteraugli.h"
#include "imagemetrics.h"
#include "bitrate.h"
#include "msssim.h"
#include "windowedssim.h"

#include <QElapsedTimer>

#include <cmath>

namespace {

double elapsedMs(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

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
