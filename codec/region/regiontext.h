#ifndef REGIONTEXT_H
#define REGIONTEXT_H

#include "codec/region/regionimage.h"

#include <QByteArray>

namespace veltrano {

// The text block file, for people to read and diff: a few header lines, then
// one block a line (position, nominal side, clipped size, luma spacing and
// the three grids of quantiser indexes). The README's table gives the layout.

bool isRegionTextFile(const QByteArray &start);

QByteArray writeRegionText(const RegionImage &image);

// Reads a text block file, checked line by line and as a whole (the blocks
// must be the quadtree partition); false with *error naming the line and the
// fault.
bool readRegionText(const QByteArray &text, RegionImage *image, QString *error, qint64 maxPixels);

} // namespace veltrano

#endif // REGIONTEXT_H
