#ifndef INVERSETRANSFORM_H
#define INVERSETRANSFORM_H

#include "codec/transform/rowtransforms.h"

#include <QImage>
#include <QList>
#include <QString>

namespace veltrano {

// Inverse F-transform: expands a component image to width x height opaque
// ARGB32 pixels. Row terms (outer) times column terms (inner) are accumulated
// in single precision, node indexes clamped to the component image's last
// column and row, weights looked up in the table. A channel whose weight sum
// is 0, or whose quotient is not finite or beyond the range of int (NaN,
// infinite or huge entries in the table), is 0; other channels keep the low
// 8 bits of the truncated quotient.
//
// Returns a null image, and sets *error when given, if the components are
// null, the size is not positive, step is outside 1 .. maxTransformStep,
// radius < 0, or the table is
// shorter than requiredWeightCount() (the message says how many entries were
// needed and how many the table has). Nothing is computed in that case.
QImage inverseFTransform(const QImage &components, int width, int height, int step, int radius,
                         const QList<float> &weights, QString *error = nullptr);

} // namespace veltrano

#endif // INVERSETRANSFORM_H
