#ifndef BDRATE_H
#define BDRATE_H

#include <QVector>

namespace veltrano {

// One operating point of a codec: its rate (bits per pixel, or any unit
// proportional to it) and the quality it reaches (PSNR in dB).
struct RateQualityPoint
{
    double rate = 0.0;
    double quality = 0.0;
};

// The points of a curve that no other point beats: sorted by rate, each
// point kept only when its quality exceeds that of every point of lower or
// equal rate, so rate and quality both rise strictly along the result.
// Points with a non-positive or non-finite rate or a non-finite quality are
// dropped. A codec setting that costs more bits for no gain in quality is
// thereby left out, which the interpolation below needs (quality must be a
// function of log-rate and the reverse).
QVector<RateQualityPoint> efficientFrontier(const QVector<RateQualityPoint> &points);

// The average differences between two rate-quality curves in the manner of
// Bjøntegaard, with the curves interpolated by monotone piecewise cubic
// Hermite polynomials (Fritsch-Carlson slopes, as in pchip) through the
// points of their efficient frontiers, on a log10 rate axis, and integrated
// exactly over the range both curves cover.
struct BdResult
{
    // Mean rate difference of test against reference at equal quality, in
    // percent: -50 means test needs half the rate. NaN when the quality
    // ranges do not overlap or a frontier has fewer than two points.
    double ratePercent = 0.0;
    // Mean quality difference of test against reference at equal rate (dB
    // for PSNR). NaN when the rate ranges do not overlap.
    double quality = 0.0;
    // The overlaps the averages were taken over (NaN when empty).
    double rateLow = 0.0;
    double rateHigh = 0.0;
    double qualityLow = 0.0;
    double qualityHigh = 0.0;
};

BdResult bjontegaardDelta(const QVector<RateQualityPoint> &reference, const QVector<RateQualityPoint> &test);

// The integral over [from, to] of the monotone piecewise cubic Hermite
// interpolant through (x[i], y[i]), x strictly increasing, from <= to, both
// within [x.front(), x.back()]. NaN for fewer than two points.
double pchipIntegral(const QVector<double> &x, const QVector<double> &y, double from, double to);

// The value at `at` of the monotone piecewise cubic Hermite interpolant
// through (x[i], y[i]), x strictly increasing; NaN outside [x.front(),
// x.back()] or for fewer than two points.
double pchipValue(const QVector<double> &x, const QVector<double> &y, double at);

// Where challenger overtakes test: over the rate range both efficient
// frontiers cover, with the quality of each interpolated as above on log10
// rate, the lowest rate from which challenger's quality is at least test's
// after being below it; the low end of the range when challenger is ahead
// there already; NaN when it never gets ahead in the range (or the range is
// empty).
double crossoverRate(const QVector<RateQualityPoint> &test, const QVector<RateQualityPoint> &challenger);

// The upper envelope of several curves, "at each rate the best of them": each
// curve interpolated on log10 rate through its efficient frontier as above,
// and at each rate the highest quality any curve covering that rate reaches.
// It is returned as points: the envelope sampled at every frontier point's
// rate and at 512 even steps of log10 rate over the union of the curves'
// ranges, reduced to its efficient frontier, so that bjontegaardDelta and
// crossoverRate take it as one more curve. Curves with fewer than two
// frontier points take no part; empty when none is left.
QVector<RateQualityPoint> rateQualityHull(const QVector<QVector<RateQualityPoint>> &curves);

// The mean of a sample with a 95 % percentile bootstrap interval: the means
// of `resamples` draws of as many values with replacement, by a Mersenne
// Twister (mt19937_64) of a fixed seed, so that the interval is reproducible,
// their 2.5 and 97.5 percentiles (linear between order statistics); and the
// smallest and largest value, the spread. Non-finite values are left out;
// everything is NaN for an empty sample, the interval a single point for one
// value.
struct MeanInterval
{
    double mean = 0.0;
    double low = 0.0;
    double high = 0.0;
    double minimum = 0.0;
    double maximum = 0.0;
    int count = 0;
};

MeanInterval bootstrapMean(const QVector<double> &values, int resamples = 4000, quint64 seed = 20240824);

} // namespace veltrano

#endif // BDRATE_H
