#ifndef JXLCODEC_IMPL_H
#define JXLCODEC_IMPL_H

#include <QByteArray>
#include <QImage>
#include <QString>

namespace veltrano {

// JPEG XL through libjxl, inside the study-codec module: what encodeJxl and
// decodeJxl of study/codecs/jxlcodec.h forward to, and behave as, with the
// quality's distance (jxlDistance) computed by the forwarder. In a namespace
// of their own, as webpcodec_impl.h.
namespace moduleimpl {

QByteArray encodeJxl(const QImage &image, int quality, float distance, QString *error);
QImage decodeJxl(const QByteArray &data, QString *error);

} // namespace moduleimpl

} // namespace veltrano

#endif // JXLCODEC_IMPL_H
