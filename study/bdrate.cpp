#include "study/bdrate.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace veltrano {

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

int sign(double value)
{
    return (value > 0.0) - (value < 0.0);
}

// Slopes of the monotone piecewise cubic Hermite interpolant at the points:
// weighted harmonic means of the neighbouring secants inside (zero where the
// data turn), the three-point shape-preserving formula at both ends.
QVector<double> pchipSlopes(const QVector<double> &x, const QVector<double> &y)
{
    const int n = x.size();
    QVector<double> h(n - 1);
    QVector<double> secant(n - 1);
    for (int k = 0; k < n - 1; ++k) {
        h[k] = x[k + 1] - x[k];
        secant[k] = (y[k + 1] - y[k]) / h[k];
    }
    QVector<double> slope(n, 0.0);
    if (n == 2) {
        slope[0] = slope[1] = secant[0];
        return slope;
    }
    for (int k = 1; k < n - 1; ++k) {
        if (secant[k - 1] * secant[k] <= 0.0)
            continue;
        const double w1 = 2.0 * h[k] + h[k - 1];
        const double w2 = h[k] + 2.0 * h[k - 1];
        slope[k] = (w1 + w2) / (w1 / secant[k - 1] + w2 / secant[k]);
    }
    const auto endSlope = [](double h0, double h1, double s0, double s1) {
        double d = ((2.0 * h0 + h1) * s0 - h0 * s1) / (h0 + h1);
        if (sign(d) != sign(s0))
            d = 0.0;
        else if (sign(s0) != sign(s1) && std::fabs(d) > std::fabs(3.0 * s0))
            d = 3.0 * s0;
        return d;
    };
    slope[0] = endSlope(h[0], h[1], secant[0], secant[1]);
    slope[n - 1] = endSlope(h[n - 2], h[n - 3], secant[n - 2], secant[n - 3]);
    return slope;
}

// The integral of the interpolant from x.front() to `to`.
double integralFromStart(const QVector<double> &x, const QVector<double> &y, const QVector<double> &slope,
                         double to)
{
    double sum = 0.0;
    for (int k = 0; k + 1 < x.size() && to > x[k]; ++k) {
        const double h = x[k + 1] - x[k];
        const double s = std::min(1.0, (to - x[k]) / h);
        const double s2 = s * s;
        const double s3 = s2 * s;
        const double s4 = s3 * s;
        // Integrals from 0 to s of the four cubic Hermite basis functions.
        const double h00 = s4 / 2.0 - s3 + s;
        const double h10 = s4 / 4.0 - 2.0 * s3 / 3.0 + s2 / 2.0;
        const double h01 = -s4 / 2.0 + s3;
        const double h11 = s4 / 4.0 - s3 / 3.0;
        sum += h * (h00 * y[k] + h10 * h * slope[k] + h01 * y[k + 1] + h11 * h * slope[k + 1]);
    }
    return sum;
}

struct Axis
{
    QVector<double> x;
    QVector<double> y;
};

// The frontier as (log10 rate, quality), or the reverse.
Axis axis(const QVector<RateQualityPoint> &frontier, bool qualityOnX)
{
    Axis result;
    for (const RateQualityPoint &point : frontier) {
        const double logRate = std::log10(point.rate);
        result.x.append(qualityOnX ? point.quality : logRate);
        result.y.append(qualityOnX ? logRate : point.quality);
    }
    return result;
}

// The mean of test minus reference over the range both cover, with the
// range; NaN when the range is empty.
double meanDifference(const Axis &reference, const Axis &test, double *low, double *high)
{
    *low = std::max(reference.x.front(), test.x.front());
    *high = std::min(reference.x.back(), test.x.back());
    if (!(*high > *low)) {
        *low = *high = notANumber;
        return notANumber;
    }
    const double referenceArea = pchipIntegral(reference.x, reference.y, *low, *high);
    const double testArea = pchipIntegral(test.x, test.y, *low, *high);
    return (testArea - referenceArea) / (*high - *low);
}

} // namespace

QVector<RateQualityPoint> efficientFrontier(const QVector<RateQualityPoint> &points)
{
    QVector<RateQualityPoint> sorted;
    for (const RateQualityPoint &point : points)
        if (std::isfinite(point.rate) && point.rate > 0.0 && std::isfinite(point.quality))
            sorted.append(point);
    // Among equal rates the best quality comes first and the others fall out.
    std::sort(sorted.begin(), sorted.end(), [](const RateQualityPoint &a, const RateQualityPoint &b) {
        return a.rate < b.rate || (a.rate == b.rate && a.quality > b.quality);
    });
    QVector<RateQualityPoint> frontier;
    for (const RateQualityPoint &point : sorted) {
        if (!frontier.isEmpty()
            && (point.quality <= frontier.back().quality || point.rate <= frontier.back().rate))
            continue;
        frontier.append(point);
    }
    return frontier;
}

double pchipIntegral(const QVector<double> &x, const QVector<double> &y, double from, double to)
{
    if (x.size() < 2 || x.size() != y.size())
        return notANumber;
    const QVector<double> slope = pchipSlopes(x, y);
    return integralFromStart(x, y, slope, to) - integralFromStart(x, y, slope, from);
}

