#ifndef REGIONENCODER_H
#define REGIONENCODER_H

#include "codec/region/regionimage.h"

#include <QByteArray>

#include <cstdint>
#include <functional>

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

// The same in steps: an image with the header fields and no blocks (false
// with *error for bad parameters or sizes), then each row of roots in turn,
// from `pixels` (its first row) on, appended to the image's blocks.
bool startRegionImage(int width, int height, const RegionParameters &parameters, RegionImage *image,
                      QString *error);
void encodeRegionRootRow(const uint32_t *pixels, qint64 stride, int rowBase, RegionImage *image);

// Encodes an image whose rows come from row(y) (y in order, each row valid
// until the next call; null to stop) straight into the bytes of a block file,
// written a chunk at a time through write (false to stop), in memory bounded
// by a row of roots and a chunk (RegionFileWriter). *header is then the
// file's header, which goes before the chunks. False when either callback
// stopped, or with *error for bad parameters or sizes. The bytes are those
// of writeRegionFile for encodeRegionImage's blocks.
bool encodeRegionRows(int width, int height, const RegionParameters &parameters,
                      const std::function<const uint32_t *(int y)> &row,
                      const std::function<bool(const QByteArray &bytes)> &write, QByteArray *header, QString *error);

// The quantised direct F-transform of one block of a plane (`stride` floats
// from one row to the next) at a spacing, nodes row by row into grid.
void directRegionGrid(const float *plane, qint64 stride, int width, int height, int spacing, float step,
                      int32_t *grid);

} // namespace veltrano

#endif // REGIONENCODER_H
