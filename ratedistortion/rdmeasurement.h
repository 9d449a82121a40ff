#ifndef RDMEASUREMENT_H
#define RDMEASUREMENT_H

#include "rdpoint.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <QVector>

#include <functional>

// The qualities of both schemes: 0, 5, ..., 100.
QVector<int> rdQualities();

// The image a hybrid file decodes to at the source's size, as
// compressHybrid returns it: the stored components expanded with step 2 and
// radius 1. Null, with *error set, when the data cannot be decoded, decode
// to another component size than width / 2 x height / 2, or the table is too
// short.
QImage decodeHybridJpeg(const QByteArray &data, int width, int height, const QList<float> &weights,
                        QString *error);

// One image at every quality of plain JPEG, then of the hybrid scheme, in
// that order. Calls pointDone after each point (from the calling thread).
// Returns false, with *error set, when a point cannot be made; the points
// are then incomplete and the image is to be skipped.
bool measureImage(const QImage &source, const QList<float> &weights, QVector<RdPoint> *points, QString *error,
                  const std::function<void()> &pointDone = std::function<void()>());

// Bits per pixel of a file of sizeBytes for an image of width x height: the
// bit count in single precision over the pixel count, in double.
double bitsPerPixel(qint64 sizeBytes, int width, int height);

#endif // RDMEASUREMENT_H
