#ifndef IMAGEFILE_H
#define IMAGEFILE_H

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

// Reads an image file, the format detected from its content. Images of more
// than maxPixels pixels (maxDecodedPixels of hybridjpeg.h by default) are
// refused from their header, before anything is decoded or allocated. On
// failure image is left null and *error, when given, names the file and gives
// the reason.
bool readImageFile(const QString &fileName, QImage &image, QString *error);
bool readImageFile(const QString &fileName, QImage &image, QString *error, qint64 maxPixels);

// The size an image file declares in its header, without decoding it. JPEG
// streams are measured from their frame header directly, since Qt's reader
// gives no size at all for dimensions its decoder does not support; other
// formats as QImageReader tells it. Invalid when it cannot be told.
QSize readImageSize(const QString &fileName);

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
