#ifndef IMAGELIMITS_H
#define IMAGELIMITS_H

#include <QtGlobal>

namespace veltrano {

// The size limits of every image reader, per format and path, in one place
// (README.md, "Bad inputs", quotes this table). A size beyond them is refused
// from the file's header, before anything is allocated for it, with the
// limit of the path that refused it in the message.
//
// | format            | streamed (ftjpeg direct, inverse, compress, decompress) | in memory (window, --decoded, rd, Python, other formats) |
// |-------------------|----------------------------------------------------------|-----------------------------------------------------------|
// | JPEG              | 65535 a side (the format)                                | maxDecodedPixels                                          |
// | PNG               | pngMaxSide a side (libpng's reading limit)               | maxDecodedPixels, and pngMaxSide a side                   |
// | PPM, PGM          | INT_MAX a side, maxStreamedPixels in all                 | maxDecodedPixels                                          |
// | BMP, others       | not streamed                                             | maxDecodedPixels                                          |
//
// Both paths hold JPEG and PNG streams to their byte counts and chunk
// lengths, and every image to the memory the process has left
// (checkImageHeader, imageheader.h); the streamed path needs memory for a
// few rows only.

// Images decoded or expanded whole are held to this many pixels (1 GiB of
// ARGB32).
constexpr qint64 maxDecodedPixels = qint64(1) << 28;

// Images read row by row are held to this many pixels.
constexpr qint64 maxStreamedPixels = qint64(1) << 40;

// The widest and tallest PNG libpng is asked to read, in both paths (its
// own default, set explicitly so that the table holds whatever libpng was
// built with).
constexpr quint32 pngMaxSide = 1000000;

} // namespace veltrano

#endif // IMAGELIMITS_H
