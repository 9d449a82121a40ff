#include "study/rdcompare.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace veltrano {

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

// Quality (x) against log10 rate (y) along a frontier.
void logRateByQuality(const QVector<RateQualityPoint> &frontier, QVector<double> *quality, QVector<double> *logRate)
{
    for (const RateQualityPoint &point : frontier) {
        quality->append(point.quality);
        logRate->append(std::log10(point.rate));
    }
}

double ceiling(const QVector<RateQualityPoint> &points)
{
    double best = notANumber;
    for (const RateQualityPoint &point : points)
        if (std::isfinite(point.quality) && !(point.quality <= best))
            best = point.quality;
    return best;
}

} // namespace

RdComparison compareRateQuality(const QVector<RateQualityPoint> &anchor, const QVector<RateQualityPoint> &test)
{
    RdComparison result;
    result.whole = bjontegaardDelta(anchor, test);
    result.crossoverRate = crossoverRate(test, anchor);
    result.testCeiling = ceiling(test);
    result.anchorCeiling = ceiling(anchor);
    result.belowRatePercent = result.belowQualityHigh = notANumber;
    const QVector<RateQualityPoint> anchorFrontier = efficientFrontier(anchor);
    const QVector<RateQualityPoint> testFrontier = efficientFrontier(test);
    if (anchorFrontier.size() < 2 || testFrontier.size() < 2)
        return result;
    QVector<double> anchorQuality, anchorLogRate, testQuality, testLogRate;
    logRateByQuality(anchorFrontier, &anchorQuality, &anchorLogRate);
    logRateByQuality(testFrontier, &testQuality, &testLogRate);
    const double low = std::max(anchorQuality.front(), testQuality.front());
    double high = std::min(anchorQuality.back(), testQuality.back());
    if (std::isfinite(result.crossoverRate)) {
        // The test scheme's quality at the crossover rate, on its own curve.
        QVector<double> logRate, quality;
        for (const RateQualityPoint &point : testFrontier) {
            logRate.append(std::log10(point.rate));
            quality.append(point.quality);
        }
        const double atCrossover = pchipValue(logRate, quality, std::log10(result.crossoverRate));
        if (std::isfinite(atCrossover))
            high = std::min(high, atCrossover);
    }
    if (!(high > low))
        return result;
    const double difference = (pchipIntegral(testQuality, testLogRate, low, high)
                               - pchipIntegral(anchorQuality, anchorLogRate, low, high))
        / (high - low);
    result.belowRatePercent = (std::pow(10.0, difference) - 1.0) * 100.0;
    result.belowQualityHigh = high;
    return result;
}

} // namespace veltrano
