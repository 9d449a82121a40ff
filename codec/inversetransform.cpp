#include "inversetransform.h"

#include "weightsfile.h"

#include "cpufeatures.h"
#include "imagebuffer.h"
#include "scanlinesource.h"
#include "transformkernels.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

namespace {

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

QImage inverseFTransform(const QImage &components, int width, int height, int step, int radius,
                         const QList<float> &weights, QString *error)
{
    auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return QImage();
    };
    if (components.isNull())
        return fail(QStringLiteral("no component image to expand"));
    if (width < 1 || height < 1)
        return fail(QStringLiteral("invalid output size %1x%2").arg(width).arg(height));
    if (step < 1 || step > maxTransformStep)
        return fail(QStringLiteral("invalid node spacing %1 (must be from 1 to %2)").arg(step).arg(maxTransformStep));
    if (radius < 0)
        return fail(QStringLiteral("invalid reconstruction radius %1 (must be at least 0)").arg(radius));
    const int needed = requiredWeightCount(width, height, step, radius);
    if (weights.size() < needed)
        return fail(shortWeightsTableMessage(QString(), weights.size(), needed, step, radius));

    QImage output = newTransformImage(width, height, QImage::Format_ARGB32);
    if (output.isNull())
        return fail(QStringLiteral("cannot allocate an image of %1x%2 pixels").arg(width).arg(height));

    // No node lies farther away than the longer side, so a larger radius
    // changes nothing; every distance up to the cut radius that occurs is
    // covered by the length check above.
    const int longest = std::max(width, height) - 1;
    const int usedRadius = std::min(radius, longest);
    const float scale = distanceScale(step);
    std::vector<float> weightByDistance(std::size_t(usedRadius) + 1, 0.0f);
    for (int distance = 0; distance <= usedRadius; ++distance) {
        const qint64 index = weightIndex(distance, scale);
        if (index < weights.size())
            weightByDistance[std::size_t(distance)] = weights.at(int(index));
    }

    ScanLineSource source(components);
    transformkernels::InverseJob job{};
    job.fetchRow = &ScanLineSource::fetch;
    job.context = &source;
    job.componentWidth = components.width();
    job.componentHeight = components.height();
    job.width = width;
    job.height = height;
    job.step = step;
    job.radius = usedRadius;
    job.weightByDistance = weightByDistance.data();
    job.out = reinterpret_cast<std::uint32_t *>(output.bits());
    job.outStride = output.bytesPerLine() / 4;

    bool done = false;
    switch (transformSimdLevel()) {
#ifdef VELTRANO_X86_SIMD
    case SimdLevel::Avx2:
        done = transformkernels::inverseAvx2(job);
        break;
    case SimdLevel::Sse2:
        done = transformkernels::inverseSse2(job);
        break;
#endif
    default:
        done = transformkernels::inverseScalar(job);
        break;
    }
    if (!done)
        return fail(QStringLiteral("cannot allocate the working memory for an image of %1x%2 pixels")
                        .arg(width)
                        .arg(height));
    return output;
}
