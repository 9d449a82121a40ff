#ifndef TRANSFORMKERNELS_H
#define TRANSFORMKERNELS_H

// The inner loops of the direct and inverse F-transform, built once per
// instruction set (transformkernels_scalar.cpp, _sse2.cpp, _avx2.cpp from the
// templates in transformkernels_direct.h and transformkernels_inverse.h).
// This header holds plain data only: the AVX2 unit is compiled with other
// code-generation flags and must share no inline code with the rest of the
// program.

#include <cstddef>
#include <cstdint>

namespace veltrano {

namespace transformkernels {

// Returns row y of the input as 32-bit words with red in bits 16 to 23, green
// in 8 to 15 and blue in 0 to 7, as QImage::pixel() gives them. The row stays
// valid until the next call.
using FetchRow = const std::uint32_t *(*)(void *context, int y);

// Takes output row y once it is complete; returns false to stop the
// transform, which then returns false too. A job with a row sink writes every
// row at out (its outStride is 0), so only one row of output is ever held.
using TakeRow = bool (*)(void *context, int y, const std::uint32_t *row);

struct DirectJob
{
    FetchRow fetchRow;
    void *context;
    int width;  // of the input image
    int height;
    int step;   // node spacing h >= 1
    int radius; // kernel radius n >= 0
    const float *kernel; // radius + 1 coefficients
    int componentWidth;  // width / step >= 1
    int componentHeight; // height / step >= 1
    std::uint32_t *out;  // component row 0
    std::ptrdiff_t outStride; // words from one component row to the next
    // Every product and partial sum of the accumulation is exact in single
    // precision (see kernelSumsAreExact in codec/transform/rowtransforms.cpp),
    // so the sums may be formed in any order: a row pass and a column pass.
    bool separable;
    // The kernel is 1, 0.5 (then zeros) and the step 2, the hybrid codec's:
    // all sums are integers divided by 4 and are formed as such.
    bool hybrid;
    TakeRow takeRow;   // null: the rows stay at out
    void *sinkContext;
};

struct InverseJob
{
    FetchRow fetchRow;
    void *context;
    int componentWidth;  // >= 1
    int componentHeight; // >= 1
    int width;           // of the output, >= 1
    int height;
    int step;   // node spacing h >= 1
    int radius; // >= 0, at most max(width, height) - 1
    // The weight of a node at each distance 0 .. radius, already looked up
    // in the weights table.
    const float *weightByDistance;
    std::uint32_t *out;
    std::ptrdiff_t outStride;
    TakeRow takeRow;   // null: the rows stay at out
    void *sinkContext;
};

// Each returns false when its working memory cannot be allocated or its row
// sink stopped it.
bool directScalar(const DirectJob &job);
bool inverseScalar(const InverseJob &job);
#ifdef VELTRANO_X86_SIMD
bool directSse2(const DirectJob &job);
bool inverseSse2(const InverseJob &job);
bool directAvx2(const DirectJob &job);
bool inverseAvx2(const InverseJob &job);
#endif

} // namespace transformkernels

} // namespace veltrano

#endif // TRANSFORMKERNELS_H
