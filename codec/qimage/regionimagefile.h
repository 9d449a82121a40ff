#ifndef REGIONIMAGEFILE_H
#define REGIONIMAGEFILE_H

#include "codec/region/regionimage.h"
#include "codec/streaming/streamingcodec.h"

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

// The region codec's file-to-file operations done row of roots by row, as
// streamingcodec.h does the hybrid ones: the same bytes as the in-memory
// operations (an image read whole, encodeRegionQImage and writeRegionFile;
// decodeRegionBlockFile and writeImageFile), in memory that grows with the
// image's width only, and NotStreamed, with nothing written, for what they
// leave to those (inputs the row readers do not take, or that turn out
// damaged in a way only Qt's reader puts in words; text block files; output
// formats the row writers do not write). Failed with *error naming the fault.

// The compressed block file of an image; *pixels receives its pixel count,
// *bytes the file's size.
StreamOutcome streamRegionCompress(const QString &input, const QString &output, const RegionParameters &parameters,
                                   qint64 *pixels, qint64 *bytes, QString *error);

// A compressed block file decoded to an image file of the given format.
StreamOutcome streamRegionDecompress(const QString &input, const QString &output, const QByteArray &format,
                                     QString *error);

} // namespace veltrano

#endif // REGIONIMAGEFILE_H
