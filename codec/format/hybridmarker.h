#ifndef HYBRIDMARKER_H
#define HYBRIDMARKER_H

#include "codec/format/imagelimits.h"

#include <QByteArray>
#include <QString>

class QIODevice;

namespace veltrano {

// The mark that tells a hybrid JPEG file from a plain one, how it is found
// in a file's first line and how it is set, on disk or in memory. The image
// size limits (imagelimits.h) come with it: users of the hybrid codec take
// them from here or through qimage/hybridjpeg.h.

// A hybrid JPEG file is the JFIF file of a component image (step 2, kernel
// radius 2) whose byte 12, the JFIF minor version, is set to this marker.
constexpr char hybridMarker = 0x04;
constexpr int hybridMarkerOffset = 12;

// The resolution (dots per metre, 72 dpi) of the component image written into
// a hybrid file and of every image the codec decodes from one.
constexpr int hybridDotsPerMeter = 2835;

// The first line of a file: the bytes up to and including the first 0x0A, or
// up to the end, but at most maxFirstLineBytes of them (a file of zeros has
// no line end at all). Only byte 12 of the line is ever looked at.
constexpr qint64 maxFirstLineBytes = 4096;
QByteArray readFirstLine(QIODevice &device);

// True when the first line holds at least 13 bytes and byte 12 is the marker.
bool isHybridJpeg(const QByteArray &firstLine);

// True when data, the start of a file or all of it, is a JPEG stream (it
// begins with the start-of-image marker) marked as hybrid.
bool isHybridJpegData(const QByteArray &data);

// Marks a JPEG file just written as hybrid: only byte 12 changes. A file that
// cannot be opened, or whose first line is shorter than 13 bytes, is left
// untouched. The codec's own writers mark the bytes before they are written
// (markHybridJpegData); only the tests and the hybrid fuzzer mark a file in
// place.
void markHybridJpeg(const QString &fileName);

// The same marking applied to the bytes of a JPEG stream in memory: byte 12
// is set when the first line holds at least 13 bytes; otherwise nothing
// changes. Returns whether the data is marked afterwards.
bool markHybridJpegData(QByteArray &data);

} // namespace veltrano

#endif // HYBRIDMARKER_H
