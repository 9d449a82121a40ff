// Bjøntegaard deltas on curves whose answer is known: identical curves, a
// curve at exactly half the rate, and small cases worked out by hand from
// the Hermite formulas.

#include "study/bdrate.h"

#include <QtTest>

#include <cmath>

using namespace veltrano;

namespace {

QVector<RateQualityPoint> curve(std::initializer_list<std::pair<double, double>> points)
{
    QVector<RateQualityPoint> result;
    for (const auto &point : points)
        result.append(RateQualityPoint{point.first, point.second});
    return result;
}

// A concave curve like a codec's: quality rising ever more slowly with rate.
QVector<RateQualityPoint> codecLikeCurve(double rateScale)
{
    QVector<RateQualityPoint> result;
    for (int q = 0; q <= 100; q += 5) {
        const double rate = rateScale * (0.05 + 0.0009 * q * q);
        result.append(RateQualityPoint{rate, 24.0 + 6.0 * std::log2(1.0 + 4.0 * rate / rateScale)});
    }
    return result;
}

} // namespace

class TestBdRate : public QObject
{
    Q_OBJECT

private slots:
    void identicalCurvesGiveZero()
    {
        const QVector<RateQualityPoint> jpeg = codecLikeCurve(1.0);
        const BdResult result = bjontegaardDelta(jpeg, jpeg);
        QCOMPARE(result.ratePercent, 0.0);
        QCOMPARE(result.quality, 0.0);
        QCOMPARE(result.rateLow, jpeg.front().rate);
        QCOMPARE(result.rateHigh, jpeg.back().rate);
    }

    void halfTheRateIsMinusFiftyPercent()
    {
        // The same qualities at half the rates: the log-rate curve is shifted
        // by log10(2) at every quality, whatever the interpolant.
        const QVector<RateQualityPoint> reference = codecLikeCurve(1.0);
        QVector<RateQualityPoint> test = reference;
        for (RateQualityPoint &point : test)
            point.rate /= 2.0;
        const BdResult result = bjontegaardDelta(reference, test);
        QVERIFY(std::fabs(result.ratePercent + 50.0) < 1e-9);
        QVERIFY(result.quality > 0.0);
        // And the other way round: twice the rate, +100 %.
        const BdResult reverse = bjontegaardDelta(test, reference);
        QVERIFY(std::fabs(reverse.ratePercent - 100.0) < 1e-9);
        QVERIFY(std::fabs(reverse.quality + result.quality) < 1e-12);
    }

    void linearCurvesGiveTheirOffset()
    {
        // PSNR = 30 + 10 log10(rate) against 31 + 10 log10(rate): +1 dB at
        // every rate, and the rate of test at equal quality is 10^(-0.1)
        // times that of reference. Both ranges cut to the overlap.
        const QVector<RateQualityPoint> reference = curve({{1.0, 30.0}, {10.0, 40.0}, {100.0, 50.0}});
        const QVector<RateQualityPoint> test = curve({{0.5, 31.0 - 10.0 * std::log10(2.0)}, {10.0, 41.0},
                                                      {50.0, 41.0 + 10.0 * std::log10(5.0)}});
        const BdResult result = bjontegaardDelta(reference, test);
        QVERIFY(std::fabs(result.quality - 1.0) < 1e-12);
        QVERIFY(std::fabs(result.ratePercent - (std::pow(10.0, -0.1) - 1.0) * 100.0) < 1e-9);
        QVERIFY(std::fabs(result.rateLow - 1.0) < 1e-12);
        QVERIFY(std::fabs(result.rateHigh - 50.0) < 1e-9);
        QVERIFY(std::fabs(result.qualityLow - 30.0) < 1e-12);
        QVERIFY(std::fabs(result.qualityHigh - (41.0 + 10.0 * std::log10(5.0))) < 1e-12);
    }

