// The global-statistics mse/ssim against plain pixel() loops, and the windowed
// SSIM and PSNR against a brute-force window sum and recorded scikit-image
// figures.

#include "metrics/imagemetrics.h"
#include "ssimfigures.h"
#include "testsupport.h"
#include "metrics/windowedssim.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <sstream>
#include <vector>

using namespace veltrano;

namespace {

int channelValue(QRgb p, int channel)
{
    switch (channel) {
    case 0: return qRed(p);
    case 1: return qGreen(p);
    default: return qBlue(p);
    }
}

// Straight from the definition: pixel() per tap, columns outer, rows inner.
float slowMse(const QImage &ref, const QImage &test)
{
    double sum[3] = {0, 0, 0};
    for (int x = 0; x < ref.width(); ++x)
        for (int y = 0; y < ref.height(); ++y)
            for (int c = 0; c < 3; ++c) {
                const int d = channelValue(ref.pixel(x, y), c) - channelValue(test.pixel(x, y), c);
                sum[c] += d * d;
            }
    const int n = ref.width() * ref.height();
    return float((sum[0] / n + sum[1] / n + sum[2] / n) / 3);
}

float slowSsim(const QImage &ref, const QImage &test)
{
    const int n = ref.width() * ref.height();
    const int n2 = test.width() * test.height();
    float result[3];
    for (int c = 0; c < 3; ++c) {
        double a = 0, b = 0;
        for (int x = 0; x < ref.width(); ++x)
            for (int y = 0; y < ref.height(); ++y) {
                a += channelValue(ref.pixel(x, y), c);
                b += channelValue(test.pixel(x, y), c);
            }
        const double m1 = a / n, m2 = b / n2;
        double v1 = 0, v2 = 0, k = 0;
        for (int x = 0; x < ref.width(); ++x)
            for (int y = 0; y < ref.height(); ++y) {
                const double d1 = channelValue(ref.pixel(x, y), c) - m1;
                const double d2 = channelValue(test.pixel(x, y), c) - m2;
                v1 += d1 * d1;
                v2 += d2 * d2;
                k += d1 * d2;
            }
        const double s1 = std::sqrt(v1 / n), s2 = std::sqrt(v2 / n), s12 = k / n;
        result[c] = float(((2 * m1 * m2 + 6.5025) * (2 * s12 + 58.5225))
                          / ((m1 * m1 + m2 * m2 + 6.5025) * (s1 * s1 + s2 * s2 + 58.5225)));
    }
    return (result[0] + result[1] + result[2]) / 3;
}

double sampleOf(QRgb p, int channel)
{
    if (channel == LumaChannel)
        return 0.299 * qRed(p) + 0.587 * qGreen(p) + 0.114 * qBlue(p);
    return channelValue(p, channel);
}

// Every full 11 x 11 window summed tap by tap with the 2-D Gaussian weights.
double slowWindowedSsim(const QImage &ref, const QImage &test, int channel)
{
    double g[11], gsum = 0;
    for (int i = 0; i < 11; ++i)
        gsum += g[i] = std::exp(-(i - 5) * (i - 5) / (2 * 1.5 * 1.5));
    const double c1 = 2.55 * 2.55, c2 = 7.65 * 7.65;
    double total = 0;
    int count = 0;
    for (int top = 0; top + 11 <= ref.height(); ++top)
        for (int left = 0; left + 11 <= ref.width(); ++left) {
            double mx = 0, my = 0, xx = 0, yy = 0, xy = 0;
            for (int j = 0; j < 11; ++j)
                for (int i = 0; i < 11; ++i) {
                    const double w = g[i] / gsum * g[j] / gsum;
                    const double a = sampleOf(ref.pixel(left + i, top + j), channel);
                    const double b = sampleOf(test.pixel(left + i, top + j), channel);
                    mx += w * a;
                    my += w * b;
                    xx += w * a * a;
                    yy += w * b * b;
                    xy += w * a * b;
                }
            const double vx = xx - mx * mx, vy = yy - my * my, vxy = xy - mx * my;
            total += ((2 * mx * my + c1) * (2 * vxy + c2)) / ((mx * mx + my * my + c1) * (vx + vy + c2));
            ++count;
        }
    return total / count;
}

double slowPsnr(const QImage &ref, const QImage &test, int channel)
{
    double sum = 0;
    for (int y = 0; y < ref.height(); ++y)
        for (int x = 0; x < ref.width(); ++x) {
            const double d = sampleOf(ref.pixel(x, y), channel) - sampleOf(test.pixel(x, y), channel);
            sum += d * d;
        }
    return 10 * std::log10(255.0 * 255.0 / (sum / (double(ref.width()) * ref.height())));
}

QImage loadSource(const char *relative)
{
    QImage image(sourcePath(QString::fromLatin1(relative)));
    if (image.isNull())
        qFatal("cannot load %s", relative);
    return image;
}

QString printedLikeAStream(float value)
{
    std::ostringstream out;
    out << value;
    return QString::fromStdString(out.str());
}

} // namespace

