#include "rdsummary.h"

#include "rdresamplescheme.h"

#include <QMap>
#include <QSet>

#include <functional>

#include <cmath>
#include <limits>

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

double ssimDb(double ssim)
{
    return -10.0 * std::log10(1.0 - ssim);
}

RdAnchorDelta anchorDelta(const QVector<RdPoint> &points, const QString &anchor)
{
    RdAnchorDelta delta;
    const QVector<RateQualityPoint> hybridPsnr = rateQualityPoints(points, hybridScheme());
    const QVector<RateQualityPoint> anchorPsnr = rateQualityPoints(points, anchor);
    const QVector<RateQualityPoint> hybridSsim = rateSsimDbPoints(points, hybridScheme());
    const QVector<RateQualityPoint> anchorSsim = rateSsimDbPoints(points, anchor);
    delta.psnr = bjontegaardDelta(anchorPsnr, hybridPsnr);
    delta.ssimDb = bjontegaardDelta(anchorSsim, hybridSsim);
    delta.crossoverPsnr = crossoverRate(hybridPsnr, anchorPsnr);
    delta.crossoverSsim = crossoverRate(hybridSsim, anchorSsim);
    return delta;
}

struct Mean
{
    double sum = 0.0;
    int count = 0;
    void add(double value)
    {
        if (std::isfinite(value)) {
            sum += value;
            ++count;
        }
    }
    double value() const { return count > 0 ? sum / count : notANumber; }
};

const QString optimisedJpeg = QStringLiteral("jpeg-opt");

QVector<double> valuesOf(const QVector<RdImageSummary> &images, const std::function<double(const RdImageSummary &)> &field)
{
    QVector<double> values;
    for (const RdImageSummary &image : images)
        values.append(field(image));
    return values;
}

} // namespace

RdHullDelta hullDelta(const QVector<RdPoint> &points, const QString &tested, const QStringList &members)
{
    QVector<QVector<RateQualityPoint>> anchors;
    for (const QString &member : members)
        anchors.append(rateQualityPoints(points, member));
    const QVector<RateQualityPoint> hull = rateQualityHull(anchors);
    const QVector<RateQualityPoint> scheme = rateQualityPoints(points, tested);
    RdHullDelta delta;
    delta.scheme = bjontegaardDelta(hull, scheme);
    delta.withJpegOpt = bjontegaardDelta(hull, rateQualityHull({scheme, rateQualityPoints(points, optimisedJpeg)}));
    return delta;
}

QStringList studySchemes(const RdStudy &study)
{
    QStringList schemes;
    QSet<QString> seen;
    for (const RdImageResult &image : study.images)
        for (const RdPoint &point : image.points)
            if (!seen.contains(point.scheme)) {
                seen.insert(point.scheme);
                schemes.append(point.scheme);
            }
    return schemes;
}

QVector<RateQualityPoint> rateQualityPoints(const QVector<RdPoint> &points, const QString &scheme)
{
    QVector<RateQualityPoint> result;
    for (const RdPoint &point : points)
        if (point.scheme == scheme)
            result.append(RateQualityPoint{point.bpp, point.psnr});
    return result;
}

QVector<RateQualityPoint> rateQualityPoints(const RdImageResult &image, const QString &scheme)
{
    return rateQualityPoints(image.points, scheme);
}

QVector<RateQualityPoint> rateSsimDbPoints(const QVector<RdPoint> &points, const QString &scheme)
{
    QVector<RateQualityPoint> result;
    for (const RdPoint &point : points)
        if (point.scheme == scheme)
            result.append(RateQualityPoint{point.bpp, ssimDb(point.windowedSsim)});
    return result;
}

