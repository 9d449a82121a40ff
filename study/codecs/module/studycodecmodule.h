#ifndef STUDYCODECMODULE_H
#define STUDYCODECMODULE_H

#include <QByteArray>
#include <QImage>
#include <QString>

// The implementations inside the study-codec module, in a namespace of their
// own so that they never meet the forwarders of the same names in the
// programs (which are not exported by the module either: only its entry
// point is). The functions behave as documented in study/codecs/ and metrics/.
namespace studycodecs {

QByteArray encodeWebp(const QImage &image, int quality, QString *error);
QImage decodeWebp(const QByteArray &data, QString *error);
QByteArray encodeAvif(const QImage &image, int quality, int quantizer, QString *error);
QImage decodeAvif(const QByteArray &data, QString *error);
QByteArray encodeJxl(const QImage &image, int quality, float distance, QString *error);
QImage decodeJxl(const QByteArray &data, QString *error);
bool butteraugliDistance(const QImage &reference, const QImage &test, double *pNorm3, double *max,
                         QString *error);

} // namespace studycodecs

#endif // STUDYCODECMODULE_H