    void handComputedThreePointCase()
    {
        // Reference: a straight line through (log10 rate, PSNR) = (0, 30),
        // (2, 33). Test: (0, 30), (1, 31), (2, 33).
        //
        // PSNR over log-rate, test: secants 1 and 2, h = 1, 1. Inner slope
        // 6 / (3/1 + 3/2) = 4/3; end slopes (3*1 - 2)/2 = 1/2 and
        // (3*2 - 1)/2 = 5/2. Areas h(y0+y1)/2 + h^2 (d0-d1)/12:
        // 30.5 + (1/2 - 4/3)/12 and 32 + (4/3 - 5/2)/12, in all 60 + 7/3.
        // Reference area 63; difference -2/3 over 2 decades: -1/3 dB.
        const QVector<RateQualityPoint> reference = curve({{1.0, 30.0}, {100.0, 33.0}});
        const QVector<RateQualityPoint> test = curve({{1.0, 30.0}, {10.0, 31.0}, {100.0, 33.0}});
        const BdResult result = bjontegaardDelta(reference, test);
        QVERIFY(std::fabs(result.quality - (-1.0 / 3.0)) < 1e-12);
        //
        // Log-rate over PSNR, test: points (30, 0), (31, 1), (33, 2); h = 1, 2,
        // secants 1 and 1/2. Inner slope (5 + 4) / (5/1 + 4/(1/2)) = 9/13; end
        // slopes (4*1 - 1/2)/3 = 7/6 and (5/2 - 2)/3 = 1/6. Areas
        // 1/2 + (7/6 - 9/13)/12 = 1/2 + 37/936 and 3 + 4 (9/13 - 1/6)/12 =
        // 3 + 164/936. Reference area 3 (mean 1 over 3 dB). The mean
        // log-rate difference is (1/2 + 201/936) / 3.
        const double meanLogRate = (0.5 + 201.0 / 936.0) / 3.0;
        QVERIFY(std::fabs(result.ratePercent - (std::pow(10.0, meanLogRate) - 1.0) * 100.0) < 1e-9);
        QVERIFY(std::fabs(result.ratePercent - 73.0804) < 1e-3);
    }

    void deltasOfSwappedCurvesAreInverse()
    {
        const QVector<RateQualityPoint> a = codecLikeCurve(1.0);
        QVector<RateQualityPoint> b = codecLikeCurve(0.8);
        for (RateQualityPoint &point : b)
            point.quality -= 0.3 * std::log(point.rate + 1.0);
        const BdResult forward = bjontegaardDelta(a, b);
        const BdResult backward = bjontegaardDelta(b, a);
        QVERIFY(std::isfinite(forward.ratePercent));
        QVERIFY(std::fabs((1.0 + forward.ratePercent / 100.0) * (1.0 + backward.ratePercent / 100.0) - 1.0)
                < 1e-12);
        QVERIFY(std::fabs(forward.quality + backward.quality) < 1e-12);
    }

    void curvesWithoutCommonRangeGiveNaN()
    {
        const QVector<RateQualityPoint> low = curve({{0.1, 20.0}, {0.2, 25.0}});
        const QVector<RateQualityPoint> high = curve({{1.0, 30.0}, {2.0, 35.0}});
        const BdResult result = bjontegaardDelta(low, high);
        QVERIFY(std::isnan(result.ratePercent));
        QVERIFY(std::isnan(result.quality));
        QVERIFY(std::isnan(result.rateLow));
        // A single point is no curve.
        QVERIFY(std::isnan(bjontegaardDelta(low, curve({{0.15, 22.0}})).ratePercent));
        QVERIFY(std::isnan(bjontegaardDelta(QVector<RateQualityPoint>(), low).quality));
    }

    void frontierDropsPointsThatGainNothing()
    {
        // Unsorted input; 0.4 costs more than 0.3 for less quality; two
        // points share rate 0.5; zero and non-finite values are no points.
        const QVector<RateQualityPoint> points =
            curve({{0.5, 33.0}, {0.3, 31.0}, {0.4, 30.5}, {0.1, 25.0}, {0.5, 34.0}, {0.0, 10.0},
                   {0.7, std::numeric_limits<double>::infinity()}, {0.8, 34.0}, {0.9, 36.0}});
        const QVector<RateQualityPoint> frontier = efficientFrontier(points);
        const QVector<RateQualityPoint> expected = curve({{0.1, 25.0}, {0.3, 31.0}, {0.5, 34.0}, {0.9, 36.0}});
        QCOMPARE(frontier.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(frontier[i].rate, expected[i].rate);
            QCOMPARE(frontier[i].quality, expected[i].quality);
        }
        // The dropped points do not move the deltas.
        QCOMPARE(bjontegaardDelta(points, codecLikeCurve(0.5)).ratePercent,
                 bjontegaardDelta(expected, codecLikeCurve(0.5)).ratePercent);
    }

