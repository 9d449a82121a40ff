#include "resampling.h"

#include "anchorimage.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace {

// The input samples and weights of one output sample along one dimension.
struct Taps
{
    std::vector<int> index;
    std::vector<double> weight;
};

using TapsMaker = std::function<Taps(int out, int inSize)>;

double lanczos3(double t)
{
    t = std::fabs(t);
    if (t >= 3.0)
        return 0.0;
    if (t < 1e-12)
        return 1.0;
    const double pi = 3.14159265358979323846;
    return 3.0 * std::sin(pi * t) * std::sin(pi * t / 3.0) / (pi * pi * t * t);
}

int clampIndex(int index, int size)
{
    return std::min(std::max(index, 0), size - 1);
}

void normalise(Taps &taps)
{
    double sum = 0.0;
    for (double w : taps.weight)
        sum += w;
    for (double &w : taps.weight)
        w /= sum;
}

Taps boxTaps(int out, int inSize)
{
    return Taps{{clampIndex(2 * out, inSize), clampIndex(2 * out + 1, inSize)}, {0.5, 0.5}};
}

Taps bilinearTaps(int out, int inSize)
{
    const double u = out / 2.0 - 0.25;
    const double base = std::floor(u);
    const double f = u - base;
    const int j = int(base);
    return Taps{{clampIndex(j, inSize), clampIndex(j + 1, inSize)}, {1.0 - f, f}};
}

Taps lanczosReduceTaps(int out, int inSize)
{
    const double centre = 2.0 * out + 0.5;
    Taps taps;
    for (int j = 2 * out - 5; j <= 2 * out + 6; ++j) {
        taps.index.push_back(clampIndex(j, inSize));
        taps.weight.push_back(lanczos3((j - centre) / 2.0));
    }
    normalise(taps);
    return taps;
}

Taps lanczosExpandTaps(int out, int inSize)
{
    const double u = out / 2.0 - 0.25;
    const int base = int(std::floor(u));
    Taps taps;
    for (int j = base - 2; j <= base + 3; ++j) {
        taps.index.push_back(clampIndex(j, inSize));
        taps.weight.push_back(lanczos3(u - j));
    }
    normalise(taps);
    return taps;
}

// Resamples every channel separably, rows first, then columns.
QImage resample(const QImage &image, int outWidth, int outHeight, const TapsMaker &makeTaps)
{
    if (image.isNull() || outWidth < 1 || outHeight < 1)
        return QImage();
    const AnchorPixels in = anchorPixels(image);
    const int channels = in.channels;
    const unsigned char *samples = reinterpret_cast<const unsigned char *>(in.samples.constData());
    std::vector<Taps> columnTaps;
    for (int x = 0; x < outWidth; ++x)
        columnTaps.push_back(makeTaps(x, in.width));
    std::vector<Taps> rowTaps;
    for (int y = 0; y < outHeight; ++y)
        rowTaps.push_back(makeTaps(y, in.height));

    std::vector<double> rows(std::size_t(in.height) * outWidth * channels);
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < outWidth; ++x)
            for (int c = 0; c < channels; ++c) {
                const Taps &taps = columnTaps[std::size_t(x)];
                double sum = 0.0;
                for (std::size_t k = 0; k < taps.index.size(); ++k)
                    sum += taps.weight[k] * samples[(std::size_t(y) * in.width + taps.index[k]) * channels + c];
                rows[(std::size_t(y) * outWidth + x) * channels + c] = sum;
            }
    std::vector<unsigned char> out(std::size_t(outHeight) * outWidth * channels);
    for (int y = 0; y < outHeight; ++y) {
        const Taps &taps = rowTaps[std::size_t(y)];
        for (int x = 0; x < outWidth; ++x)
            for (int c = 0; c < channels; ++c) {
                double sum = 0.0;
                for (std::size_t k = 0; k < taps.index.size(); ++k)
                    sum += taps.weight[k] * rows[(std::size_t(taps.index[k]) * outWidth + x) * channels + c];
                const double rounded = std::floor(sum + 0.5);
                out[(std::size_t(y) * outWidth + x) * channels + c] =
                    static_cast<unsigned char>(std::min(255.0, std::max(0.0, rounded)));
            }
    }
    return imageFromSamples(out.data(), outWidth, outHeight, channels, outWidth * channels);
}

} // namespace

QImage reduceBox2(const QImage &image)
{
    return resample(image, image.width() / 2, image.height() / 2, boxTaps);
}

QImage expandBilinear2(const QImage &reduced, int width, int height)
{
    return resample(reduced, width, height, bilinearTaps);
}

QImage reduceLanczos2(const QImage &image)
{
    return resample(image, image.width() / 2, image.height() / 2, lanczosReduceTaps);
}

QImage expandLanczos2(const QImage &reduced, int width, int height)
{
    return resample(reduced, width, height, lanczosExpandTaps);
}
