#include "codec/qimage/directtransform.h"

#include "codec/qimage/imagebuffer.h"
#include "codec/qimage/scanlinesource.h"

#include <vector>

namespace veltrano {

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

} // namespace veltrano