    void hullOfTwoCrossingLinesByHand()
    {
        // On L = log10 bpp in [0, 1]: A is 30 + 10 L, B is 32 + 4 L; they
        // cross at L = 1/3, so the hull is B below and A above. The test
        // curve T is 31 + 10 L.
        const QVector<RateQualityPoint> a = curve({{1.0, 30.0}, {10.0, 40.0}});
        const QVector<RateQualityPoint> b = curve({{1.0, 32.0}, {10.0, 36.0}});
        const QVector<RateQualityPoint> t = curve({{1.0, 31.0}, {10.0, 41.0}});
        const QVector<RateQualityPoint> hull = rateQualityHull({a, b});
        QCOMPARE(hull.front().quality, 32.0);
        QCOMPARE(hull.back().quality, 40.0);
        // At equal rate: 36 - (the integral of B to 1/3 and of A above),
        // 36 - 318/9 = 2/3 dB.
        const BdResult result = bjontegaardDelta(hull, t);
        QVERIFY2(std::fabs(result.quality - 2.0 / 3.0) < 1e-3, qPrintable(QString::number(result.quality, 'g', 10)));
        // At equal PSNR in [32, 40]: T needs L = (Q - 31) / 10, the hull
        // (Q - 32) / 4 up to 100/3 and (Q - 30) / 10 above; the mean
        // difference is (4 - 2/9 - 40/9) / 8 = -1/12 decade.
        const double expected = (std::pow(10.0, -1.0 / 12.0) - 1.0) * 100.0;
        QVERIFY2(std::fabs(result.ratePercent - expected) < 1e-2,
                 qPrintable(QString::number(result.ratePercent, 'g', 10)));
        QCOMPARE(result.qualityLow, 32.0);
        QCOMPARE(result.qualityHigh, 40.0);
        // A curve that is below the other everywhere adds nothing.
        const BdResult same = bjontegaardDelta(rateQualityHull({a, curve({{1.0, 20.0}, {10.0, 30.0}})}), a);
        QVERIFY(std::fabs(same.ratePercent) < 1e-9 && std::fabs(same.quality) < 1e-9);
        QVERIFY(rateQualityHull({curve({{1.0, 30.0}})}).isEmpty());
    }

    void bootstrapIntervalHoldsTheMeanAndShrinks()
    {
        const QVector<double> six{-5.0, 3.0, 10.0, -1.0, 7.0, 2.0};
        QVector<double> many;
        for (int copy = 0; copy < 16; ++copy)
            many += six;
        const MeanInterval small = bootstrapMean(six + QVector<double>{std::nan("")});
        const MeanInterval large = bootstrapMean(many);
        QCOMPARE(small.count, 6);
        QCOMPARE(small.mean, 16.0 / 6.0);
        QCOMPARE(small.minimum, -5.0);
        QCOMPARE(small.maximum, 10.0);
        QVERIFY(small.low < small.mean && small.mean < small.high);
        QVERIFY(large.low < large.mean && large.mean < large.high);
        QVERIFY(std::fabs(large.mean - small.mean) < 1e-12);
        // Sixteen times the images: about a quarter of the width.
        const double ratio = (large.high - large.low) / (small.high - small.low);
        QVERIFY2(ratio > 0.2 && ratio < 0.3, qPrintable(QString::number(ratio)));
        // Reproducible: the same draws every time.
        const MeanInterval again = bootstrapMean(six);
        QCOMPARE(again.low, small.low);
        QCOMPARE(again.high, small.high);
        // Two values: resampled means are 0, 5 or 10, so the 95 % interval
        // spans both ends; one value: a single point.
        const MeanInterval two = bootstrapMean({0.0, 10.0});
        QCOMPARE(two.low, 0.0);
        QCOMPARE(two.high, 10.0);
        const MeanInterval one = bootstrapMean({4.0});
        QVERIFY(one.low == 4.0 && one.high == 4.0 && one.mean == 4.0);
        QVERIFY(std::isnan(bootstrapMean({}).mean));
    }

    void interpolantNeverOvershoots()
    {
        // Flat, then rising: a monotone interpolant stays at 0 on the flat
        // part (a natural cubic spline would dip below it).
        const QVector<double> x{0.0, 1.0, 2.0, 3.0};
        const QVector<double> y{0.0, 0.0, 1.0, 1.0};
        QCOMPARE(pchipIntegral(x, y, 0.0, 1.0), 0.0);
        QCOMPARE(pchipIntegral(x, y, 2.0, 3.0), 1.0);
        // By symmetry the middle segment holds half its box.
        QVERIFY(std::fabs(pchipIntegral(x, y, 1.0, 2.0) - 0.5) < 1e-15);
        // Partial segments: a straight line is reproduced exactly.
        const QVector<double> lx{0.0, 1.0, 3.0};
        const QVector<double> ly{1.0, 3.0, 7.0};
        // Integral of 1 + 2x over [0.25, 2.5] = 2.25 + (6.25 - 0.0625).
        QVERIFY(std::fabs(pchipIntegral(lx, ly, 0.25, 2.5) - (2.25 + 6.1875)) < 1e-12);
        QVERIFY(std::isnan(pchipIntegral({1.0}, {2.0}, 1.0, 1.0)));
    }
};

QTEST_APPLESS_MAIN(TestBdRate)
#include "test_bdrate.moc"
