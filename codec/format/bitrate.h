#ifndef BITRATE_H
#define BITRATE_H

#include <QtGlobal>

namespace veltrano {

// The bit rate of a compressed file, bits per pixel, computed the way each
// part of the project prints it.

// How the bit count of a file is divided by the pixel count. The window,
// ftjpeg, the rate-distortion study and the JPEG quality sweep divide in
// double precision; the colour batch and the compress/decompress
// worker divide in single precision and widen the quotient.
enum class BitRateDivision { Double, Single };

// Bits per pixel of a file of `bytes` bytes that stands for an image of
// `pixels` pixels: bytes * 8 as a 64-bit integer, converted to single
// precision, divided by the pixel count as `division` says. Without pixels
// the rate is infinite for a file with bytes and a quiet NaN for an empty or
// missing one (never the negative NaN a hardware 0/0 gives, which a stream
// would print as "-nan").
double bitsPerPixel(qint64 bytes, qint64 pixels, BitRateDivision division = BitRateDivision::Double);

} // namespace veltrano

#endif // BITRATE_H