class TestMetrics : public QObject
{
    Q_OBJECT

private slots:
    void globalEdgeCases();
    void globalFlatImages();
    void globalInvalidPairs();
    void globalRealPairs_data();
    void globalRealPairs();

    void windowedAgainstScikitImage_data();
    void windowedAgainstScikitImage();
    void windowedAgainstBruteForce_data();
    void windowedAgainstBruteForce();
    void windowedIdenticalAndAlpha();
    void windowedFormats();
    void windowedFailures();
};

void TestMetrics::globalEdgeCases()
{
    const QImage photo = loadPhoto("chelsea.png");
    QVERIFY(!photo.isNull());

    // Identical images.
    QCOMPARE(mse(photo, photo), 0.0f);
    QVERIFY(std::fabs(ssim(photo, photo) - 1.0f) <= std::numeric_limits<float>::epsilon());

    // Off by exactly one in the green channel of every pixel.
    QImage greenShifted = photo.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < greenShifted.height(); ++y)
        for (int x = 0; x < greenShifted.width(); ++x) {
            const QRgb p = greenShifted.pixel(x, y);
            const int g = qGreen(p) == 255 ? 254 : qGreen(p) + 1;
            greenShifted.setPixel(x, y, qRgb(qRed(p), g, qBlue(p)));
        }
    QCOMPARE(mse(photo, greenShifted), float(1.0 / 3));
    QCOMPARE(ssim(photo, greenShifted), slowSsim(photo, greenShifted));

    // Only red, green and blue count.
    QImage alphaOnly = photo.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < alphaOnly.height(); ++y)
        for (int x = 0; x < alphaOnly.width(); ++x) {
            const QRgb p = alphaOnly.pixel(x, y);
            alphaOnly.setPixel(x, y, qRgba(qRed(p), qGreen(p), qBlue(p), (x * 7 + y * 3) % 256));
        }
    QCOMPARE(mse(photo, alphaOnly), 0.0f);
    QCOMPARE(ssim(photo, alphaOnly), ssim(photo, photo));
}

void TestMetrics::globalFlatImages()
{
    QImage black(16, 8, QImage::Format_RGB32);
    black.fill(Qt::black);
    QImage white(16, 8, QImage::Format_RGB32);
    white.fill(Qt::white);
    QCOMPARE(mse(black, white), 65025.0f);
    const float perChannel = float(6.5025 / 65031.5025);
    QCOMPARE(ssim(black, white), (perChannel + perChannel + perChannel) / 3);
    QCOMPARE(printedLikeAStream(ssim(black, white)), QStringLiteral("9.999e-05"));

    // Flat channels at levels a and b: (2ab + C1) / (a^2 + b^2 + C1) each.
    QImage a(9, 5, QImage::Format_RGB32);
    a.fill(qRgb(100, 0, 255));
    QImage b(9, 5, QImage::Format_RGB32);
    b.fill(qRgb(120, 0, 200));
    auto flat = [](double p, double q) { return float((2 * p * q + 6.5025) / (p * p + q * q + 6.5025)); };
    QCOMPARE(ssim(a, b), (flat(100, 120) + flat(0, 0) + flat(255, 200)) / 3);
    QCOMPARE(flat(0, 0), 1.0f);
    QCOMPARE(ssim(a, a), 1.0f);
}

