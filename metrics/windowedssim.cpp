#include "metrics/windowedssim.h"

#include "metrics/metricchecks.h"
#include "codec/qimage/scanlinesource.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

namespace veltrano {

namespace {

constexpr int windowRadius = windowedSsimWindowSize / 2;
constexpr double gaussianSigma = 1.5;
constexpr double C1 = (0.01 * 255) * (0.01 * 255);
constexpr double C2 = (0.03 * 255) * (0.03 * 255);

const double notANumber = std::numeric_limits<double>::quiet_NaN();

// Normalised Gaussian weights, index 0 to 2 * windowRadius.
std::array<double, windowedSsimWindowSize> gaussianWeights()
{
    std::array<double, windowedSsimWindowSize> w{};
    double sum = 0.0;
    for (int i = 0; i < windowedSsimWindowSize; ++i) {
        const double x = i - windowRadius;
        w[std::size_t(i)] = std::exp(-0.5 / (gaussianSigma * gaussianSigma) * x * x);
        sum += w[std::size_t(i)];
    }
    for (double &v : w)
        v /= sum;
    return w;
}

// Fills one row of channel values of both images.
using RowSource = std::function<void(int y, double *reference, double *test)>;

RowSource channelRows(const QImage &reference, const QImage &test, int channel)
{
    auto referenceRows = std::make_shared<ScanLineSource>(reference);
    auto testRows = std::make_shared<ScanLineSource>(test);
    const int width = reference.width();
    return [channel, width, referenceRows, testRows](int y, double *ref, double *tst) {
        const QRgb *a = referenceRows->row(y);
        const QRgb *b = testRows->row(y);
        switch (channel) {
        case RedChannel:
            for (int x = 0; x < width; ++x) {
                ref[x] = qRed(a[x]);
                tst[x] = qRed(b[x]);
            }
            break;
        case GreenChannel:
            for (int x = 0; x < width; ++x) {
                ref[x] = qGreen(a[x]);
                tst[x] = qGreen(b[x]);
            }
            break;
        case BlueChannel:
            for (int x = 0; x < width; ++x) {
                ref[x] = qBlue(a[x]);
                tst[x] = qBlue(b[x]);
            }
            break;
        default:
            for (int x = 0; x < width; ++x) {
                ref[x] = 0.299 * qRed(a[x]) + 0.587 * qGreen(a[x]) + 0.114 * qBlue(a[x]);
                tst[x] = 0.299 * qRed(b[x]) + 0.587 * qGreen(b[x]) + 0.114 * qBlue(b[x]);
            }
            break;
        }
    };
}

// The five local moments (means of x, y, x^2, y^2 and x*y) are filtered by
// the separable window: each input row horizontally as it arrives, kept in a
// ring of windowedSsimWindowSize rows, then vertically once the ring is full.
// Memory stays at a few rows however large the image.
double meanWindowedSsim(int width, int height, const RowSource &rows)
{
    constexpr int taps = windowedSsimWindowSize;
    constexpr int moments = 5;
    const std::array<double, taps> w = gaussianWeights();
    const std::size_t outWidth = std::size_t(width - taps + 1);

    std::vector<double> ref(static_cast<std::size_t>(width)), tst(static_cast<std::size_t>(width));
    std::vector<double> products(std::size_t(width) * 3);
    // ring[(row % taps) * moments + m] is one horizontally filtered row.
    std::vector<std::vector<double>> ring(std::size_t(taps * moments), std::vector<double>(outWidth));
    std::array<std::vector<double>, moments> column;
    for (auto &c : column)
        c.assign(outWidth, 0.0);

    double total = 0.0;
    for (int y = 0; y < height; ++y) {
        rows(y, ref.data(), tst.data());
        double *xx = products.data();
        double *yy = xx + width;
        double *xy = yy + width;
        for (int x = 0; x < width; ++x) {
            xx[x] = ref[std::size_t(x)] * ref[std::size_t(x)];
            yy[x] = tst[std::size_t(x)] * tst[std::size_t(x)];
            xy[x] = ref[std::size_t(x)] * tst[std::size_t(x)];
        }
        const double *inputs[moments] = {ref.data(), tst.data(), xx, yy, xy};
        const std::size_t slot = std::size_t(y % taps) * moments;
        for (int m = 0; m < moments; ++m) {
            const double *in = inputs[m];
            double *out = ring[slot + std::size_t(m)].data();
            // The window is symmetric: taps k and taps - 1 - k share a weight.
            const double *centre = in + windowRadius;
            const double wc = w[windowRadius];
            for (std::size_t i = 0; i < outWidth; ++i)
                out[i] = wc * centre[i];
            for (int k = 0; k < windowRadius; ++k) {
                const double wk = w[std::size_t(k)];
                const double *left = in + k;
                const double *right = in + (taps - 1 - k);
                for (std::size_t i = 0; i < outWidth; ++i)
                    out[i] += wk * (left[i] + right[i]);
            }
        }
        if (y < taps - 1)
            continue;

        // Rows y - taps + 1 .. y make up the windows centred on row y - radius.
        for (int m = 0; m < moments; ++m) {
            double *out = column[std::size_t(m)].data();
            const int first = y - taps + 1;
            auto ringRow = [&](int row) {
                return ring[std::size_t(row % taps) * moments + std::size_t(m)].data();
            };
            const double *centre = ringRow(first + windowRadius);
            const double wc = w[windowRadius];
            for (std::size_t i = 0; i < outWidth; ++i)
                out[i] = wc * centre[i];
            for (int k = 0; k < windowRadius; ++k) {
                const double wk = w[std::size_t(k)];
                const double *top = ringRow(first + k);
                const double *bottom = ringRow(first + taps - 1 - k);
                for (std::size_t i = 0; i < outWidth; ++i)
                    out[i] += wk * (top[i] + bottom[i]);
            }
        }
        const double *mx = column[0].data();
        const double *my = column[1].data();
        const double *mxx = column[2].data();
        const double *myy = column[3].data();
        const double *mxy = column[4].data();
        double rowTotal = 0.0;
        for (std::size_t i = 0; i < outWidth; ++i) {
            const double vx = mxx[i] - mx[i] * mx[i];
            const double vy = myy[i] - my[i] * my[i];
            const double vxy = mxy[i] - mx[i] * my[i];
            rowTotal += ((2 * mx[i] * my[i] + C1) * (2 * vxy + C2))
                        / ((mx[i] * mx[i] + my[i] * my[i] + C1) * (vx + vy + C2));
        }
        total += rowTotal;
    }
    const double count = double(outWidth) * double(height - taps + 1);
    return total / count;
}

} // namespace

double windowedSsimOfPlanes(const double *reference, const double *test, int width, int height,
                            QString *errorMessage)
{
    if (!reference || !test || width < windowedSsimWindowSize || height < windowedSsimWindowSize) {
        failMetric(errorMessage,
                   QCoreApplication::translate("windowedSsim", "the planes (%1x%2) are smaller than the %3 x %3 window")
                       .arg(width)
                       .arg(height)
                       .arg(windowedSsimWindowSize));
        return notANumber;
    }
    const std::size_t w = std::size_t(width);
    return meanWindowedSsim(width, height, [=](int y, double *ref, double *tst) {
        const std::size_t offset = std::size_t(y) * w;
        std::copy(reference + offset, reference + offset + w, ref);
        std::copy(test + offset, test + offset + w, tst);
    });
}

double windowedSsim(const QImage &reference, const QImage &test, int channel, QString *errorMessage)
{
    if (!checkChannel(channel, errorMessage) || !checkImagePair(reference, test, windowedSsimWindowSize, errorMessage))
        return notANumber;
    return meanWindowedSsim(reference.width(), reference.height(), channelRows(reference, test, channel));
}

double windowedSsimRgbMean(const QImage &reference, const QImage &test, QString *errorMessage)
{
    if (!checkImagePair(reference, test, windowedSsimWindowSize, errorMessage))
        return notANumber;
    double sum = 0.0;
    for (int channel = RedChannel; channel <= BlueChannel; ++channel)
        sum += meanWindowedSsim(reference.width(), reference.height(), channelRows(reference, test, channel));
    return sum / 3;
}

} // namespace veltrano
