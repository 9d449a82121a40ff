#include "study/rdsummary.h"

#include "study/rdpointfields.h"

#include "study/rdresamplescheme.h"

#include <QMap>
#include <QSet>

#include <functional>

#include <cmath>
#include <limits>

namespace veltrano {

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
    // Per setting, each field's sum (in image order) and the count of the
    // values it holds.
    const QVector<RdPointField> fields = rdStudyPointFields(study.extraColumns);
    struct Sums
    {
        int count = 0;
        QVector<double> sum;
        QVector<int> counted;
    };
    QMap<int, Sums> byQuality;
    for (const RdImageResult &image : study.images) {
        for (const RdPoint &point : image.points) {
            if (point.scheme != scheme)
                continue;
            Sums &sums = byQuality[point.quality];
            sums.sum.resize(fields.size());
            sums.counted.resize(fields.size());
            ++sums.count;
            for (int f = 0; f < fields.size(); ++f) {
                if (fields[f].average == RdPointField::Average::None)
                    continue;
                const double value = fields[f].value(point);
                if (fields[f].average == RdPointField::Average::FiniteMean && !std::isfinite(value))
                    continue;
                sums.sum[f] += value;
                ++sums.counted[f];
            }
        }
    }
    QVector<RdPoint> curve;
    for (auto it = byQuality.cbegin(); it != byQuality.cend(); ++it) {
        const Sums &sums = it.value();
        RdPoint point;
        point.scheme = scheme;
        point.quality = it.key();
        for (int f = 0; f < fields.size(); ++f) {
            switch (fields[f].average) {
            case RdPointField::Average::None:
                break;
            case RdPointField::Average::Mean:
                fields[f].setValue(&point, sums.sum[f] / sums.count);
                break;
            case RdPointField::Average::IntegerMean:
                fields[f].setValue(&point, std::trunc(sums.sum[f] / sums.count));
                break;
            case RdPointField::Average::FiniteMean:
                fields[f].setValue(&point, sums.counted[f] > 0 ? sums.sum[f] / sums.counted[f]
                                                               : std::numeric_limits<double>::infinity());
                break;
            }
        }
        curve.append(point);
    }
    return curve;
}

} // namespace veltrano
