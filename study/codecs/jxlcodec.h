#ifndef JXLCODEC_H
#define JXLCODEC_H

#include <QByteArray>
#include <QImage>
#include <QString>

namespace veltrano {

// The study's API of JPEG XL: these functions forward to its implementation in
// the study-codec module (module/jxlcodec_impl.cpp), which is loaded at the
// first use (module/studycodecs.h).

// Lossy JPEG XL through libjxl: VarDCT in the XYB colour space (no chroma
// subsampling), effort 7 (libjxl's default), one thread, the source tagged
// sRGB, one colour channel for a grey image. Quality 0 to 99 sets the
// Butteraugli distance jxlDistance(quality), the mapping of cjxl's -q:
// 0.1 + (100 - q) * 0.09 from 30 up, 6.4 + 2.5^((30 - q) / 5) / 6.25 below,
// at most 25. Empty, with *error set, on failure.
QByteArray encodeJxl(const QImage &image, int quality, QString *error);

float jxlDistance(int quality);

// Decodes to 8-bit sRGB (Format_RGB32, or Format_Grayscale8 for a grey
// file), as djxl does; null, with *error set, on failure.
QImage decodeJxl(const QByteArray &data, QString *error);

} // namespace veltrano

#endif // JXLCODEC_H
