// The jobs of rowtransforms.h: their checks and set-up (with the test for a
// separable kernel and the weights table's indexes), the one choice of
// kernels by instruction set (currentKernels) and the one set-up of a job on
// rows given and taken one at a time (runRowJob).

#include "codec/transform/rowtransforms.h"

#include "codec/transform/weightsfile.h"

#include "codec/dsp/cpufeatures.h"
#include "codec/dsp/transformkernels.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

namespace veltrano {

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

// The kernels of one instruction set.
struct Kernels
{
    bool (*direct)(const transformkernels::DirectJob &);
    bool (*inverse)(const transformkernels::InverseJob &);
};

// The kernels of the instruction set the transforms use now
// (transformSimdLevel()): the one place that chooses among them.
Kernels currentKernels()
{
    switch (transformSimdLevel()) {
#ifdef VELTRANO_X86_SIMD
    case SimdLevel::Avx2:
        return {transformkernels::directAvx2, transformkernels::inverseAvx2};
    case SimdLevel::Sse2:
        return {transformkernels::directSse2, transformkernels::inverseSse2};
#endif
    default:
        return {transformkernels::directScalar, transformkernels::inverseScalar};
    }
}

// Runs a job on rows given and taken one at a time: fetch reads the input,
// each output row, of rowWidth pixels, is built in one buffer and handed to
// take; run is runDirectJob or runInverseJob.
template <typename Job>
bool runRowJob(Job &job, int rowWidth, transformkernels::FetchRow fetch, void *source,
               transformkernels::TakeRow take, void *sink, bool (*run)(const Job &))
{
    std::vector<std::uint32_t> row(std::size_t(rowWidth) + 16);
    job.fetchRow = fetch;
    job.context = source;
    job.out = row.data();
    job.outStride = 0;
    job.takeRow = take;
    job.sinkContext = sink;
    return run(job);
}

// The normalised distance factor: 20 / step held in single precision.
float distanceScale(int step)
{
    return static_cast<float>(20.0 / step);
}

// The table index of a node at `distance` pixels. Computed in 64 bits so that
// absurd radii give a large index (and are refused) instead of overflowing.
qint64 weightIndex(int distance, float scale)
{
    const float product = float(distance) * scale;
    return static_cast<qint64>(std::ceil(double(product)));
}

} // namespace

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
    return currentKernels().direct(job);
}

bool directFTransformRows(int width, int height, int step, const QList<float> &kernel,
                          transformkernels::FetchRow fetch, void *source, transformkernels::TakeRow take,
                          void *sink)
{
    std::vector<float> coefficients;
    transformkernels::DirectJob job;
    if (!directJob(width, height, step, kernel, coefficients, job))
        return false;
    return runRowJob(job, job.componentWidth, fetch, source, take, sink, runDirectJob);
}

int requiredWeightCount(int width, int height, int step, int radius)
{
    if (width < 1 || height < 1 || step < 1 || radius < 0)
        return 0;
    // Node 0 is on every axis, so every distance up to min(radius, size - 1)
    // occurs; the index grows with the distance.
    const int longest = std::max(width, height) - 1;
    const int distance = std::min(radius, longest);
    const qint64 count = weightIndex(distance, distanceScale(step)) + 1;
    return count > INT_MAX ? INT_MAX : static_cast<int>(count);
}

bool inverseJob(int componentWidth, int componentHeight, int width, int height, int step, int radius,
                const QList<float> &weights, std::vector<float> &weightByDistance,
                transformkernels::InverseJob &job, QString *message)
{
    if (componentWidth < 1 || componentHeight < 1) {
        *message = QStringLiteral("no component image to expand");
        return false;
    }
    if (width < 1 || height < 1) {
        *message = QStringLiteral("invalid output size %1x%2").arg(width).arg(height);
        return false;
    }
    if (step < 1 || step > maxTransformStep) {
        *message = QStringLiteral("invalid node spacing %1 (must be from 1 to %2)").arg(step).arg(maxTransformStep);
        return false;
    }
    if (radius < 0) {
        *message = QStringLiteral("invalid reconstruction radius %1 (must be at least 0)").arg(radius);
        return false;
    }
    const int needed = requiredWeightCount(width, height, step, radius);
    if (weights.size() < needed) {
        *message = shortWeightsTableMessage(QString(), weights.size(), needed, step, radius);
        return false;
    }

    // No node lies farther away than the longer side, so a larger radius
    // changes nothing; every distance up to the cut radius that occurs is
    // covered by the length check above.
    const int longest = std::max(width, height) - 1;
    const int usedRadius = std::min(radius, longest);
    const float scale = distanceScale(step);
    weightByDistance.assign(std::size_t(usedRadius) + 1, 0.0f);
    for (int distance = 0; distance <= usedRadius; ++distance) {
        const qint64 index = weightIndex(distance, scale);
        if (index < weights.size())
            weightByDistance[std::size_t(distance)] = weights.at(int(index));
    }

    job = transformkernels::InverseJob{};
    job.componentWidth = componentWidth;
    job.componentHeight = componentHeight;
    job.width = width;
    job.height = height;
    job.step = step;
    job.radius = usedRadius;
    job.weightByDistance = weightByDistance.data();
    return true;
}

bool runInverseJob(const transformkernels::InverseJob &job)
{
    return currentKernels().inverse(job);
}

QString workingMemoryMessage(int width, int height)
{
    return QStringLiteral("cannot allocate the working memory for an image of %1x%2 pixels").arg(width).arg(height);
}

bool inverseFTransformRows(int componentWidth, int componentHeight, transformkernels::FetchRow fetch,
                           void *source, int width, int height, int step, int radius, const QList<float> &weights,
                           transformkernels::TakeRow take, void *sink, QString *error)
{
    std::vector<float> weightByDistance;
    transformkernels::InverseJob job;
    QString message;
    if (!inverseJob(componentWidth, componentHeight, width, height, step, radius, weights, weightByDistance, job,
                    &message)) {
        if (error)
            *error = message;
        return false;
    }
    if (!runRowJob(job, width, fetch, source, take, sink, runInverseJob)) {
        if (error)
            *error = workingMemoryMessage(width, height);
        return false;
    }
    return true;
}

} // namespace veltrano
