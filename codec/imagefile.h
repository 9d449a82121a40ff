#ifndef IMAGEFILE_H
#define IMAGEFILE_H

#include <QByteArray>
#include <QImage>
#include <QString>

// Reads an image file, the format detected from its content. Images of more
// than maxPixels pixels (maxDecodedPixels of hybridjpeg.h by default) are
// refused from their header, before anything is decoded or allocated. On
// failure image is left null and *error, when given, names the file and gives
// the reason.
bool readImageFile(const QString &fileName, QImage &image, QString *error);
bool readImageFile(const QString &fileName, QImage &image, QString *error, qint64 maxPixels);

// Writes an image file in the given format ("png", "bmp", "ppm", "jpg" ...)
// at the given quality (-1: the format's default). The file is written to a
// temporary file first and replaces fileName only when complete, so a failure
// never leaves a truncated file or destroys an earlier one. On failure
// *error, when given, names the file and gives the reason.
bool writeImageFile(const QString &fileName, const QImage &image, const QByteArray &format, int quality,
                    QString *error);

// Writes bytes to a file in the same all-or-nothing way.
bool writeFileAtomically(const QString &fileName, const QByteArray &data, QString *error);

#endif // IMAGEFILE_H
