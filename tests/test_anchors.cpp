// The anchors of the rate-distortion study and the perceptual metrics:
// every scheme's round trip on a real crop, the pixel-centre alignment of the
// resampling on ramps, MS-SSIM against a plain per-window reference, and
// Butteraugli's order.

#include "metrics/butteraugli.h"
#include "metrics/imagemetrics.h"
#include "study/codecs/jpegcodec.h"
#include "metrics/msssim.h"
#include "study/rdscheme.h"
#include "study/codecs/resampling.h"
#include "testsupport.h"
#include "codec/transform/weightsfile.h"
#include "experiments/workdirgenerator.h"

#include <QtTest>

#include <cmath>
#include <vector>

using namespace veltrano;

namespace {

QList<float> studyWeights()
{
    QList<float> weights;
    for (int i = 0; i < workingDirectoryWeightCount; ++i)
        weights.append(workingDirectoryWeight(i));
    return weights;
}

bool hasSignature(const QString &suffix, const QByteArray &data)
{
    if (suffix == QLatin1String("jpg"))
        return data.startsWith("\xFF\xD8\xFF");
    if (suffix == QLatin1String("webp"))
        return data.startsWith("RIFF") && data.mid(8, 4) == "WEBP";
    if (suffix == QLatin1String("avif"))
        return data.mid(4, 8) == "ftypavif";
    if (suffix == QLatin1String("jxl"))
        return data.startsWith("\xFF\x0A") || data.startsWith(QByteArray("\0\0\0\x0CJXL ", 8));
    return false;
}

// A horizontal ramp 20 + 2x (vertical: 20 + 2y), grey or in red only.
QImage ramp(int width, int height, bool vertical, bool colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int v = 20 + 2 * (vertical ? y : x);
            image.setPixel(x, y, colour ? qRgb(v, 90, 200) : qRgb(v, v, v));
        }
    return image;
}

// MS-SSIM of one channel written out plainly: every window summed on its
// own, the 2 x 2 means taken pixel by pixel.
double referenceMsSsim(std::vector<double> x, std::vector<double> y, int width, int height)
{
    const double weights[5] = {0.0448, 0.2856, 0.3001, 0.2363, 0.1333};
    const double c1 = 6.5025;
    const double c2 = 58.5225;
    double g[11][11];
    double total = 0.0;
    for (int i = 0; i < 11; ++i)
        for (int j = 0; j < 11; ++j) {
            g[i][j] = std::exp(-((i - 5) * (i - 5) + (j - 5) * (j - 5)) / (2.0 * 1.5 * 1.5));
            total += g[i][j];
        }
    double result = 1.0;
    for (int scale = 0; scale < 5; ++scale) {
        double csSum = 0.0;
        double ssimSum = 0.0;
        int count = 0;
        for (int top = 0; top + 11 <= height; ++top)
            for (int left = 0; left + 11 <= width; ++left) {
                double mx = 0, my = 0, xx = 0, yy = 0, xy = 0;
                for (int i = 0; i < 11; ++i)
                    for (int j = 0; j < 11; ++j) {
                        const double w = g[i][j] / total;
                        const double a = x[(top + i) * width + left + j];
                        const double b = y[(top + i) * width + left + j];
                        mx += w * a;
                        my += w * b;
                        xx += w * a * a;
                        yy += w * b * b;
                        xy += w * a * b;
                    }
                const double cs = (2 * (xy - mx * my) + c2) / ((xx - mx * mx) + (yy - my * my) + c2);
                csSum += cs;
                ssimSum += cs * (2 * mx * my + c1) / (mx * mx + my * my + c1);
                ++count;
            }
        result *= std::pow(scale < 4 ? csSum / count : ssimSum / count, weights[scale]);
        const int w2 = (width + 1) / 2;
        const int h2 = (height + 1) / 2;
        std::vector<double> x2(std::size_t(w2 * h2));
        std::vector<double> y2(std::size_t(w2 * h2));
        for (int r = 0; r < h2; ++r)
            for (int c = 0; c < w2; ++c) {
                const int rr[2] = {2 * r, std::min(2 * r + 1, height - 1)};
                const int cc[2] = {2 * c, std::min(2 * c + 1, width - 1)};
                for (int i = 0; i < 2; ++i)
                    for (int j = 0; j < 2; ++j) {
                        x2[std::size_t(r * w2 + c)] += x[rr[i] * width + cc[j]] / 4.0;
                        y2[std::size_t(r * w2 + c)] += y[rr[i] * width + cc[j]] / 4.0;
                    }
            }
        x = x2;
        y = y2;
        width = w2;
        height = h2;
    }
    return result;
}

