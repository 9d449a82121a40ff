#ifndef METRICCHECKS_H
#define METRICCHECKS_H

#include <QImage>
#include <QString>

namespace veltrano {

// The checks every metric of two images makes before it reads a pixel. Each
// returns false, setting *errorMessage when given, for a null image, images
// of different sizes or images narrower or lower than minimumSize pixels
// (checkImagePair), or a channel outside 0 to 3 (checkChannel).
bool checkImagePair(const QImage &reference, const QImage &test, int minimumSize, QString *errorMessage);
bool checkChannel(int channel, QString *errorMessage);

// Sets *errorMessage, when given, to message; returns false.
bool failMetric(QString *errorMessage, const QString &message);

} // namespace veltrano

#endif // METRICCHECKS_H
