#include "imagemetrics.h"

#include "rgbrows.h"

#include <cmath>
#include <limits>
#include <vector>

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
    std::vector<QRgb> row(static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y) {
        readRgbRow(image, y, row.data());
        for (int x = 0; x < width; ++x) {
            unsigned char *p = &values[(std::size_t(x) * std::size_t(height) + std::size_t(y)) * 3];
            p[0] = static_cast<unsigned char>(qRed(row[std::size_t(x)]));
            p[1] = static_cast<unsigned char>(qGreen(row[std::size_t(x)]));
            p[2] = static_cast<unsigned char>(qBlue(row[std::size_t(x)]));
        }
    }
    return values;
}

bool comparable(const QImage &reference, const QImage &test)
{
    return !reference.isNull() && reference.size() == test.size();
}

} // namespace

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
