#ifndef AVIFCODEC_H
#define AVIFCODEC_H

#include <QByteArray>
#include <QImage>
#include <QString>

namespace veltrano {

// The study's API of AVIF: these functions forward to its implementation in
// the study-codec module (module/avifcodec_impl.cpp), which is loaded at the
// first use (module/studycodecs.h).

// AVIF through libavif with the libaom encoder at speed 6, one thread:
// 8-bit full-range YUV with BT.601 coefficients, 4:2:0 for a colour image
// and 4:0:0 (luma only) for a grey one. Quality 0 to 100 sets the AV1
// quantizer, smallest and largest alike, to
// avifQuantizer(quality) = ((100 - quality) * 63 + 50) / 100 (0 lossless-
// near, 63 coarsest), the mapping of later libavif versions' quality.
// Empty, with *error set, on failure (no aom encoder in libavif included).
QByteArray encodeAvif(const QImage &image, int quality, QString *error);

int avifQuantizer(int quality);

// Decodes to Format_RGB32 (Format_Grayscale8 for a 4:0:0 file) with
// libavif's default chroma upsampling, as avifdec does; null, with *error
// set, on failure.
QImage decodeAvif(const QByteArray &data, QString *error);

} // namespace veltrano

#endif // AVIFCODEC_H
