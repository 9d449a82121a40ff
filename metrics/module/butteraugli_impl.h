#ifndef BUTTERAUGLI_IMPL_H
#define BUTTERAUGLI_IMPL_H

#include <QImage>
#include <QString>

namespace veltrano {

// Butteraugli through libjxl's butteraugli API, built into the study-codec
// module (study/codecs/module/) beside the codecs that need the same libjxl:
// what butteraugliDistance of metrics/butteraugli.h forwards to, and behaves
// as, both figures NaN on failure. In the namespace of the module's other
// implementations, so that it never meets the forwarder.
namespace moduleimpl {

bool butteraugliDistance(const QImage &reference, const QImage &test, double *pNorm3, double *max,
                         QString *error);

} // namespace moduleimpl

} // namespace veltrano

#endif // BUTTERAUGLI_IMPL_H
