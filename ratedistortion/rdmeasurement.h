#ifndef RDMEASUREMENT_H
#define RDMEASUREMENT_H

#include "rdpoint.h"
#include "rdscheme.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

// One point: the source encoded by the scheme at the setting (into *data),
// decoded, and compared with the source (PSNR, both SSIMs, MS-SSIM,
// Butteraugli), with the times of encoding and decoding. Returns false, with
// *error set, when the scheme fails. The decoded image goes to *decodedImage
// when it is given.
bool measurePoint(const QImage &source, const RdScheme &scheme, int setting, RdPoint *point, QByteArray *data,
                  QString *error, QImage *decodedImage = nullptr);

#endif // RDMEASUREMENT_H
