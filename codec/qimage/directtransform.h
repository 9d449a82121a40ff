#ifndef DIRECTTRANSFORM_H
#define DIRECTTRANSFORM_H

#include <QImage>
#include <QList>

#include "codec/transform/rowtransforms.h"

namespace veltrano {

// Direct F-transform: reduces an image to its component image, one opaque
// ARGB32 pixel per grid node, W / step x H / step pixels. The kernel radius is
// kernel.size() - 1. Every channel is the single-precision accumulation
// (pixel columns outer, rows inner) divided by the weight sum and truncated;
// a weight sum of 0 (a kernel of zeros) or a quotient that is not finite or
// beyond the range of int gives the channel 0.
// A node row past the last component row is stored in the last row; a node
// column past the last component column is dropped.
//
// Returns a null image when the input is null, narrower or lower than step,
// when step < 1 or when the kernel is empty.
QImage directFTransform(const QImage &image, int step, const QList<float> &kernel);

} // namespace veltrano

#endif // DIRECTTRANSFORM_H