void TestMetrics::globalInvalidPairs()
{
    const QImage photo = loadPhoto("chelsea.png");
    const QImage narrower = photo.copy(0, 0, photo.width() - 1, photo.height());
    const QImage lower = photo.copy(0, 0, photo.width(), photo.height() - 1);

    QVERIFY(std::isnan(mse(QImage(), QImage())));
    QVERIFY(std::isnan(ssim(QImage(), QImage())));
    QVERIFY(std::isnan(mse(QImage(), photo)));
    QVERIFY(std::isnan(ssim(QImage(), photo)));
    // A test image smaller in either direction, or larger: no figure.
    for (const QImage &other : {narrower, lower}) {
        QVERIFY(std::isnan(mse(photo, other)));
        QVERIFY(std::isnan(ssim(photo, other)));
        QVERIFY(std::isnan(mse(other, photo)));
        QVERIFY(std::isnan(ssim(other, photo)));
    }
    QVERIFY(std::isnan(mse(photo, QImage())));
    QVERIFY(std::isnan(ssim(photo, QImage())));
}

void TestMetrics::globalRealPairs_data()
{
    QTest::addColumn<QImage>("reference");
    QTest::addColumn<QImage>("test");

    const QImage astronaut = loadSource(recordedSsimFigures[0].reference);
    const QImage astronautQ20 = loadSource(recordedSsimFigures[0].test);
    const QImage chelsea = loadSource(recordedSsimFigures[1].reference);
    const QImage chelseaBlur = loadSource(recordedSsimFigures[1].test);
    const QImage camera = loadSource(recordedSsimFigures[2].reference);
    const QImage cameraQ20 = loadSource(recordedSsimFigures[2].test);
    QCOMPARE(camera.format(), QImage::Format_Grayscale8);

    QTest::newRow("astronaut vs JPEG q20") << astronaut << astronautQ20;
    QTest::newRow("JPEG q20 vs astronaut") << astronautQ20 << astronaut;
    QTest::newRow("chelsea vs blurred") << chelsea << chelseaBlur;
    QTest::newRow("grey camera vs JPEG q20") << camera << cameraQ20;
    QTest::newRow("grey vs colour") << camera << astronaut;
    QTest::newRow("indexed vs RGB888") << chelsea.convertToFormat(QImage::Format_Indexed8)
                                       << chelseaBlur.convertToFormat(QImage::Format_RGB888);
    QTest::newRow("RGB888 vs premultiplied") << loadPhoto("brick.png").convertToFormat(QImage::Format_RGB888)
                                             << loadPhoto("gravel.png").convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QTest::newRow("small indexed file") << QImage(sourcePath("tests/data/palette_color.png"))
                                        << QImage(sourcePath("tests/data/palette_color.png")).mirrored(true, false);
}

void TestMetrics::globalRealPairs()
{
    QFETCH(QImage, reference);
    QFETCH(QImage, test);
    QVERIFY(!reference.isNull() && reference.size() == test.size());
    QCOMPARE(mse(reference, test), slowMse(reference, test));
    QCOMPARE(ssim(reference, test), slowSsim(reference, test));
    QVERIFY(mse(reference, test) > 0);
    QVERIFY(ssim(reference, test) < 1);
}

void TestMetrics::windowedAgainstScikitImage_data()
{
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(sizeof recordedSsimFigures / sizeof recordedSsimFigures[0]); ++i)
        QTest::newRow(recordedSsimFigures[i].test) << i;
}

void TestMetrics::windowedAgainstScikitImage()
{
    QFETCH(int, row);
    const SsimFigures &f = recordedSsimFigures[row];
    const QImage reference = loadSource(f.reference);
    const QImage test = loadSource(f.test);

    // The recorded figures have ten decimals; the sums differ only in order.
    const double tolerance = 1e-8;
    QString error;
    const double rgb = windowedSsimRgbMean(reference, test, &error);
    QVERIFY2(std::fabs(rgb - f.ssim) < tolerance, qPrintable(QString::number(rgb, 'g', 12)));
    QVERIFY(error.isEmpty());
    const double luma = windowedSsim(reference, test, LumaChannel);
    QVERIFY2(std::fabs(luma - f.lumaSsim) < tolerance, qPrintable(QString::number(luma, 'g', 12)));
    const double p = psnr(reference, test);
    QVERIFY2(std::fabs(p - f.psnr) < tolerance, qPrintable(QString::number(p, 'g', 12)));

    // The RGB mean is the mean of the channel figures, and is symmetric.
    const double channels = (windowedSsim(reference, test, RedChannel) + windowedSsim(reference, test, GreenChannel)
                             + windowedSsim(reference, test, BlueChannel)) / 3;
    QVERIFY(std::fabs(channels - rgb) < 1e-15);
    QVERIFY(std::fabs(windowedSsimRgbMean(test, reference) - rgb) < 1e-12);
}

