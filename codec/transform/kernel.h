#ifndef KERNEL_H
#define KERNEL_H

#include <QList>

namespace veltrano {

// The raised-cosine basis of the direct F-transform: radius + 1 coefficients,
// A[k] = (1 + cos(pi * k / n)) / 2 for k = 0 .. n. The argument is formed as
// (k / float(n)) times the double constant pi in extended precision, rounded
// to double; the coefficient is stored as float. For n = 2: 1, 0.5, 0.
// A radius below 1 gives an empty list.
QList<float> makeRaisedCosineKernel(int radius);

} // namespace veltrano

#endif // KERNEL_H
