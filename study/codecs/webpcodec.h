#ifndef WEBPCODEC_H
#define WEBPCODEC_H

#include <QByteArray>
#include <QImage>
#include <QString>

namespace veltrano {

// The study's API of WebP: these functions forward to its implementation in
// the study-codec module (module/webpcodec_impl.cpp), which is loaded at the
// first use (module/studycodecs.h).

// Lossy WebP through libwebp: quality 0 to 100, method 4 (libwebp's default
// effort), the default preset otherwise; WebP's lossy format always stores
// 4:2:0 YUV (a grey image too). Empty, with *error set, on failure.
QByteArray encodeWebp(const QImage &image, int quality, QString *error);

// Decodes to Format_RGB32; null, with *error set, on failure.
QImage decodeWebp(const QByteArray &data, QString *error);

} // namespace veltrano

#endif // WEBPCODEC_H