void TestMetrics::windowedAgainstBruteForce_data()
{
    QTest::addColumn<QImage>("reference");
    QTest::addColumn<QImage>("test");
    const QImage astronaut = loadSource(recordedSsimFigures[0].reference);
    const QImage astronautQ20 = loadSource(recordedSsimFigures[0].test);
    const QImage chelsea = loadSource(recordedSsimFigures[1].reference);
    const QImage chelseaBlur = loadSource(recordedSsimFigures[1].test);
    const QImage camera = loadSource(recordedSsimFigures[2].reference);
    const QImage cameraQ20 = loadSource(recordedSsimFigures[2].test);
    QTest::newRow("41x29 astronaut") << astronaut.copy(100, 60, 41, 29) << astronautQ20.copy(100, 60, 41, 29);
    QTest::newRow("12x37 chelsea") << chelsea.copy(200, 100, 12, 37) << chelseaBlur.copy(200, 100, 12, 37);
    QTest::newRow("11x11 camera") << camera.copy(70, 90, 11, 11) << cameraQ20.copy(70, 90, 11, 11);
    QTest::newRow("30x24 unrelated") << astronaut.copy(0, 0, 30, 24) << camera.copy(0, 0, 30, 24);
}

void TestMetrics::windowedAgainstBruteForce()
{
    QFETCH(QImage, reference);
    QFETCH(QImage, test);
    for (int channel = RedChannel; channel <= LumaChannel; ++channel) {
        const double expected = slowWindowedSsim(reference, test, channel);
        const double actual = windowedSsim(reference, test, channel);
        QVERIFY2(std::fabs(actual - expected) < 1e-12,
                 qPrintable(QStringLiteral("channel %1: %2 against %3")
                                .arg(channel)
                                .arg(actual, 0, 'g', 17)
                                .arg(expected, 0, 'g', 17)));
        const double p = psnrChannel(reference, test, channel);
        QVERIFY(std::fabs(p - slowPsnr(reference, test, channel)) < 1e-12);
    }
    // The same samples handed over as planes.
    std::vector<double> a, b;
    for (int y = 0; y < reference.height(); ++y)
        for (int x = 0; x < reference.width(); ++x) {
            a.push_back(qGreen(reference.pixel(x, y)));
            b.push_back(qGreen(test.pixel(x, y)));
        }
    QCOMPARE(windowedSsimOfPlanes(a.data(), b.data(), reference.width(), reference.height()),
             windowedSsim(reference, test, GreenChannel));
}

void TestMetrics::windowedIdenticalAndAlpha()
{
    const QImage photo = loadPhoto("astronaut.png");
    for (int channel = RedChannel; channel <= LumaChannel; ++channel) {
        QCOMPARE(windowedSsim(photo, photo, channel), 1.0);
        QCOMPARE(psnrChannel(photo, photo, channel), std::numeric_limits<double>::infinity());
    }
    QCOMPARE(windowedSsimRgbMean(photo, photo), 1.0);
    QCOMPARE(psnr(photo, photo), std::numeric_limits<double>::infinity());

    QImage translucent = photo.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < translucent.height(); ++y)
        for (int x = 0; x < translucent.width(); ++x) {
            const QRgb p = translucent.pixel(x, y);
            translucent.setPixel(x, y, qRgba(qRed(p), qGreen(p), qBlue(p), (x + y) % 256));
        }
    QCOMPARE(windowedSsimRgbMean(photo, translucent), 1.0);
    QCOMPARE(psnr(translucent, photo), std::numeric_limits<double>::infinity());

    // One grey level apart everywhere: MSE 1, so PSNR is 20 log10(255).
    QImage brighter = photo.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < brighter.height(); ++y)
        for (int x = 0; x < brighter.width(); ++x) {
            const QRgb p = brighter.pixel(x, y);
            auto up = [](int v) { return v == 255 ? 254 : v + 1; };
            brighter.setPixel(x, y, qRgb(up(qRed(p)), up(qGreen(p)), up(qBlue(p))));
        }
    QVERIFY(std::fabs(psnr(photo, brighter) - 20 * std::log10(255.0)) < 1e-12);
    QVERIFY(windowedSsimRgbMean(photo, brighter) < 1.0);
}

