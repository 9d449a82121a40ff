#ifndef RDSUMMARY_H
#define RDSUMMARY_H

#include "study/bdrate.h"
#include "study/rdpoint.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace veltrano {

// The hybrid scheme against one other scheme (the anchor) on one image, or
// on the average curves: Bjøntegaard deltas with the anchor as reference,
// on PSNR and on the windowed SSIM in dB (-10 log10(1 - SSIM)), and the bit
// rates from which the anchor overtakes the hybrid scheme (crossoverRate).
struct RdAnchorDelta
{
    BdResult psnr;
    BdResult ssimDb;
    double crossoverPsnr = 0.0;
    double crossoverSsim = 0.0;
};

// An F-transform scheme of the study against the hull of the JPEG-compatible
// anchors (at each rate the best of jpeg-opt and the scheme's matched
// ablations, rateQualityHull), on PSNR: the scheme itself, and the hull of
// the scheme with jpeg-opt (what a codec free to choose either at each rate
// reaches).
struct RdHullDelta
{
    BdResult scheme;
    BdResult withJpegOpt;
};

struct RdImageSummary
{
    int index = 0;
    QString image;
    // Hybrid against plain JPEG on PSNR (the deltas the study has always
    // reported).
    BdResult delta;
    // Against each anchor of RdSummary::anchors, in that order.
    QVector<RdAnchorDelta> anchors;
    // Each scheme of RdSummary::tested against its hull, in that order.
    QVector<RdHullDelta> hulls;
};

// The means over the images of a scheme's hull deltas, with bootstrap
// intervals and spread of the BD-rates.
struct RdHullMean
{
    MeanInterval schemeRate;
    double schemePsnr = 0.0;
    MeanInterval withJpegOptRate;
    double withJpegOptPsnr = 0.0;
};

// The means over the images of one anchor's deltas (over the images where
// each could be computed; NaN when none), and the crossovers of the average
// curves.
struct RdAnchorMean
{
    double psnrRatePercent = 0.0;
    double psnrDelta = 0.0;
    double ssimRatePercent = 0.0;
    double ssimDelta = 0.0;
    int images = 0;
    double crossoverPsnr = 0.0;
    double crossoverSsim = 0.0;
};

struct RdSummary
{
    QVector<RdImageSummary> images;
    // Arithmetic means over the images whose delta could be computed, and
    // how many those were; NaN when none.
    double meanRatePercent = 0.0;
    int rateImages = 0;
    double meanPsnr = 0.0;
    int psnrImages = 0;
    // Every scheme of the study but the hybrid one, in the order they first
    // appear (none without hybrid points).
    QStringList anchors;
    QVector<RdAnchorMean> anchorMeans;
    // The bootstrap interval and spread of the mean BD-rate on PSNR, of
    // hybrid against JPEG and against each anchor, in that order.
    MeanInterval rateInterval;
    QVector<MeanInterval> anchorRateIntervals;
    // The schemes that have matched ablations in the study (rdAblationTarget),
    // in the order they first appear, the members of each one's hull
    // (jpeg-opt first when measured, then its ablations), and the means.
    QStringList tested;
    QVector<QStringList> hullMembers;
    QVector<RdHullMean> hullMeans;
};

// The hull deltas of one tested scheme on the points of one image (or the
// average curves): members are the hull's schemes, jpeg-opt among them when
// measured.
RdHullDelta hullDelta(const QVector<RdPoint> &points, const QString &tested, const QStringList &members);

// The schemes of a study in the order they first appear.
QStringList studySchemes(const RdStudy &study);

// The (bpp, PSNR) points of one scheme of an image.
QVector<RateQualityPoint> rateQualityPoints(const RdImageResult &image, const QString &scheme);
QVector<RateQualityPoint> rateQualityPoints(const QVector<RdPoint> &points, const QString &scheme);

// The (bpp, -10 log10(1 - windowed SSIM)) points.
QVector<RateQualityPoint> rateSsimDbPoints(const QVector<RdPoint> &points, const QString &scheme);

RdSummary summarizeStudy(const RdStudy &study);

// The average rate-distortion curve of a scheme over the images: for each
// quality, the mean of bpp, PSNR, the SSIMs and Butteraugli over the images
// measured at it (all images, in a run that skipped none of their points),
// and the mean times. Non-finite PSNR values (a lossless point) are left out
// of the PSNR mean.
QVector<RdPoint> averageCurve(const RdStudy &study, const QString &scheme);

} // namespace veltrano

#endif // RDSUMMARY_H
