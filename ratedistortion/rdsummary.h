#ifndef RDSUMMARY_H
#define RDSUMMARY_H

#include "bdrate.h"
#include "rdpoint.h"

#include <QString>
#include <QStringList>
#include <QVector>

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

struct RdImageSummary
{
    int index = 0;
    QString image;
    // Hybrid against plain JPEG on PSNR (the deltas the study has always
    // reported).
    BdResult delta;
    // Against each anchor of RdSummary::anchors, in that order.
    QVector<RdAnchorDelta> anchors;
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
};

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

#endif // RDSUMMARY_H
