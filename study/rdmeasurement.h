#ifndef RDMEASUREMENT_H
#define RDMEASUREMENT_H

#include "study/rdpoint.h"
#include "study/rdscheme.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

namespace veltrano {

// The bytes of a JPEG file that are not entropy-coded image data: markers,
// tables, headers and application segments (a hybrid variant's segment among
// them), restart markers and anything after the end of the image. -1 for data
// that is not a JPEG file or whose marker structure is damaged.
qint64 jpegHeaderBytes(const QByteArray &data);

// One point: the source encoded by the scheme at the setting (into *data),
// decoded, and compared with the source (PSNR, both SSIMs, MS-SSIM,
// Butteraugli), with the times of encoding and decoding and, for a JPEG file,
// its header bytes and payload-only bit rate. Returns false, with *error set,
// when the scheme fails. The decoded image goes to *decodedImage when it is
// given.
bool measurePoint(const QImage &source, const RdScheme &scheme, int setting, RdPoint *point, QByteArray *data,
                  QString *error, QImage *decodedImage = nullptr);

} // namespace veltrano

#endif // RDMEASUREMENT_H
