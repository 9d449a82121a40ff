#include "rdsummary.h"

#include <QMap>

#include <cmath>
#include <limits>

QVector<RateQualityPoint> rateQualityPoints(const RdImageResult &image, const QString &scheme)
{
    QVector<RateQualityPoint> points;
    for (const RdPoint &point : image.points)
        if (point.scheme == scheme)
            points.append(RateQualityPoint{point.bpp, point.psnr});
    return points;
}

RdSummary summarizeStudy(const RdStudy &study)
{
    RdSummary summary;
    double rateSum = 0.0;
    double psnrSum = 0.0;
    for (const RdImageResult &image : study.images) {
        RdImageSummary entry;
        entry.index = image.index;
        entry.image = image.image;
        entry.delta = bjontegaardDelta(rateQualityPoints(image, jpegScheme()), rateQualityPoints(image, hybridScheme()));
        if (std::isfinite(entry.delta.ratePercent)) {
            rateSum += entry.delta.ratePercent;
            ++summary.rateImages;
        }
        if (std::isfinite(entry.delta.quality)) {
            psnrSum += entry.delta.quality;
            ++summary.psnrImages;
        }
        summary.images.append(entry);
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    summary.meanRatePercent = summary.rateImages > 0 ? rateSum / summary.rateImages : nan;
    summary.meanPsnr = summary.psnrImages > 0 ? psnrSum / summary.psnrImages : nan;
    return summary;
}

QVector<RdPoint> averageCurve(const RdStudy &study, const QString &scheme)
{
    struct Sums
    {
        int count = 0;
        int psnrCount = 0;
        double bpp = 0.0;
        double psnr = 0.0;
        double ssim = 0.0;
        double windowedSsim = 0.0;
        double encodeMs = 0.0;
        double decodeMs = 0.0;
        qint64 sizeBytes = 0;
    };
    QMap<int, Sums> byQuality;
    for (const RdImageResult &image : study.images) {
        for (const RdPoint &point : image.points) {
            if (point.scheme != scheme)
                continue;
            Sums &sums = byQuality[point.quality];
            ++sums.count;
            sums.bpp += point.bpp;
            if (std::isfinite(point.psnr)) {
                sums.psnr += point.psnr;
                ++sums.psnrCount;
            }
            sums.ssim += point.ssim;
            sums.windowedSsim += point.windowedSsim;
            sums.encodeMs += point.encodeMs;
            sums.decodeMs += point.decodeMs;
            sums.sizeBytes += point.sizeBytes;
        }
    }
    QVector<RdPoint> curve;
    for (auto it = byQuality.cbegin(); it != byQuality.cend(); ++it) {
        const Sums &sums = it.value();
        RdPoint point;
        point.scheme = scheme;
        point.quality = it.key();
        point.sizeBytes = sums.sizeBytes / sums.count;
        point.bpp = sums.bpp / sums.count;
        point.psnr = sums.psnrCount > 0 ? sums.psnr / sums.psnrCount : std::numeric_limits<double>::infinity();
        point.ssim = float(sums.ssim / sums.count);
        point.windowedSsim = sums.windowedSsim / sums.count;
        point.encodeMs = sums.encodeMs / sums.count;
        point.decodeMs = sums.decodeMs / sums.count;
        curve.append(point);
    }
    return curve;
}
