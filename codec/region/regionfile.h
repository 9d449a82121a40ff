#ifndef REGIONFILE_H
#define REGIONFILE_H

#include "codec/region/regionimage.h"

#include <QByteArray>

#include <functional>

namespace veltrano {

// The compressed block file: a 49-byte header (magic "FTREGION", version,
// sizes, quantiser steps, the parameters it was made with) and the partition
// and quantised components, coded with adaptive context modelling: version 3
// by two interleaved rANS states and raw bits (interleavedranscoder.h),
// version 2 by a range coder (binaryrangecoder.h). Both versions code the
// same decisions, and both are read; version 3 is written. They differ in
// one context rule: version 3 chooses a residual's context by its
// neighbours' tokens, version 2 by their magnitudes.
// The README's table gives the layout.

constexpr int regionFileHeaderSize = 49;
constexpr int regionFileVersion = 3;

// True when data starts with the block file's magic bytes.
bool isRegionFile(const QByteArray &start);

// The bytes of a block file for a checked image (checkRegionPartition), of
// version 3, or of version 2 when `version` is 2.
QByteArray writeRegionFile(const RegionImage &image, int version = regionFileVersion);

// Reads a block file. Every header field is checked before anything is
// allocated, images beyond maxPixels are refused from the header, and damaged
// block data are refused; false with *error naming the fault (without the
// file's name), e.g. "its header gives a chroma step of nan".
bool readRegionFile(const QByteArray &data, RegionImage *image, QString *error, qint64 maxPixels);

// The same, one row of roots at a time: begin gets the checked header (no
// blocks yet) and may refuse with *error (say, when the image does not fit in
// memory); rowDone then gets each row of roots as it is decoded, its new
// blocks from index `first` on (the block before them is the previous row's
// last). Memory holds one row of roots' components.
bool decodeRegionFile(const QByteArray &data, qint64 maxPixels, QString *error,
                      const std::function<bool(const RegionImage &header, QString *error)> &begin,
                      const std::function<void(const RegionImage &rows, int first)> &rowDone);

} // namespace veltrano

#endif // REGIONFILE_H
