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

// One image at every quality of plain JPEG, then of the hybrid scheme, in
// that order. Calls pointDone after each point (from the calling thread).
// Returns false, with *error set, when a point cannot be made; the points
// are then incomplete and the image is to be skipped.
bool measureImage(const QImage &source, const QList<float> &weights, QVector<RdPoint> *points, QString *error,
                  const std::function<void()> &pointDone = std::function<void()>());

#endif // RDMEASUREMENT_H
