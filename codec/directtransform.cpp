#include "directtransform.h"

#include "cpufeatures.h"
#include "imagebuffer.h"
#include "scanlinesource.h"
#include "transformkernels.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Whether every product and every partial sum of the direct transform's
// accumulation is exact in single precision for this kernel, whatever the
// pixels (0 .. 255 per channel) and whatever the image border leaves out.
//
// Write each coefficient as A[k] = K[k] / 2^p with integers K[k] (the
// smallest such p), and let T = |K[0]| + 2 (|K[1]| + ... + |K[n]|), the sum
// of |K| over one axis of the window. A weight s = A[i] A[j] is K[i] K[j] /
// 2^2p and a term value * s is (value K[i] K[j]) / 2^2p with |value K[i]
// K[j]| <= 255 T^2. Any partial sum of terms, in any order and over any subset
// of the window, is an integer multiple of 1 / 2^2p no larger in magnitude
// than 255 T^2 / 2^2p. When 255 T^2 < 2^24 such a number has at most 24
// significant bits, so it is a float and every rounding in the accumulation
// is exact; the same holds for the weight sums (at most T^2 / 2^2p) and for
// a row pass (multiples of 1 / 2^p up to 255 T / 2^p) followed by a column
// pass. The colour and weight sums are then the exact real sums, equal to
// those of the defined order, and so is the quotient of each channel.
//
// The codec's kernel 1, 0.5, 0 has p = 1, K = 2, 1, 0, T = 4 and 255 T^2 =
// 4080, far below 2^24 = 16777216.
bool kernelSumsAreExact(const std::vector<float> &kernel)
{
    for (int p = 0; p <= 12; ++p) {
        double total = 0.0;
        bool integral = true;
        for (std::size_t k = 0; k < kernel.size() && integral; ++k) {
            const double scaled = std::ldexp(double(kernel[k]), p);
            if (!std::isfinite(scaled) || std::floor(scaled) != scaled || std::fabs(scaled) > 65536.0) {
                integral = false;
                break;
            }
            total += (k == 0 ? 1.0 : 2.0) * std::fabs(scaled);
        }
        if (integral)
            return 255.0 * total * total < 16777216.0;
    }
    return false;
}

} // namespace

namespace {

// The kernels' job for an image of width x height, its rows from fetch;
// the caller sets where the component rows go. False when the image is too
// small for the step or the arguments make no transform.
bool directJob(int width, int height, int step, const QList<float> &kernel, std::vector<float> &coefficients,
               transformkernels::DirectJob &job)
{
    if (step < 1 || kernel.isEmpty() || width < 1 || height < 1)
        return false;
    const int componentWidth = width / step;
    const int componentHeight = height / step;
    if (componentWidth < 1 || componentHeight < 1)
        return false;
    // Taps beyond the image never count, so a kernel longer than the image
    // is cut to the image's size.
    const int longest = width > height ? width : height;
    const int radius = kernel.size() - 1 < longest - 1 ? kernel.size() - 1 : longest - 1;
    coefficients.assign(kernel.cbegin(), kernel.cbegin() + radius + 1);

    job = transformkernels::DirectJob{};
    job.width = width;
    job.height = height;
    job.step = step;
    job.radius = radius;
    job.kernel = coefficients.data();
    job.componentWidth = componentWidth;
    job.componentHeight = componentHeight;
    job.separable = kernelSumsAreExact(coefficients);
    job.hybrid = step == 2 && coefficients.size() >= 2 && coefficients[0] == 1.0f && coefficients[1] == 0.5f
        && std::all_of(coefficients.cbegin() + 2, coefficients.cend(), [](float a) { return a == 0.0f; });
    return true;
}

bool runDirectJob(const transformkernels::DirectJob &job)
{
    switch (transformSimdLevel()) {
#ifdef VELTRANO_X86_SIMD
    case SimdLevel::Avx2:
        return transformkernels::directAvx2(job);
    case SimdLevel::Sse2:
        return transformkernels::directSse2(job);
#endif
    default:
        return transformkernels::directScalar(job);
    }
}

} // namespace

QImage directFTransform(const QImage &image, int step, const QList<float> &kernel)
{
    if (image.isNull())
        return QImage();
    std::vector<float> coefficients;
    transformkernels::DirectJob job;
    if (!directJob(image.width(), image.height(), step, kernel, coefficients, job))
        return QImage();
    QImage components = newTransformImage(job.componentWidth, job.componentHeight, QImage::Format_ARGB32);
    if (components.isNull())
        return QImage();
    ScanLineSource source(image);
    job.fetchRow = &ScanLineSource::fetch;
    job.context = &source;
    job.out = reinterpret_cast<std::uint32_t *>(components.bits());
    job.outStride = components.bytesPerLine() / 4;
    return runDirectJob(job) ? components : QImage();
}

bool directFTransformRows(int width, int height, int step, const QList<float> &kernel,
                          transformkernels::FetchRow fetch, void *source, transformkernels::TakeRow take,
                          void *sink)
{
    std::vector<float> coefficients;
    transformkernels::DirectJob job;
    if (!directJob(width, height, step, kernel, coefficients, job))
        return false;
    std::vector<std::uint32_t> row(std::size_t(job.componentWidth) + 16);
    job.fetchRow = fetch;
    job.context = source;
    job.out = row.data();
    job.outStride = 0;
    job.takeRow = take;
    job.sinkContext = sink;
    return runDirectJob(job);
}
