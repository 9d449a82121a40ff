#include "metrics/imagemetrics.h"

#include "metrics/metricchecks.h"
#include "codec/qimage/scanlinesource.h"

#include <cmath>
#include <limits>
#include <vector>

namespace veltrano {

namespace {

constexpr double C1 = 6.5025;
constexpr double C2 = 58.5225;

// The red, green and blue values of every pixel, column by column (x outer,
// y inner), which is the order both metrics accumulate in.
std::vector<unsigned char> channelsColumnMajor(const QImage &image)
{
    const int width = image.width();
    const int height = image.height();
    std::vector<unsigned char> values(std::size_t(width) * std::size_t(height) * 3);
    ScanLineSource rows(image);
    for (int y = 0; y < height; ++y) {
        const QRgb *row = rows.row(y);
        for (int x = 0; x < width; ++x) {
            unsigned char *p = &values[(std::size_t(x) * std::size_t(height) + std::size_t(y)) * 3];
            p[0] = static_cast<unsigned char>(qRed(row[x]));
            p[1] = static_cast<unsigned char>(qGreen(row[x]));
            p[2] = static_cast<unsigned char>(qBlue(row[x]));
        }
    }
    return values;
}

// Sum of squared differences of one channel, or of red, green and blue
// together when channel is -1.
double sumOfSquaredDifferences(const QImage &reference, const QImage &test, int channel)
{
    const int width = reference.width();
    ScanLineSource referenceRows(reference);
    ScanLineSource testRows(test);
    double sum = 0.0;
    for (int y = 0; y < reference.height(); ++y) {
        const QRgb *a = referenceRows.row(y);
        const QRgb *b = testRows.row(y);
        double rowSum = 0.0;
        for (int x = 0; x < width; ++x) {
            const QRgb p = a[x];
            const QRgb q = b[x];
            if (channel == LumaChannel) {
                const double d = (0.299 * qRed(p) + 0.587 * qGreen(p) + 0.114 * qBlue(p))
                                 - (0.299 * qRed(q) + 0.587 * qGreen(q) + 0.114 * qBlue(q));
                rowSum += d * d;
                continue;
            }
            const int dr = qRed(p) - qRed(q);
            const int dg = qGreen(p) - qGreen(q);
            const int db = qBlue(p) - qBlue(q);
            switch (channel) {
            case RedChannel:
                rowSum += dr * dr;
                break;
            case GreenChannel:
                rowSum += dg * dg;
                break;
            case BlueChannel:
                rowSum += db * db;
                break;
            default:
                rowSum += dr * dr + dg * dg + db * db;
                break;
            }
        }
        sum += rowSum;
    }
    return sum;
}

bool comparable(const QImage &reference, const QImage &test)
{
    return !reference.isNull() && reference.size() == test.size();
}

} // namespace

double psnrFromMse(double meanSquaredError)
{
    if (meanSquaredError == 0.0)
        return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(255.0 * 255.0 / meanSquaredError);
}

float mse(const QImage &reference, const QImage &test)
{
    if (!comparable(reference, test))
        return std::numeric_limits<float>::quiet_NaN();

    const long long n = static_cast<long long>(reference.width()) * reference.height();
    const std::vector<unsigned char> ref = channelsColumnMajor(reference);
    const std::vector<unsigned char> tst = channelsColumnMajor(test);

    double sum[3] = {0.0, 0.0, 0.0};
    for (std::size_t i = 0; i < ref.size(); i += 3) {
        for (int c = 0; c < 3; ++c) {
            const int d = int(ref[i + std::size_t(c)]) - int(tst[i + std::size_t(c)]);
            sum[c] += double(d * d);
        }
    }
    const double n_d = double(n);
    const double mseRed = sum[0] / n_d;
    const double mseGreen = sum[1] / n_d;
    const double mseBlue = sum[2] / n_d;
    return static_cast<float>((mseRed + mseGreen + mseBlue) / 3);
}

float ssim(const QImage &reference, const QImage &test)
{
    if (!comparable(reference, test))
        return std::numeric_limits<float>::quiet_NaN();

    const long long n = static_cast<long long>(reference.width()) * reference.height();
    const long long n2 = static_cast<long long>(test.width()) * test.height();
    const std::vector<unsigned char> ref = channelsColumnMajor(reference);
    const std::vector<unsigned char> tst = channelsColumnMajor(test);

    double sumRef[3] = {0.0, 0.0, 0.0};
    double sumTest[3] = {0.0, 0.0, 0.0};
    for (std::size_t i = 0; i < ref.size(); i += 3) {
        for (int c = 0; c < 3; ++c) {
            sumRef[c] += ref[i + std::size_t(c)];
            sumTest[c] += tst[i + std::size_t(c)];
        }
    }
    double m1[3], m2[3];
    for (int c = 0; c < 3; ++c) {
        m1[c] = sumRef[c] / double(n);
        m2[c] = sumTest[c] / double(n2);
    }

    double v1[3] = {0.0, 0.0, 0.0};
    double v2[3] = {0.0, 0.0, 0.0};
    double k[3] = {0.0, 0.0, 0.0};
    for (std::size_t i = 0; i < ref.size(); i += 3) {
        for (int c = 0; c < 3; ++c) {
            const double d1 = ref[i + std::size_t(c)] - m1[c];
            const double d2 = tst[i + std::size_t(c)] - m2[c];
            v1[c] += d1 * d1;
            v2[c] += d2 * d2;
            k[c] += d1 * d2;
        }
    }

    float channelSsim[3];
    for (int c = 0; c < 3; ++c) {
        const double sigma1 = std::sqrt(v1[c] / double(n));
        const double sigma2 = std::sqrt(v2[c] / double(n));
        const double sigma12 = k[c] / double(n);
        channelSsim[c] = static_cast<float>(
            ((2 * m1[c] * m2[c] + C1) * (2 * sigma12 + C2))
            / ((m1[c] * m1[c] + m2[c] * m2[c] + C1) * (sigma1 * sigma1 + sigma2 * sigma2 + C2)));
    }
    return (channelSsim[0] + channelSsim[1] + channelSsim[2]) / 3;
}

double psnr(const QImage &reference, const QImage &test, QString *errorMessage)
{
    if (!checkImagePair(reference, test, 1, errorMessage))
        return std::numeric_limits<double>::quiet_NaN();
    const double samples = double(reference.width()) * double(reference.height()) * 3;
    return psnrFromMse(sumOfSquaredDifferences(reference, test, -1) / samples);
}

double psnrChannel(const QImage &reference, const QImage &test, int channel, QString *errorMessage)
{
    if (!checkChannel(channel, errorMessage) || !checkImagePair(reference, test, 1, errorMessage))
        return std::numeric_limits<double>::quiet_NaN();
    const double samples = double(reference.width()) * double(reference.height());
    return psnrFromMse(sumOfSquaredDifferences(reference, test, channel) / samples);
}

} // namespace veltrano
