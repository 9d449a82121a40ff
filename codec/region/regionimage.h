#ifndef REGIONIMAGE_H
#define REGIONIMAGE_H

#include <QString>
#include <QVector>

#include <cstdint>
#include <vector>

namespace veltrano {

// The region codec's parameters, named as the study's columns.
//
// - minArea: the smallest block, in pixels. A block of side S may split into
//   four of side S/2 only while (S/2)^2 >= minArea, so the smallest side is
//   the least power of two whose square reaches minArea (at most the root's).
// - maxDiff: the split criterion, in grey levels. A block is good enough at a
//   node spacing when the root mean square of the differences between the
//   source and the block's decoded expansion (quantised components), pooled
//   over its pixels and the Y, Cb and Cr channels, is at most maxDiff. It also
//   sets the quantiser: luma step = lumaStepPerMaxDiff * maxDiff, chroma step
//   chromaStepFactor times that.
// - backRejoin: 0 or 1. With 1, after the top-down split, four sibling
//   leaves are rejoined into their parent when the parent, at some spacing,
//   stays within maxDiff with no more components than the four together;
//   repeated up the tree.
// - edge: in grey levels, 0 for off. A block holding two neighbouring pixels
//   whose luma differs by more than edge is split down to the smallest side
//   whatever maxDiff says, and never rejoined, so strong edges get small
//   blocks. At the image border blocks are always clipped: a block keeps its
//   nominal side and position, covers only the pixels inside the image, and
//   its nodes span the clipped extent.
// - sim: a leaf whose three component grids have the shape of the previous
//   leaf's (coding order) and lie within componentGridDistance sim of them
//   (pooled over the channels) is coded as a copy of it. 0 copies exact
//   repeats only, which loses nothing.
struct RegionParameters
{
    int minArea = 4;
    float maxDiff = 2.0f;
    int backRejoin = 1;
    float edge = 0.0f;
    float sim = 0.0f;
};

// The quadtree roots are squares of this side, in raster order.
constexpr int regionRootSide = 64;
constexpr float lumaStepPerMaxDiff = 1.0f;
constexpr float chromaStepFactor = 1.0f;

// One leaf of the partition: a square of nominal side `side` (a power of
// two) at (x, y), clipped to width x height at the image border. Its luma
// grid has node spacing lumaSpacing, its chroma grids chromaSpacing =
// min(2 * lumaSpacing, side); a grid over an extent e at spacing s has
// ceil((e - 1) / s) + 1 nodes along it, at 0, s, 2s, ... from the block's
// corner. components[offset ...] holds the Y grid, then Cb, then Cr, each row
// by row, as integers (quantiser indexes).
struct RegionBlock
{
    int x = 0;
    int y = 0;
    int side = 1;
    int width = 1;
    int height = 1;
    int lumaSpacing = 1;
    qint64 offset = 0;
};

// A decoded or encoded block file: the partition in coding order (roots in
// raster order, each root's leaves in Z order: top left, top right, bottom
// left, bottom right) and its quantised components.
struct RegionImage
{
    int width = 0;
    int height = 0;
    int rootSide = regionRootSide;
    int minSide = 1;
    float lumaStep = 1.0f;
    float chromaStep = 1.0f;
    RegionParameters parameters;
    QVector<RegionBlock> blocks;
    std::vector<int32_t> components;
};

// Nodes of a grid along an extent: ceil((extent - 1) / spacing) + 1. The
// decoders count them several times for every block, and spacings are
// powers of two in every sound block, so those divide by a shift.
inline int regionNodeCount(int extent, int spacing)
{
    if (spacing > 0 && (spacing & (spacing - 1)) == 0)
        return ((extent - 1 + spacing - 1) >> __builtin_ctz(uint32_t(spacing))) + 1;
    return (extent - 1 + spacing - 1) / spacing + 1;
}
inline int regionChromaSpacing(int side, int lumaSpacing) { return qMin(2 * lumaSpacing, side); }
// Components a block holds, over its three grids.
inline qint64 regionBlockComponentCount(const RegionBlock &block)
{
    const int chroma = regionChromaSpacing(block.side, block.lumaSpacing);
    return qint64(regionNodeCount(block.width, block.lumaSpacing)) * regionNodeCount(block.height, block.lumaSpacing)
        + 2 * qint64(regionNodeCount(block.width, chroma)) * regionNodeCount(block.height, chroma);
}

// The smallest block side for a min area (see RegionParameters).
int regionMinSide(int minArea, int rootSide);

// Checks parameters; false with *error naming the bad one.
bool checkRegionParameters(const RegionParameters &parameters, QString *error);

// Drops every block but the last, which keeps its components at offset 0:
// what a coder that works a row of roots at a time keeps of a row.
void keepLastRegionBlock(RegionImage *image);

// Checks that the blocks of `image` form its quadtree partition in coding
// order, with sides no smaller than minSide, spacings powers of two up to the
// side and the offsets consecutive; false with *error naming the first
// block at fault.
bool checkRegionPartition(const RegionImage &image, QString *error);

} // namespace veltrano

#endif // REGIONIMAGE_H
