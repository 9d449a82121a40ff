#include "metrics/msssim.h"

#include "codec/qimage/scanlinesource.h"
#include "metrics/windowedssim.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace veltrano {

namespace {

constexpr double exponents[msSsimScales] = {0.0448, 0.2856, 0.3001, 0.2363, 0.1333};
constexpr int windowSize = windowedSsimWindowSize;
constexpr double c1 = (0.01 * 255.0) * (0.01 * 255.0);
constexpr double c2 = (0.03 * 255.0) * (0.03 * 255.0);

struct Plane
{
    int width = 0;
    int height = 0;
    std::vector<double> samples;
};

std::vector<double> gaussianWindow()
{
    std::vector<double> window(windowSize);
    double sum = 0.0;
    for (int i = 0; i < windowSize; ++i) {
        const double d = i - (windowSize - 1) / 2.0;
        window[std::size_t(i)] = std::exp(-d * d / (2.0 * 1.5 * 1.5));
        sum += window[std::size_t(i)];
    }
    for (double &w : window)
        w /= sum;
    return window;
}

// Mean contrast-structure term and mean SSIM over the windows wholly inside.
void windowMeans(const Plane &x, const Plane &y, double *cs, double *ssim)
{
    static const std::vector<double> window = gaussianWindow();
    const int outWidth = x.width - windowSize + 1;
    const int outHeight = x.height - windowSize + 1;
    // Rows filtered first: the five moments per row position.
    const int moments = 5;
    std::vector<double> rows(std::size_t(x.height) * outWidth * moments);
    for (int r = 0; r < x.height; ++r) {
        const double *a = &x.samples[std::size_t(r) * x.width];
        const double *b = &y.samples[std::size_t(r) * y.width];
        for (int c = 0; c < outWidth; ++c) {
            double m[moments] = {0, 0, 0, 0, 0};
            for (int k = 0; k < windowSize; ++k) {
                const double w = window[std::size_t(k)];
                const double u = a[c + k];
                const double v = b[c + k];
                m[0] += w * u;
                m[1] += w * v;
                m[2] += w * u * u;
                m[3] += w * v * v;
                m[4] += w * u * v;
            }
            std::copy(m, m + moments, &rows[(std::size_t(r) * outWidth + c) * moments]);
        }
    }
    double csSum = 0.0;
    double ssimSum = 0.0;
    for (int r = 0; r < outHeight; ++r)
        for (int c = 0; c < outWidth; ++c) {
            double m[moments] = {0, 0, 0, 0, 0};
            for (int k = 0; k < windowSize; ++k) {
                const double w = window[std::size_t(k)];
                const double *row = &rows[(std::size_t(r + k) * outWidth + c) * moments];
                for (int i = 0; i < moments; ++i)
                    m[i] += w * row[i];
            }
            const double varX = m[2] - m[0] * m[0];
            const double varY = m[3] - m[1] * m[1];
            const double covariance = m[4] - m[0] * m[1];
            const double contrast = (2.0 * covariance + c2) / (varX + varY + c2);
            const double luminance = (2.0 * m[0] * m[1] + c1) / (m[0] * m[0] + m[1] * m[1] + c1);
            csSum += contrast;
            ssimSum += luminance * contrast;
        }
    const double count = double(outWidth) * outHeight;
    *cs = csSum / count;
    *ssim = ssimSum / count;
}

Plane halve(const Plane &plane)
{
    Plane half;
    half.width = (plane.width + 1) / 2;
    half.height = (plane.height + 1) / 2;
    half.samples.resize(std::size_t(half.width) * half.height);
    for (int r = 0; r < half.height; ++r) {
        const int r0 = 2 * r;
        const int r1 = std::min(2 * r + 1, plane.height - 1);
        for (int c = 0; c < half.width; ++c) {
            const int c0 = 2 * c;
            const int c1 = std::min(2 * c + 1, plane.width - 1);
            const auto at = [&plane](int row, int column) {
                return plane.samples[std::size_t(row) * plane.width + column];
            };
            half.samples[std::size_t(r) * half.width + c] =
                (at(r0, c0) + at(r0, c1) + at(r1, c0) + at(r1, c1)) / 4.0;
        }
    }
    return half;
}

double setError(QString *errorMessage, const QString &text)
{
    if (errorMessage)
        *errorMessage = text;
    return std::nan("");
}

} // namespace

double msSsimOfPlanes(const double *reference, const double *test, int width, int height, QString *errorMessage)
{
    if (width < msSsimMinimumSize || height < msSsimMinimumSize)
        return setError(errorMessage, QStringLiteral("multi-scale SSIM needs at least %1x%1 pixels, not %2x%3")
                                          .arg(msSsimMinimumSize)
                                          .arg(width)
                                          .arg(height));
    Plane x{width, height, std::vector<double>(reference, reference + std::size_t(width) * height)};
    Plane y{width, height, std::vector<double>(test, test + std::size_t(width) * height)};
    double result = 1.0;
    for (int scale = 0; scale < msSsimScales; ++scale) {
        double cs = 0.0;
        double ssim = 0.0;
        windowMeans(x, y, &cs, &ssim);
        const double term = scale + 1 < msSsimScales ? cs : ssim;
        result *= std::pow(std::max(0.0, term), exponents[scale]);
        if (scale + 1 < msSsimScales) {
            x = halve(x);
            y = halve(y);
        }
    }
    return result;
}

double msSsim(const QImage &reference, const QImage &test, QString *errorMessage)
{
    if (reference.isNull() || test.isNull())
        return setError(errorMessage, QStringLiteral("multi-scale SSIM of a null image"));
    if (reference.size() != test.size())
        return setError(errorMessage, QStringLiteral("multi-scale SSIM of images of different sizes"));
    const int width = reference.width();
    const int height = reference.height();
    std::vector<double> planes[2][3];
    const QImage *images[2] = {&reference, &test};
    for (int i = 0; i < 2; ++i) {
        for (auto &plane : planes[i])
            plane.resize(std::size_t(width) * height);
        ScanLineSource source(*images[i]);
        for (int r = 0; r < height; ++r) {
            const QRgb *row = source.row(r);
            for (int c = 0; c < width; ++c) {
                const std::size_t at = std::size_t(r) * width + c;
                planes[i][0][at] = qRed(row[c]);
                planes[i][1][at] = qGreen(row[c]);
                planes[i][2][at] = qBlue(row[c]);
            }
        }
    }
    double sum = 0.0;
    for (int channel = 0; channel < 3; ++channel) {
        const double value = msSsimOfPlanes(planes[0][channel].data(), planes[1][channel].data(), width, height,
                                            errorMessage);
        if (std::isnan(value))
            return value;
        sum += value;
    }
    return sum / 3.0;
}

} // namespace veltrano
