#ifndef REGIONEXPANSION_H
#define REGIONEXPANSION_H

#include "codec/region/regionimage.h"

#include <cstdint>
#include <vector>

namespace veltrano {

// The raised-cosine basis at every node spacing a block can have (powers of
// two up to 1024): table(s)[d] = A(d / s) of makeRaisedCosineKernel(s), for
// d = 0 .. s; A(1) = 0. Along a whole row of up to 1024 pixels it is also
// laid out per pixel: leftWeights(s)[x] = A[x % s], the weight of the node
// at or before x, and rightWeights(s)[x] = A[s - x % s], that of the next.
class RegionKernels
{
public:
    static constexpr int maxLevel = 10;

    RegionKernels();
    const float *table(int spacing) const { return m_tables[levelOf(spacing)].data(); }
    const float *leftWeights(int spacing) const { return m_left[levelOf(spacing)].data(); }
    const float *rightWeights(int spacing) const { return m_right[levelOf(spacing)].data(); }
    // The least level whose spacing 2^level is at least `spacing`.
    static int levelOf(int spacing) { return spacing <= 1 ? 0 : 32 - __builtin_clz(unsigned(spacing - 1)); }

private:
    std::vector<float> m_tables[maxLevel + 1];
    std::vector<float> m_left[maxLevel + 1];
    std::vector<float> m_right[maxLevel + 1];
};

// Inverse F-transform of one quantised grid of nodesX x nodesY nodes at the
// given spacing over a width x height extent, into out (width x height,
// row by row). A node value is float(index) * step. A pixel at dx, dy past
// nodes (i, j) (i = x / s, dx = x - i s) is
//     A[dy] * (A[dx] * g(i, j) + A[s - dx] * g(i + 1, j))
//   + A[s - dy] * (A[dx] * g(i, j + 1) + A[s - dx] * g(i + 1, j + 1)),
// in single precision, in that order, where a node past the last one reads
// as the last one (its weight is then 0).
void expandRegionGrid(const RegionKernels &kernels, const int32_t *grid, int nodesX, int nodesY, int spacing,
                      float step, int width, int height, float *out, std::vector<float> &scratch);

// Converts a block's Y, Cb, Cr (BT.601, full range, chroma about 128) to
// opaque 0xFFRRGGBB pixels, rounded to the nearest and clamped to 0 .. 255:
// R = Y + 1.402 (Cr - 128), G = Y - 0.344136 (Cb - 128) - 0.714136 (Cr - 128),
// B = Y + 1.772 (Cb - 128), in single precision, in that order.
void convertRegionColours(const float *luma, const float *cb, const float *cr, int count, uint32_t *pixels);

// Decodes a whole block file into pixels (width x height, `stride` pixels
// from one row to the next).
void expandRegionImage(const RegionImage &image, uint32_t *pixels, qint64 stride);

// The same for the blocks from index `first` on only; `pixels` holds the
// image's rows from firstRow on.
void expandRegionBlocks(const RegionImage &image, int first, uint32_t *pixels, qint64 stride, int firstRow = 0);

} // namespace veltrano

#endif // REGIONEXPANSION_H
