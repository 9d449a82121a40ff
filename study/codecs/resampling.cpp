#include "study/codecs/resampling.h"

#include "study/codecs/anchorimage.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace veltrano {

namespace {

// The input samples and weights of one output sample along one dimension.
struct Taps
{
    std::vector<int> index;
    std::vector<double> weight;
};

using TapsMaker = std::function<Taps(int out, int inSize, int step)>;

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

// Where output pixel `out` of an expansion by `step` lies in the reduced
// image: reduced pixel i covers full pixels step i .. step i + step - 1, so
// its centre lies at step i + (step - 1) / 2.
double reducedPosition(int out, int step)
{
    return (out - (step - 1) / 2.0) / step;
}

Taps boxTaps(int out, int inSize, int step)
{
    Taps taps;
    for (int k = 0; k < step; ++k) {
        taps.index.push_back(clampIndex(step * out + k, inSize));
        taps.weight.push_back(1.0 / step);
    }
    return taps;
}

Taps bilinearTaps(int out, int inSize, int step)
{
    const double u = reducedPosition(out, step);
    const double base = std::floor(u);
    const double f = u - base;
    const int j = int(base);
    return Taps{{clampIndex(j, inSize), clampIndex(j + 1, inSize)}, {1.0 - f, f}};
}

// Keys' cubic convolution kernel with a = -0.5 (Catmull-Rom), which
// reproduces quadratics.
double keysCubic(double t)
{
    t = std::fabs(t);
    if (t < 1.0)
        return (1.5 * t - 2.5) * t * t + 1.0;
    if (t < 2.0)
        return ((-0.5 * t + 2.5) * t - 4.0) * t + 2.0;
    return 0.0;
}

Taps bicubicTaps(int out, int inSize, int step)
{
    const double u = reducedPosition(out, step);
    const int base = int(std::floor(u));
    Taps taps;
    for (int j = base - 1; j <= base + 2; ++j) {
        taps.index.push_back(clampIndex(j, inSize));
        taps.weight.push_back(keysCubic(u - j));
    }
    normalise(taps);
    return taps;
}

// Lanczos-3 widened by step: 6 step taps centred on the reduced pixel's
// centre, step out + (step - 1) / 2 in the full image.
Taps lanczosReduceTaps(int out, int inSize, int step)
{
    const double centre = step * out + (step - 1) / 2.0;
    Taps taps;
    for (int j = int(std::ceil(centre - 3.0 * step)); j <= int(std::floor(centre + 3.0 * step)); ++j) {
        const double weight = lanczos3((j - centre) / step);
        if (weight == 0.0)
            continue;
        taps.index.push_back(clampIndex(j, inSize));
        taps.weight.push_back(weight);
    }
    normalise(taps);
    return taps;
}

Taps lanczosExpandTaps(int out, int inSize, int step)
{
    const double u = reducedPosition(out, step);
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
QImage resample(const QImage &image, int outWidth, int outHeight, int step, const TapsMaker &makeTaps)
{
    if (image.isNull() || outWidth < 1 || outHeight < 1)
        return QImage();
    const AnchorPixels in = anchorPixels(image);
    const int channels = in.channels;
    const unsigned char *samples = reinterpret_cast<const unsigned char *>(in.samples.constData());
    std::vector<Taps> columnTaps;
    for (int x = 0; x < outWidth; ++x)
        columnTaps.push_back(makeTaps(x, in.width, step));
    std::vector<Taps> rowTaps;
    for (int y = 0; y < outHeight; ++y)
        rowTaps.push_back(makeTaps(y, in.height, step));

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

QImage reduceImage(const QImage &image, int step, ResampleFilter filter)
{
    if (step < 1 || filter == ResampleFilter::Bilinear || filter == ResampleFilter::Bicubic)
        return QImage();
    return resample(image, image.width() / step, image.height() / step, step,
                    filter == ResampleFilter::Box ? boxTaps : lanczosReduceTaps);
}

QImage expandImage(const QImage &reduced, int width, int height, int step, ResampleFilter filter)
{
    if (step < 1 || filter == ResampleFilter::Box)
        return QImage();
    return resample(reduced, width, height, step,
                    filter == ResampleFilter::Bilinear  ? bilinearTaps
                    : filter == ResampleFilter::Bicubic ? bicubicTaps
                                                        : lanczosExpandTaps);
}

QImage reduceBox2(const QImage &image)
{
    return reduceImage(image, 2, ResampleFilter::Box);
}

QImage expandBilinear2(const QImage &reduced, int width, int height)
{
    return expandImage(reduced, width, height, 2, ResampleFilter::Bilinear);
}

QImage reduceLanczos2(const QImage &image)
{
    return reduceImage(image, 2, ResampleFilter::Lanczos3);
}

QImage expandLanczos2(const QImage &reduced, int width, int height)
{
    return expandImage(reduced, width, height, 2, ResampleFilter::Lanczos3);
}

} // namespace veltrano