BdResult bjontegaardDelta(const QVector<RateQualityPoint> &reference, const QVector<RateQualityPoint> &test)
{
    BdResult result;
    result.ratePercent = result.quality = notANumber;
    result.rateLow = result.rateHigh = result.qualityLow = result.qualityHigh = notANumber;
    const QVector<RateQualityPoint> referenceFrontier = efficientFrontier(reference);
    const QVector<RateQualityPoint> testFrontier = efficientFrontier(test);
    if (referenceFrontier.size() < 2 || testFrontier.size() < 2)
        return result;

    double low = 0.0;
    double high = 0.0;
    result.quality = meanDifference(axis(referenceFrontier, false), axis(testFrontier, false), &low, &high);
    result.rateLow = std::pow(10.0, low);
    result.rateHigh = std::pow(10.0, high);

    const double logRateDifference =
        meanDifference(axis(referenceFrontier, true), axis(testFrontier, true), &low, &high);
    result.ratePercent = (std::pow(10.0, logRateDifference) - 1.0) * 100.0;
    result.qualityLow = low;
    result.qualityHigh = high;
    return result;
}

double pchipValue(const QVector<double> &x, const QVector<double> &y, double at)
{
    if (x.size() < 2 || x.size() != y.size() || !(at >= x.front() && at <= x.back()))
        return notANumber;
    const QVector<double> slope = pchipSlopes(x, y);
    int k = 0;
    while (k + 2 < x.size() && at > x[k + 1])
        ++k;
    const double h = x[k + 1] - x[k];
    const double s = (at - x[k]) / h;
    const double s2 = s * s;
    const double s3 = s2 * s;
    return (2.0 * s3 - 3.0 * s2 + 1.0) * y[k] + (s3 - 2.0 * s2 + s) * h * slope[k] + (-2.0 * s3 + 3.0 * s2) * y[k + 1]
           + (s3 - s2) * h * slope[k + 1];
}

double crossoverRate(const QVector<RateQualityPoint> &test, const QVector<RateQualityPoint> &challenger)
{
    const QVector<RateQualityPoint> testFrontier = efficientFrontier(test);
    const QVector<RateQualityPoint> challengerFrontier = efficientFrontier(challenger);
    if (testFrontier.size() < 2 || challengerFrontier.size() < 2)
        return notANumber;
    const Axis a = axis(testFrontier, false);
    const Axis b = axis(challengerFrontier, false);
    const double low = std::max(a.x.front(), b.x.front());
    const double high = std::min(a.x.back(), b.x.back());
    if (!(high > low))
        return notANumber;
    const auto lead = [&](double logRate) {
        return pchipValue(b.x, b.y, logRate) - pchipValue(a.x, a.y, logRate);
    };
    if (lead(low) >= 0.0)
        return std::pow(10.0, low);
    // A sign change within each of many small steps is found by bisection.
    constexpr int steps = 1024;
    double previous = low;
    for (int i = 1; i <= steps; ++i) {
        const double at = i == steps ? high : low + (high - low) * i / steps;
        if (lead(at) >= 0.0) {
            double below = previous;
            double above = at;
            for (int k = 0; k < 60; ++k) {
                const double middle = (below + above) / 2.0;
                (lead(middle) >= 0.0 ? above : below) = middle;
            }
            return std::pow(10.0, above);
        }
        previous = at;
    }
    return notANumber;
}

QVector<RateQualityPoint> rateQualityHull(const QVector<QVector<RateQualityPoint>> &curves)
{
    QVector<Axis> axes;
    for (const QVector<RateQualityPoint> &curve : curves) {
        const QVector<RateQualityPoint> frontier = efficientFrontier(curve);
        if (frontier.size() >= 2)
            axes.append(axis(frontier, false));
    }
    if (axes.isEmpty())
        return {};
    double low = axes.front().x.front();
    double high = axes.front().x.back();
    QVector<double> at;
    for (const Axis &a : axes) {
        low = std::min(low, a.x.front());
        high = std::max(high, a.x.back());
        at += a.x;
    }
    constexpr int steps = 512;
    for (int i = 0; i <= steps; ++i)
        at.append(i == steps ? high : low + (high - low) * i / steps);
    QVector<RateQualityPoint> samples;
    for (double x : at) {
        double best = notANumber;
        for (const Axis &a : axes) {
            const double quality = pchipValue(a.x, a.y, x);
            if (std::isfinite(quality) && !(quality <= best))
                best = quality;
        }
        if (std::isfinite(best))
            samples.append(RateQualityPoint{std::pow(10.0, x), best});
    }
    return efficientFrontier(samples);
}

MeanInterval bootstrapMean(const QVector<double> &values, int resamples, quint64 seed)
{
    QVector<double> sample;
    for (double value : values)
        if (std::isfinite(value))
            sample.append(value);
    MeanInterval result;
    result.count = sample.size();
    if (sample.isEmpty()) {
        result.mean = result.low = result.high = result.minimum = result.maximum = notANumber;
        return result;
    }
    const int n = sample.size();
    double sum = 0.0;
    for (double value : sample)
        sum += value;
    result.mean = sum / n;
    result.minimum = *std::min_element(sample.begin(), sample.end());
    result.maximum = *std::max_element(sample.begin(), sample.end());
    std::mt19937_64 generator(seed);
    std::vector<double> means(static_cast<std::size_t>(std::max(1, resamples)));
    for (double &mean : means) {
        double drawn = 0.0;
        for (int k = 0; k < n; ++k)
            drawn += sample[int(generator() % quint64(n))];
        mean = drawn / n;
    }
    std::sort(means.begin(), means.end());
    const auto percentile = [&means](double p) {
        const double position = p * double(means.size() - 1);
        const std::size_t below = static_cast<std::size_t>(std::floor(position));
        const std::size_t above = std::min(below + 1, means.size() - 1);
        return means[below] + (position - double(below)) * (means[above] - means[below]);
    };
    result.low = percentile(0.025);
    result.high = percentile(0.975);
    return result;
}

} // namespace veltrano
