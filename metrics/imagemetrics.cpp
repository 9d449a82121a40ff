#include "imagemetrics.h"

#include <cmath>
#include <limits>

namespace {
// Reads pixels as QImage::pixel() does, straight from the scan lines when the
// format stores 0xAARRGGBB words.
class PixelSource
{
public:
    explicit PixelSource(const QImage &image)
        : image(image),
          direct(image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32)
    {
    }
    QRgb at(int x, int y) const
    {
        if (direct)
            return reinterpret_cast<const QRgb *>(image.constScanLine(y))[x];
        return image.pixel(x, y);
    }

private:
    const QImage &image;
    const bool direct;
};

bool comparable(const QImage &reference, const QImage &test)
{
    return !reference.isNull() && reference.size() == test.size();
}

int channel(QRgb pixel, int c)
{
    return c == 0 ? qRed(pixel) : c == 1 ? qGreen(pixel) : qBlue(pixel);
}
} // namespace

float mse(const QImage &reference, const QImage &test)
{
    if (!comparable(reference, test))
        return std::numeric_limits<float>::quiet_NaN();
    const PixelSource ref(reference);
    const PixelSource tst(test);
    const int width = reference.width();
    const int height = reference.height();
    double sum[3] = {0.0, 0.0, 0.0};
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            const QRgb a = ref.at(x, y);
            const QRgb b = tst.at(x, y);
            for (int c = 0; c < 3; ++c) {
                const int d = channel(a, c) - channel(b, c);
                sum[c] += double(d * d);
            }
        }
    }
    const int n = width * height;
    const double red = sum[0] / n;
    const double green = sum[1] / n;
    const double blue = sum[2] / n;
    return float((red + green + blue) / 3);
}

float ssim(const QImage &reference, const QImage &test)
{
    if (!comparable(reference, test))
        return std::numeric_limits<float>::quiet_NaN();
    const double c1 = 6.5025;
    const double c2 = 58.5225;
    const PixelSource ref(reference);
    const PixelSource tst(test);
    const int width = reference.width();
    const int height = reference.height();
    const int n = width * height;
    const int n2 = test.width() * test.height();

    double a[3] = {0.0, 0.0, 0.0};
    double b[3] = {0.0, 0.0, 0.0};
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            const QRgb p = ref.at(x, y);
            const QRgb q = tst.at(x, y);
            for (int c = 0; c < 3; ++c) {
                a[c] += channel(p, c);
                b[c] += channel(q, c);
            }
        }
    }
    double m1[3];
    double m2[3];
    for (int c = 0; c < 3; ++c) {
        m1[c] = a[c] / n;
        m2[c] = b[c] / n2;
    }

    double v1[3] = {0.0, 0.0, 0.0};
    double v2[3] = {0.0, 0.0, 0.0};
    double k[3] = {0.0, 0.0, 0.0};
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            const QRgb p = ref.at(x, y);
            const QRgb q = tst.at(x, y);
            for (int c = 0; c < 3; ++c) {
                const double d1 = channel(p, c) - m1[c];
                const double d2 = channel(q, c) - m2[c];
                v1[c] += d1 * d1;
                v2[c] += d2 * d2;
                k[c] += d1 * d2;
            }
        }
    }

    float value[3];
    for (int c = 0; c < 3; ++c) {
        // The deviations are kept as square roots and squared again in the
        // formula, so the variances there may differ from V / N in the last bit.
        const double sigma1 = std::sqrt(v1[c] / n);
        const double sigma2 = std::sqrt(v2[c] / n);
        const double sigma12 = k[c] / n;
        value[c] = float(((2 * m1[c] * m2[c] + c1) * (2 * sigma12 + c2))
                         / ((m1[c] * m1[c] + m2[c] * m2[c] + c1) * (sigma1 * sigma1 + sigma2 * sigma2 + c2)));
    }
    return (value[0] + value[1] + value[2]) / 3;
}