RdSummary summarizeStudy(const RdStudy &study)
{
    RdSummary summary;
    const QStringList schemes = studySchemes(study);
    if (schemes.contains(hybridScheme()))
        for (const QString &scheme : schemes)
            if (scheme != hybridScheme())
                summary.anchors.append(scheme);
    for (const QString &scheme : schemes) {
        const QString target = rdAblationTarget(scheme);
        if (target.isEmpty() || !schemes.contains(target))
            continue;
        int t = summary.tested.indexOf(target);
        if (t < 0) {
            summary.tested.append(target);
            summary.hullMembers.append(schemes.contains(optimisedJpeg) ? QStringList{optimisedJpeg} : QStringList());
            t = summary.tested.size() - 1;
        }
        summary.hullMembers[t].append(scheme);
    }
    Mean rate;
    Mean psnr;
    QVector<Mean> means(summary.anchors.size() * 4);
    for (const RdImageResult &image : study.images) {
        RdImageSummary entry;
        entry.index = image.index;
        entry.image = image.image;
        entry.delta = bjontegaardDelta(rateQualityPoints(image, jpegScheme()), rateQualityPoints(image, hybridScheme()));
        rate.add(entry.delta.ratePercent);
        psnr.add(entry.delta.quality);
        for (int a = 0; a < summary.anchors.size(); ++a) {
            const RdAnchorDelta delta = anchorDelta(image.points, summary.anchors[a]);
            means[4 * a].add(delta.psnr.ratePercent);
            means[4 * a + 1].add(delta.psnr.quality);
            means[4 * a + 2].add(delta.ssimDb.ratePercent);
            means[4 * a + 3].add(delta.ssimDb.quality);
            entry.anchors.append(delta);
        }
        for (int t = 0; t < summary.tested.size(); ++t)
            entry.hulls.append(hullDelta(image.points, summary.tested[t], summary.hullMembers[t]));
        summary.images.append(entry);
    }
    summary.rateInterval =
        bootstrapMean(valuesOf(summary.images, [](const RdImageSummary &i) { return i.delta.ratePercent; }));
    for (int a = 0; a < summary.anchors.size(); ++a)
        summary.anchorRateIntervals.append(bootstrapMean(
            valuesOf(summary.images, [a](const RdImageSummary &i) { return i.anchors[a].psnr.ratePercent; })));
    for (int t = 0; t < summary.tested.size(); ++t) {
        RdHullMean mean;
        mean.schemeRate = bootstrapMean(
            valuesOf(summary.images, [t](const RdImageSummary &i) { return i.hulls[t].scheme.ratePercent; }));
        mean.withJpegOptRate = bootstrapMean(
            valuesOf(summary.images, [t](const RdImageSummary &i) { return i.hulls[t].withJpegOpt.ratePercent; }));
        mean.schemePsnr = bootstrapMean(valuesOf(summary.images, [t](const RdImageSummary &i) {
                              return i.hulls[t].scheme.quality;
                          })).mean;
        mean.withJpegOptPsnr = bootstrapMean(valuesOf(summary.images, [t](const RdImageSummary &i) {
                                   return i.hulls[t].withJpegOpt.quality;
                               })).mean;
        summary.hullMeans.append(mean);
    }
    summary.meanRatePercent = rate.value();
    summary.rateImages = rate.count;
    summary.meanPsnr = psnr.value();
    summary.psnrImages = psnr.count;

    QVector<RdPoint> averages = averageCurve(study, hybridScheme());
    for (const QString &anchor : summary.anchors)
        averages += averageCurve(study, anchor);
    for (int a = 0; a < summary.anchors.size(); ++a) {
        RdAnchorMean mean;
        mean.psnrRatePercent = means[4 * a].value();
        mean.psnrDelta = means[4 * a + 1].value();
        mean.ssimRatePercent = means[4 * a + 2].value();
        mean.ssimDelta = means[4 * a + 3].value();
        mean.images = means[4 * a].count;
        const RdAnchorDelta average = anchorDelta(averages, summary.anchors[a]);
        mean.crossoverPsnr = average.crossoverPsnr;
        mean.crossoverSsim = average.crossoverSsim;
        summary.anchorMeans.append(mean);
    }
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
        double msSsim = 0.0;
        double butteraugli = 0.0;
        double butteraugliMax = 0.0;
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
            sums.msSsim += point.msSsim;
            sums.butteraugli += point.butteraugli;
            sums.butteraugliMax += point.butteraugliMax;
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
        point.msSsim = sums.msSsim / sums.count;
        point.butteraugli = sums.butteraugli / sums.count;
        point.butteraugliMax = sums.butteraugliMax / sums.count;
        point.encodeMs = sums.encodeMs / sums.count;
        point.decodeMs = sums.decodeMs / sums.count;
        curve.append(point);
    }
    return curve;
}