std::vector<double> channel(const QImage &image, int shift)
{
    std::vector<double> plane;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            plane.push_back((image.pixel(x, y) >> shift) & 0xFF);
    return plane;
}

QImage jpegRoundTrip(const QImage &image, int quality)
{
    QString error;
    return decodeImageData(encodeJpeg(image, quality, false, &error), &error);
}

} // namespace

class TestAnchors : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        colour = loadPhoto(QStringLiteral("chelsea.png")).copy(150, 60, 97, 74);
        grey = loadPhoto(QStringLiteral("camera.png")).copy(200, 100, 64, 50);
        QVERIFY(!colour.isNull() && !grey.isNull());
    }

    void everySchemeRoundTripsWithRisingQuality()
    {
        const QVector<RdScheme> schemes = rdStandardSchemes(studyWeights());
        QCOMPARE(rdStandardSchemeNames(), QStringList({"jpeg", "hybrid", "jpeg-opt", "resample-box", "resample-lanczos",
                                                       "webp", "avif", "jxl"}));
        for (const RdScheme &scheme : schemes) {
            QVERIFY2(scheme.settings.size() >= 12, qPrintable(scheme.name));
            for (const QImage &source : {colour, grey}) {
                double lastPsnr = 0.0;
                qint64 lastSize = 0;
                const int count = scheme.settings.size();
                for (int setting : {scheme.settings[0], scheme.settings[count / 2], scheme.settings[count - 1]}) {
                    const QString where = QStringLiteral("%1 at %2, %3 pixels wide")
                                              .arg(scheme.name)
                                              .arg(setting)
                                              .arg(source.width());
                    QString error;
                    const QByteArray data = scheme.encode(source, setting, &error);
                    QVERIFY2(hasSignature(scheme.suffix, data), qPrintable(where + QLatin1String(": ") + error));
                    const QImage decoded = scheme.decode(data, source.size(), &error);
                    QVERIFY2(decoded.size() == source.size(), qPrintable(where + QLatin1String(": ") + error));
                    const double value = psnr(source, decoded);
                    QVERIFY2(value > lastPsnr + 0.5 && data.size() > lastSize, qPrintable(where));
                    lastPsnr = value;
                    lastSize = data.size();
                }
            }
        }
        // The hybrid scheme's failure is its own and says why.
        QString error;
        const RdScheme hybrid = rdStandardSchemes(QList<float>{1.0f})[1];
        QVERIFY(hybrid.encode(colour, 50, &error).isEmpty());
        QVERIFY2(error.contains(QLatin1String("weights")), qPrintable(error));
        // A setting outside the range fails instead of being clamped.
        QVERIFY(schemes[7].encode(colour, 100, &error).isEmpty());
    }

    void optimisedJpegHasTheSamePixelsInFewerBytes()
    {
        for (int quality : {10, 75}) {
            QString error;
            const QByteArray plain = encodeJpeg(colour, quality, false, &error);
            const QByteArray optimised = encodeJpeg(colour, quality, true, &error);
            QVERIFY(optimised.size() < plain.size());
            // Progressive: a start-of-frame marker 0xC2 instead of 0xC0.
            QVERIFY(optimised.contains("\xFF\xC2") && !plain.contains("\xFF\xC2"));
            QCOMPARE(decodeImageData(optimised, &error).convertToFormat(QImage::Format_RGB32),
                     decodeImageData(plain, &error).convertToFormat(QImage::Format_RGB32));
        }
        // The photograph carries 3 kB of XMP text, which Qt's writer would
        // store as comments in every file; the anchors code pixels only.
        const QImage photo = loadPhoto(QStringLiteral("chelsea.png"));
        QVERIFY(photo.text(QStringLiteral("XML:com.adobe.xmp")).size() > 2000);
        const QImage pixels =
            QImage(photo.constBits(), photo.width(), photo.height(), photo.bytesPerLine(), photo.format()).copy();
        QVERIFY(pixels.text().isEmpty());
        QByteArray bare;
        QBuffer buffer(&bare);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(pixels.save(&buffer, "jpg", 5));
        QString error;
        const QByteArray encoded = encodeJpeg(photo, 5, false, &error);
        QCOMPARE(encoded.size(), bare.size());
        QVERIFY(!encoded.contains("\xFF\xFE")); // no comment segment
    }

    void resamplingKeepsPixelCentresOnRamps()
    {
        // Reduced pixel i lies at 2i + 0.5, where the ramp 20 + 2x is 21 + 4i;
        // expanded back, the ramp is exact away from the edges (a shift by
        // half a pixel would be off by 1 everywhere).
        for (bool vertical : {false, true})
            for (bool colourful : {false, true}) {
                const QImage source = ramp(vertical ? 10 : 80, vertical ? 80 : 10, vertical, colourful);
                const QImage box = reduceBox2(source);
                const QImage lanczos = reduceLanczos2(source);
                QCOMPARE(box.size(), QSize(source.width() / 2, source.height() / 2));
                QCOMPARE(box.format(), colourful ? QImage::Format_RGB32 : QImage::Format_Grayscale8);
                for (int i = 0; i < 40; ++i) {
                    const QPoint at = vertical ? QPoint(2, i) : QPoint(i, 2);
                    QCOMPARE(qRed(box.pixel(at)), 21 + 4 * i);
                    QCOMPARE(qGreen(box.pixel(at)), colourful ? 90 : 21 + 4 * i);
                    if (i >= 3 && i < 37)
                        QCOMPARE(qRed(lanczos.pixel(at)), 21 + 4 * i);
                }
                const QImage bilinear = expandBilinear2(box, source.width(), source.height());
                const QImage sharp = expandLanczos2(lanczos, source.width(), source.height());
                QCOMPARE(bilinear.size(), source.size());
                for (int i = 0; i < 80; ++i) {
                    const QPoint at = vertical ? QPoint(3, i) : QPoint(i, 3);
                    if (i >= 1 && i < 79)
                        QCOMPARE(qRed(bilinear.pixel(at)), 20 + 2 * i);
                    if (i >= 8 && i < 72)
                        QCOMPARE(qRed(sharp.pixel(at)), 20 + 2 * i);
                }
            }
        // Odd sizes round down, as the hybrid components do, and expand back.
        const QImage odd = ramp(81, 9, false, false);
        QCOMPARE(reduceBox2(odd).size(), QSize(40, 4));
        QCOMPARE(expandBilinear2(reduceBox2(odd), 81, 9).size(), QSize(81, 9));
        QVERIFY(reduceBox2(QImage(1, 5, QImage::Format_RGB32)).isNull());
    }

    void rampsSurviveEveryStepAndFilter()
    {
        // Reduced pixel i lies at h i + (h - 1) / 2, where the ramp 20 + 2x
        // is 20 + 2 h i + h - 1: box reduction and linear or cubic expansion
        // reproduce the ramp exactly away from the edges, at any step (a
        // half-pixel shift would be off by h - 1 or 1 everywhere). Step 1 is
        // the identity.
        for (int step : {1, 2, 3, 4}) {
            const QImage source = ramp(96, 7, false, true);
            const QImage box = reduceImage(source, step, ResampleFilter::Box);
            QCOMPARE(box.size(), QSize(96 / step, 7 / step));
            for (int i = 0; i < box.width(); ++i)
                QCOMPARE(qRed(box.pixel(i, 0)), 20 + 2 * step * i + step - 1);
            const QImage lanczos = reduceImage(source, step, ResampleFilter::Lanczos3);
            // Its taps are symmetric about the centre and sum to 1.
            for (int i = 3; i < lanczos.width() - 3; ++i)
                QCOMPARE(qRed(lanczos.pixel(i, 0)), 20 + 2 * step * i + step - 1);
            for (ResampleFilter up : {ResampleFilter::Bilinear, ResampleFilter::Bicubic, ResampleFilter::Lanczos3}) {
                const QImage expanded = expandImage(box, 96, 7, step, up);
                QCOMPARE(expanded.size(), source.size());
                const int margin = up == ResampleFilter::Lanczos3 ? 4 * step : 2 * step;
                for (int x = margin; x < 96 - margin; ++x) {
                    const int error = std::abs(qRed(expanded.pixel(x, 3)) - (20 + 2 * x));
                    QVERIFY2(error <= (up == ResampleFilter::Lanczos3 ? 1 : 0),
                             qPrintable(QStringLiteral("step %1, x %2: %3").arg(step).arg(x).arg(qRed(expanded.pixel(x, 3)))));
                    QCOMPARE(qGreen(expanded.pixel(x, 3)), 90);
                }
            }
            if (step == 1)
                QCOMPARE(expandImage(reduceImage(colour, 1, ResampleFilter::Lanczos3), colour.width(), colour.height(),
                                     1, ResampleFilter::Bicubic),
                         colour.convertToFormat(QImage::Format_RGB32));
        }
        QVERIFY(reduceImage(colour, 98, ResampleFilter::Box).isNull());
        QVERIFY(reduceImage(colour, 2, ResampleFilter::Bicubic).isNull());
        QVERIFY(expandImage(colour, 10, 10, 2, ResampleFilter::Box).isNull());
    }

    void msSsimMatchesThePlainReference()
    {
        const QImage source = loadPhoto(QStringLiteral("astronaut.png")).copy(150, 100, 170, 163);
        const QImage light = jpegRoundTrip(source, 60);
        const QImage heavy = jpegRoundTrip(source, 5);
        QCOMPARE(msSsim(source, source), 1.0);
        const double lightValue = msSsim(source, light);
        const double heavyValue = msSsim(source, heavy);
        QVERIFY(heavyValue < lightValue && lightValue < 1.0 && heavyValue > 0.5);
        double expected = 0.0;
        for (int shift : {16, 8, 0})
            expected += referenceMsSsim(channel(source, shift), channel(heavy, shift), source.width(), source.height());
        expected /= 3.0;
        QVERIFY2(std::fabs(heavyValue - expected) < 1e-12,
                 qPrintable(QStringLiteral("%1 against %2").arg(heavyValue, 0, 'g', 17).arg(expected, 0, 'g', 17)));
        // Too small for the fifth scale, or mismatched: NaN with a reason.
        QString error;
        QVERIFY(std::isnan(msSsim(source.copy(0, 0, 160, 163), light.copy(0, 0, 160, 163), &error)));
        QVERIFY(error.contains(QLatin1String("161")));
        QVERIFY(std::isnan(msSsim(source, light.copy(0, 0, 170, 162))));
    }

    void butteraugliOrdersDistortions()
    {
        ButteraugliDistance same;
        QVERIFY(butteraugliDistance(colour, colour, &same));
        QCOMPARE(same.pNorm3, 0.0);
        QCOMPARE(same.max, 0.0);
        ButteraugliDistance light;
        ButteraugliDistance heavy;
        QVERIFY(butteraugliDistance(colour, jpegRoundTrip(colour, 80), &light));
        QVERIFY(butteraugliDistance(colour, jpegRoundTrip(colour, 5), &heavy));
        QVERIFY(light.pNorm3 > 0.0 && heavy.pNorm3 > light.pNorm3);
        QVERIFY(heavy.max > light.max && light.max >= light.pNorm3);
        ButteraugliDistance mismatched;
        QString error;
        QVERIFY(!butteraugliDistance(colour, grey, &mismatched, &error));
        QVERIFY(std::isnan(mismatched.pNorm3) && !error.isEmpty());
    }

private:
    QImage colour;
    QImage grey;
};

QTEST_MAIN(TestAnchors)
#include "test_anchors.moc"
