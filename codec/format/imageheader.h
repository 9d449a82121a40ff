#ifndef IMAGEHEADER_H
#define IMAGEHEADER_H

#include <QByteArray>
#include <QSize>
#include <QString>

class QIODevice;

namespace veltrano {

// What is checked of an image file before any of it is decoded, by the image
// readers streamed and in memory alike (checkImageHeader), the header
// parsing those checks rest on (JPEG frame, PNG chunks, binary PPM and PGM),
// and the wording every reader shares for a file that is damaged, too large
// or not a regular file.

// What the checks before decoding tell of an image file.
struct ImageFileHeader
{
    QSize size;              // as declared, invalid when it cannot be told
    QByteArray format;       // "jpeg", "png", "bmp" or Qt's name for it
    int jpegComponents = 0;  // colour components of a JPEG frame, 0 when not told
    QString damage;          // what the header shows to be missing, empty when nothing
};

// How a decoder holds the image: whole, or a few rows at a time (never all
// of them).
enum class ImageDecoding
{
    WholeImage,
    RowByRow,
};

// Tells the size and format of an image file other than JPEG (Qt's name for
// the format); an invalid size when it cannot be told.
using ImageSizeProbe = QSize (*)(const QString &fileName, QByteArray *format);

// The checks made before anything of a file is decoded: a regular file, not
// empty, its declared size within maxPixels and the memory left, a JPEG
// stream large enough for its frame, PNG chunks within the file. A BMP, PPM
// or PGM short of the rows it declares passes with header->damage set. A
// decoder that reads the file by itself calls this first. On failure *error
// names the file and gives the reason. A decoder that reads row by row says
// so: the memory left is then checked for rows only. The size of a file
// other than JPEG or PNG is the declaredSize a decoder that has already read
// it from the file's header passes (the format is then left empty); without
// one it is the probe's, and with no probe either it is left invalid, the
// format empty, and only the checks that need no size are made.
bool checkImageHeader(const QString &fileName, qint64 maxPixels, ImageFileHeader *header, QString *error,
                      ImageDecoding decoding, QSize declaredSize, ImageSizeProbe probe);

// The header of a binary PPM (P6) or PGM (P5), parsed as Qt's reader parses
// it (white space and comments between the numbers, one white-space byte
// after the maximum value); dataOffset is where the pixels start.
struct PnmHeader
{
    bool grey = false;
    qint64 width = 0;
    qint64 height = 0;
    int maxValue = 0;
    qint64 dataOffset = 0;
};

// False when the device holds no such header, or one Qt's reader may read
// otherwise (a long comment line, a comment right after the maximum).
bool binaryPnmHeader(QIODevice &device, PnmHeader *header);

// What damage of a JPEG stream means for the image, as *damage of
// readImageFile (qimage/imagefile.h) and the streamed JPEG reader word it:
// firstWarning is libjpeg's first warning (empty when there was none),
// ranOut tells that the decoder asked for bytes past the end of the file,
// and rowsRead that it did so only after every row.
QString jpegDamageDescription(const QString &firstWarning, bool ranOut, bool rowsRead);

// The error of a tool or the study for a damaged file: "cannot read NAME:
// DAMAGE; the file is damaged or truncated".
QString damagedFileMessage(const QString &fileName, const QString &damage);

// The error for an image of the given size above maxPixels: "cannot read
// NAME: an image of WxH pixels is too large (at most N pixels)".
QString tooLargeMessage(const QString &fileName, const QSize &size, qint64 maxPixels);

// Refuses a file that is not regular (a directory, FIFO or device) or is
// missing, before anything opens it; *error gives the reason.
bool isRegularFile(const QString &fileName, QString *error);

// What the frame header of a JPEG stream tells: its size and the marker of
// the frame (its coding process).
struct JpegFrame
{
    QSize size;
    uchar marker = 0;
    int components = 0; // colour components of the frame, 0 when not told
};

// Start-of-frame markers of every JPEG coding process; C4 (Huffman tables),
// C8 (reserved) and CC (arithmetic coding conditioning) are not frames.
bool isStartOfFrame(uchar marker);

// The next marker code, found as libjpeg finds it: any bytes before an 0xFF
// (and an 0xFF 0x00 pair) are skipped as garbage, then any 0xFF fill bytes.
// -1 at the end of the device.
int nextJpegMarker(QIODevice &device);

// The frame header of a JPEG stream, found by walking its marker segments
// from the start the way libjpeg reads them, so that the frame it decodes is
// the one measured; the size is invalid when the device holds no JPEG stream
// or libjpeg would find no frame header in it.
JpegFrame jpegFrame(QIODevice &device);

// The first chunk of a PNG stream that claims more bytes than the device
// holds, as its declared length (-1 when the device holds no PNG stream or
// every chunk up to IEND fits). libpng allocates a chunk's declared length
// before it reads it, so a few damaged bytes could ask for up to 2 GB.
qint64 overrunningPngChunk(QIODevice &device);

} // namespace veltrano

#endif // IMAGEHEADER_H