void TestMetrics::windowedFormats()
{
    // Grey, indexed and 24-bit images read as pixel() sees them.
    const QImage camera = loadSource(recordedSsimFigures[2].reference);
    const QImage cameraQ20 = loadSource(recordedSsimFigures[2].test);
    const double grey = windowedSsim(camera, cameraQ20, RedChannel);
    QCOMPARE(windowedSsim(camera, cameraQ20, GreenChannel), grey);
    QCOMPARE(windowedSsim(camera, cameraQ20, BlueChannel), grey);
    QCOMPARE(windowedSsimRgbMean(camera.convertToFormat(QImage::Format_RGB888),
                                 cameraQ20.convertToFormat(QImage::Format_ARGB32)),
             windowedSsimRgbMean(camera, cameraQ20));

    const QImage chelsea = loadSource(recordedSsimFigures[1].reference);
    const QImage chelseaBlur = loadSource(recordedSsimFigures[1].test);
    const QImage indexed = chelsea.convertToFormat(QImage::Format_Indexed8);
    QCOMPARE(windowedSsimRgbMean(indexed, chelseaBlur),
             windowedSsimRgbMean(indexed.convertToFormat(QImage::Format_RGB32), chelseaBlur));
    QCOMPARE(psnr(indexed, chelseaBlur), psnr(indexed.convertToFormat(QImage::Format_RGB32), chelseaBlur));
}

void TestMetrics::windowedFailures()
{
    const QImage photo = loadPhoto("chelsea.png");
    QString error;

    QVERIFY(std::isnan(windowedSsimRgbMean(photo, photo.copy(0, 0, 450, 300), &error)));
    QVERIFY2(error.contains(QStringLiteral("451x300")) && error.contains(QStringLiteral("450x300")),
             qPrintable(error));
    error.clear();
    QVERIFY(std::isnan(psnr(photo, photo.copy(0, 0, 451, 299), &error)));
    QVERIFY(!error.isEmpty());

    for (const QSize &size : {QSize(10, 40), QSize(40, 10), QSize(10, 10)}) {
        const QImage small = photo.copy(QRect(QPoint(0, 0), size));
        error.clear();
        QVERIFY(std::isnan(windowedSsim(small, small, RedChannel, &error)));
        QVERIFY(std::isnan(windowedSsimRgbMean(small, small, &error)));
        QVERIFY2(error.contains(QStringLiteral("11 x 11")), qPrintable(error));
        // The PSNR needs no window.
        QCOMPARE(psnr(small, small), std::numeric_limits<double>::infinity());
    }
    const QImage eleven = photo.copy(0, 0, 11, 11);
    QCOMPARE(windowedSsimRgbMean(eleven, eleven), 1.0);

    for (int channel : {-1, 4}) {
        error.clear();
        QVERIFY(std::isnan(windowedSsim(photo, photo, channel, &error)));
        QVERIFY(!error.isEmpty());
        QVERIFY(std::isnan(psnrChannel(photo, photo, channel)));
    }
    error.clear();
    QVERIFY(std::isnan(windowedSsimRgbMean(QImage(), QImage(), &error)));
    QVERIFY(!error.isEmpty());
    QVERIFY(std::isnan(psnr(photo, QImage())));
    QVERIFY(std::isnan(windowedSsim(QImage(), photo, RedChannel)));

    std::vector<double> plane(100, 1.0);
    error.clear();
    QVERIFY(std::isnan(windowedSsimOfPlanes(plane.data(), plane.data(), 10, 10, &error)));
    QVERIFY(!error.isEmpty());
    QVERIFY(std::isnan(windowedSsimOfPlanes(nullptr, plane.data(), 11, 11)));
}

QTEST_GUILESS_MAIN(TestMetrics)
#include "test_metrics.moc"
