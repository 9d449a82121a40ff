#ifndef PIXELMATH_H
#define PIXELMATH_H

#include <QRgb>

#include <cmath>

// One output channel of a transform: the single-precision quotient of a
// weighted colour sum and its weight sum, truncated toward zero and taken to
// its low 8 bits (never clamped). A zero weight sum, a non-finite quotient or
// one beyond the range of int yields 0, so no division by zero or undefined
// conversion can happen.
inline int channelFromSums(float colourSum, float weightSum)
{
    if (weightSum == 0.0f)
        return 0;
    const float quotient = colourSum / weightSum;
    if (!(std::fabs(quotient) < 2147483648.0f))
        return 0;
    return static_cast<int>(quotient) & 0xFF;
}

inline QRgb opaquePixel(int red, int green, int blue)
{
    return 0xFF000000u | (static_cast<unsigned>(red) << 16) | (static_cast<unsigned>(green) << 8)
        | static_cast<unsigned>(blue);
}

#endif // PIXELMATH_H
