#ifndef IMAGEFILE_H
#define IMAGEFILE_H

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

// Reads an image file, the format detected from its content. Only regular
// files are read: a directory, FIFO or device is refused before it is
// opened. Images of more than maxPixels pixels (maxDecodedPixels of
// hybridjpeg.h by default), or too large for the memory the process has left,
// are refused from their header, before anything is decoded or allocated. A
// damaged or truncated file (a JPEG stream the decoder reports corrupt or
// ending early, a BMP short of its pixel rows) is refused too. On failure
// image is left null and *error, when given, names the file and gives the
// reason.
bool readImageFile(const QString &fileName, QImage &image, QString *error);
bool readImageFile(const QString &fileName, QImage &image, QString *error, qint64 maxPixels);

// The same, but a damaged or truncated file that still decodes is read, as
// its decoder gives it, and *damage tells what is wrong and which part is
// missing (empty for a sound file); e.g. "the file ends inside its image
// data, so the end of the image is missing (Corrupt JPEG data: premature end
// of data segment)".
bool readImageFile(const QString &fileName, QImage &image, QString *error, qint64 maxPixels, QString *damage);

// What the checks before decoding tell of an image file.
struct ImageFileHeader
{
    QSize size;              // as declared, invalid when it cannot be told
    QByteArray format;       // "jpeg", "png", "bmp" or Qt's name for it
    int jpegComponents = 0;  // colour components of a JPEG frame, 0 when not told
    QString damage;          // what the header shows to be missing, empty when nothing
};

// The checks made before anything of a file is decoded: a regular file, not
// empty, its declared size within maxPixels and the memory left, a JPEG
// stream large enough for its frame, PNG chunks within the file. A BMP short
// of the rows it declares passes with header->damage set. A decoder that
// reads the file by itself calls this first. On failure *error names the
// file and gives the reason. A decoder that holds a few rows at a time, never
// the whole image, says so: the memory left is then checked for rows only.
// A decoder that has already read the image's size from the header of a
// file other than JPEG passes it as declaredSize: Qt's reader is then not
// asked for it (nor for the format, left empty).
enum class ImageDecoding
{
    WholeImage,
    RowByRow,
};
bool checkImageFile(const QString &fileName, qint64 maxPixels, ImageFileHeader *header, QString *error,
                    ImageDecoding decoding = ImageDecoding::WholeImage, QSize declaredSize = QSize());

// Whether a message of libjpeg (a warning, as format_message writes it) means
// the image data is damaged: corrupt data, data ending early, scans missing.
bool isJpegDamageWarning(const QString &message);

// What such a warning means for the file, as *damage of readImageFile words
// it; fileEndsWithEoi tells a file cut short from one damaged inside.
QString jpegDamageDescription(const QString &warning, bool fileEndsWithEoi);

// The error of a tool or the study for a damaged file: "cannot read NAME:
// DAMAGE; the file is damaged or truncated".
QString damagedFileMessage(const QString &fileName, const QString &damage);

// Refuses a file that is not regular (a directory, FIFO or device) or is
// missing, before anything opens it; *error gives the reason.
bool isRegularFile(const QString &fileName, QString *error);

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

#endif // IMAGEFILE_H
