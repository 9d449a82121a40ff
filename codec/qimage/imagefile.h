#ifndef IMAGEFILE_H
#define IMAGEFILE_H

#include "codec/format/imageheader.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

namespace veltrano {

// Image files read and written whole, through Qt's image plugins, with the
// project's checks around them: the header checks before decoding, the
// damage policy of each format, and writes that never leave a partial file.

// Reads an image file, the format detected from its content. Only regular
// files are read: a directory, FIFO or device is refused before it is
// opened. Images of more than maxPixels pixels (maxDecodedPixels of
// imagelimits.h by default), or too large for the memory the process has
// left, are refused from their header, before anything is decoded or
// allocated. A damaged or truncated file is refused too, judged as every
// reader of its format judges it (jpegDataDamage and pngDataDamage of
// rowio/, a BMP, PPM or PGM short of its pixel rows) before Qt's reader sees
// it. On failure
// image is left null and *error, when given, names the file and gives the
// reason.
bool readImageFile(const QString &fileName, QImage &image, QString *error);
bool readImageFile(const QString &fileName, QImage &image, QString *error, qint64 maxPixels);

// The same, but a damaged or truncated JPEG or BMP file that still decodes
// is read, as its decoder gives it, and *damage tells what is wrong and which
// part is missing (empty for a sound file); e.g. "the file ends inside its image
// data, so the end of the image is missing (Corrupt JPEG data: premature end
// of data segment)".
bool readImageFile(const QString &fileName, QImage &image, QString *error, qint64 maxPixels, QString *damage);

// checkImageHeader (format/imageheader.h) with Qt's reader telling the size and
// format of a file other than JPEG whose size was not passed as declaredSize.
bool checkImageFile(const QString &fileName, qint64 maxPixels, ImageFileHeader *header, QString *error,
                    ImageDecoding decoding = ImageDecoding::WholeImage, QSize declaredSize = QSize());

// The size an image file declares in its header, without decoding it. JPEG
// streams are measured from their frame header directly, found as libjpeg
// finds it, since Qt's reader gives no size at all for dimensions its decoder
// does not support; other formats as QImageReader tells it. Invalid when it
// cannot be told or the file is not a regular file.
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

} // namespace veltrano

#endif // IMAGEFILE_H
