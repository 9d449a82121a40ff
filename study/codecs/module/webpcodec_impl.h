#ifndef WEBPCODEC_IMPL_H
#define WEBPCODEC_IMPL_H

#include <QByteArray>
#include <QImage>
#include <QString>

namespace veltrano {

// WebP through libwebp, inside the study-codec module: what encodeWebp and
// decodeWebp of study/codecs/webpcodec.h forward to, and behave as. In a
// namespace of their own, so that they never meet the forwarders of the same
// names in the programs (the module exports nothing but its entry point).
namespace moduleimpl {

QByteArray encodeWebp(const QImage &image, int quality, QString *error);
QImage decodeWebp(const QByteArray &data, QString *error);

} // namespace moduleimpl

} // namespace veltrano

#endif // WEBPCODEC_IMPL_H
