#ifndef HYBRIDJPEG_H
#define HYBRIDJPEG_H

#include "codec/format/hybridmarker.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

namespace veltrano {

// The classic hybrid codec on QImage: a source image to the bytes or file of
// its hybrid JPEG (fixed step 2, kernel radius 2, reconstruction radius 1)
// and back. The marker itself is format/hybridmarker.h's; variant files,
// which this decoder passes on, are qimage/hybridvariant.h's.

// The image with the hybrid codec's fixed resolution (hybridDotsPerMeter). Images the codec and the experiments
// make carry it, since it lands in the JPEG, BMP and PNG headers, which would
// otherwise depend on the default resolution of the program that runs them
// (its screen).
QImage withFixedResolution(QImage image);

// The bytes of the hybrid file of a source image: the component image (step
// 2, kernel radius 2, fixed resolution) as JPEG at the given quality, marked.
// Empty, with *error set when given, if the quality is outside 0..100, the
// source is too small for a component image or the encoder fails.
QByteArray encodeHybridJpeg(const QImage &source, int quality, QString *error = nullptr);

// Whether a source image can be compressed as a hybrid file: at least 2x2
// pixels. False, with *error set when given, otherwise.
bool fitsHybridJpeg(const QImage &source, QString *error = nullptr);

// Whether the weights table holds every entry the expansion to width x height
// (step 2, radius 1) looks up. False, with *error set when given (naming
// tableName when that is not empty), otherwise.
bool hybridWeightsSuffice(const QList<float> &weights, int width, int height, QString *error = nullptr,
                          const QString &tableName = QString());

// The image the bytes of a hybrid file decode to at width x height, the size
// of its source, exactly as compressHybrid expands the file it writes.
// Returns a null image, with *error set when given, if the data cannot be
// decoded, its components are not (width / 2) x (height / 2), or the table is
// too short; the size is checked from the header, before anything is decoded.
QImage decodeHybridJpeg(const QByteArray &data, int width, int height, const QList<float> &weights,
                        QString *error = nullptr);

// Hybrid compression: the bytes of encodeHybridJpeg written to fileName in
// one piece (writeFileAtomically), read back and expanded to the source size
// (step 2, radius 1) with the weights. Returns a null image, with *error set
// when given, if the quality is outside 0..100, the source is too small for
// a component image or the table too short for its expansion (nothing is
// written in these cases), the file cannot be written or read back, or it
// reads back at another size than it was written; no pixel of a failed load
// is used.
QImage compressHybrid(const QImage &source, int quality, const QList<float> &weights,
                      QString *error = nullptr, const QString &fileName = QStringLiteral("hybrid.jpg"));

// Hybrid decompression: reads the weights file, loads the hybrid file and
// expands it to twice its component size. A variant file (hybridvariant.h)
// is decoded to its source size with the weights it records instead, and
// no weights file is read. Returns a null image, with *error set when given,
// if the weights file cannot be read ("cannot open weights file!" on
// standard output, as readWeightsFile does), the file cannot be read, its
// decoded size would exceed maxDecodedPixels (format/imagelimits.h), or the
// table is too short. With damage given, a damaged or truncated classic file is decoded as
// its components read, and *damage says what is missing (see readImageFile);
// otherwise it is refused.
QImage decompressHybrid(const QString &fileName, QString *error = nullptr,
                        const QString &weightsFile = QStringLiteral("weights_out.txt"), QString *damage = nullptr);

// Hybrid decompression with a weights table the caller has read: prints
// nothing, otherwise as above.
QImage decompressHybrid(const QString &fileName, const QList<float> &weights, QString *error = nullptr);

// The same, naming the file the table was read from in the message about a
// table that is too short.
QImage decompressHybrid(const QString &fileName, const QList<float> &weights, QString *error,
                        const QString &weightsName);

} // namespace veltrano

#endif // HYBRIDJPEG_H
