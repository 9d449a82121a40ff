#ifndef REGIONENCODER_H
#define REGIONENCODER_H

#include "codec/region/regionimage.h"

#include <cstdint>

namespace veltrano {

// Encodes width x height pixels (0xAARRGGBB, alpha ignored, `stride` pixels
// from one row to the next) into a block file: converts to Y, Cb, Cr (BT.601,
// full range), partitions every root of regionRootSide by the parameters
// (see RegionParameters), takes each leaf's direct F-transform (raised-cosine
// basis of radius = spacing, the project's kernel) at its spacings and
// quantises the components to the nearest multiple of the step (ties to
// even). Works one row of roots at a time, so its memory beyond the result is
// a few rows of roots. False with *error for bad parameters or sizes.
bool encodeRegionImage(const uint32_t *pixels, qint64 stride, int width, int height,
                       const RegionParameters &parameters, RegionImage *image, QString *error);

// The quantised direct F-transform of one block of a plane (`stride` floats
// from one row to the next) at a spacing, nodes row by row into grid.
void directRegionGrid(const float *plane, qint64 stride, int width, int height, int spacing, float step,
                      int32_t *grid);

} // namespace veltrano

#endif // REGIONENCODER_H
