#ifndef REGIONIMAGEFILE_H
#define REGIONIMAGEFILE_H

#include "codec/region/regionimage.h"

#include <QImage>
#include <QString>

namespace veltrano {

// The region codec (codec/region/) on QImage and on files.

// Encodes an image (alpha ignored); false with *error.
bool encodeRegionQImage(const QImage &image, const RegionParameters &parameters, RegionImage *blocks,
                        QString *error);

// The pixels of a block file: an opaque ARGB32 image; null with *error when
// there is not memory enough for it.
QImage expandRegionQImage(const RegionImage &blocks, QString *error);

// Whether the file is a regular file that starts as a compressed or text
// block file.
bool isRegionBlockFile(const QString &fileName);

// Reads a compressed or a text block file, telling them apart by their first
// bytes; only regular files, the pixel limit and every check of the readers.
// False with *error naming the file and the fault, e.g. "cannot decode
// a.ftr: its block data end early: the file is damaged or truncated".
bool readRegionBlockFile(const QString &fileName, RegionImage *blocks, QString *error);

// Reads a block file and expands it: the image Open image shows.
QImage decodeRegionBlockFile(const QString &fileName, QString *error);

} // namespace veltrano

#endif // REGIONIMAGEFILE_H
