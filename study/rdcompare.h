#ifndef RDCOMPARE_H
#define RDCOMPARE_H

#include "study/bdrate.h"

#include <QVector>

namespace veltrano {

// One scheme (test) against another (anchor) on PSNR: the Bjøntegaard deltas
// over the whole overlap, the rate from which the anchor overtakes the test
// scheme, the BD-rate below that crossover (over the PSNR range from the
// overlap's low end to the test scheme's PSNR at the crossover; the whole
// overlap when the anchor never overtakes), and the highest PSNR each reaches.
struct RdComparison
{
    BdResult whole;
    double crossoverRate = 0.0;
    double belowRatePercent = 0.0;
    double belowQualityHigh = 0.0;
    double testCeiling = 0.0;
    double anchorCeiling = 0.0;
};

RdComparison compareRateQuality(const QVector<RateQualityPoint> &anchor, const QVector<RateQualityPoint> &test);

} // namespace veltrano

#endif // RDCOMPARE_H
