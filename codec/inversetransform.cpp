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

namespace {

// Checks the arguments and fills the kernels' job but for its rows' source
// and destination; false, with *message set, when they make no transform.
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
    switch (transformSimdLevel()) {
#ifdef VELTRANO_X86_SIMD
    case SimdLevel::Avx2:
        return transformkernels::inverseAvx2(job);
    case SimdLevel::Sse2:
        return transformkernels::inverseSse2(job);
#endif
    default:
        return transformkernels::inverseScalar(job);
    }
}

QString workingMemoryMessage(int width, int height)
{
    return QStringLiteral("cannot allocate the working memory for an image of %1x%2 pixels").arg(width).arg(height);
}

} // namespace

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
    std::vector<float> weightByDistance;
    transformkernels::InverseJob job;
    QString message;
    if (!inverseJob(components.width(), components.height(), width, height, step, radius, weights,
                    weightByDistance, job, &message))
        return fail(message);

    QImage output = newTransformImage(width, height, QImage::Format_ARGB32);
    if (output.isNull())
        return fail(QStringLiteral("cannot allocate an image of %1x%2 pixels").arg(width).arg(height));
    ScanLineSource source(components);
    job.fetchRow = &ScanLineSource::fetch;
    job.context = &source;
    job.out = reinterpret_cast<std::uint32_t *>(output.bits());
    job.outStride = output.bytesPerLine() / 4;
    if (!runInverseJob(job))
        return fail(workingMemoryMessage(width, height));
    return output;
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
    std::vector<std::uint32_t> row(std::size_t(width) + 16);
    job.fetchRow = fetch;
    job.context = source;
    job.out = row.data();
    job.outStride = 0;
    job.takeRow = take;
    job.sinkContext = sink;
    if (!runInverseJob(job)) {
        if (error)
            *error = workingMemoryMessage(width, height);
        return false;
    }
    return true;
}
