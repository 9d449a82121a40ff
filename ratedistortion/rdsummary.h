#ifndef RDSUMMARY_H
#define RDSUMMARY_H

#include "bdrate.h"
#include "rdpoint.h"

#include <QString>
#include <QVector>

// Bjøntegaard deltas of the hybrid scheme against plain JPEG, on bits per
// pixel and PSNR.
struct RdImageSummary
{
    int index = 0;
    QString image;
    BdResult delta;
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
};

// The (bpp, PSNR) points of one scheme of an image.
QVector<RateQualityPoint> rateQualityPoints(const RdImageResult &image, const QString &scheme);

RdSummary summarizeStudy(const RdStudy &study);

// The average rate-distortion curve of a scheme over the images: for each
// quality, the mean of bpp, PSNR and both SSIMs over the images measured at
// it (all images, in a run that skipped none of their points), and the mean
// times. Non-finite PSNR values (a lossless point) are left out of the PSNR
// mean.
QVector<RdPoint> averageCurve(const RdStudy &study, const QString &scheme);

#endif // RDSUMMARY_H
