#include "codec/transform/kernel.h"

#include <cmath>

namespace veltrano {

QList<float> makeRaisedCosineKernel(int radius)
{
    QList<float> kernel;
    if (radius < 1)
        return kernel;
    kernel.reserve(radius + 1);
    const long double pi = 3.141592653589793;
    for (int k = 0; k <= radius; ++k) {
        // The ratio is a single-precision quotient; its product with pi is
        // formed in extended precision and only then rounded to double.
        const float ratio = float(k) / float(radius);
        const double argument = static_cast<double>(static_cast<long double>(ratio) * pi);
        kernel.append(static_cast<float>((1.0 + std::cos(argument)) / 2.0));
    }
    return kernel;
}

} // namespace veltrano
