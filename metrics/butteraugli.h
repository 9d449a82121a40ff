#ifndef BUTTERAUGLI_H
#define BUTTERAUGLI_H

#include <QImage>
#include <QString>

namespace veltrano {

// Forwards to its implementation (module/butteraugli_impl.cpp), built into
// the study-codec module, which is loaded at the first use
// (study/codecs/module/studycodecs.h), since libjxl must not be loaded at the
// start of every program.

// The Butteraugli distance of libjxl's butteraugli API between a reference
// and a test image, both read as 8-bit sRGB (QImage::pixel, alpha ignored),
// an intensity target of 80 nits (an ordinary display) and libjxl's default
// high-frequency asymmetry, on one thread.
struct ButteraugliDistance
{
    // The 3-norm of the distance map and its largest value. NaN when not
    // computed.
    double pNorm3 = 0.0;
    double max = 0.0;
};

// False, with *errorMessage set when given, for null images, images of
// different sizes, or when libjxl cannot compute the distance (or the
// study-codec module that calls it cannot be loaded: studycodecs.h).
bool butteraugliDistance(const QImage &reference, const QImage &test, ButteraugliDistance *distance,
                         QString *errorMessage = nullptr);

} // namespace veltrano

#endif // BUTTERAUGLI_H
