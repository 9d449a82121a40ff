#ifndef AVIFCODEC_IMPL_H
#define AVIFCODEC_IMPL_H

#include <QByteArray>
#include <QImage>
#include <QString>

namespace veltrano {

// AVIF through libavif, inside the study-codec module: what encodeAvif and
// decodeAvif of study/codecs/avifcodec.h forward to, and behave as, with the
// quality's quantizer (avifQuantizer) computed by the forwarder. In a
// namespace of their own, as webpcodec_impl.h.
namespace moduleimpl {

QByteArray encodeAvif(const QImage &image, int quality, int quantizer, QString *error);
QImage decodeAvif(const QByteArray &data, QString *error);

} // namespace moduleimpl

} // namespace veltrano

#endif // AVIFCODEC_IMPL_H
