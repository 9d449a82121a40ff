#include "codec/qimage/inversetransform.h"

#include "codec/qimage/imagebuffer.h"
#include "codec/qimage/scanlinesource.h"

#include <vector>

namespace veltrano {

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

} // namespace veltrano
