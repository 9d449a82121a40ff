#include "imagefile.h"

#include "hybridjpeg.h"
#include "imagebuffer.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

QString displayName(const QString &fileName)
{
    return QDir::toNativeSeparators(fileName);
}

void setError(QString *error, const QString &message)
{
    if (error)
        *error = message;
}

// Start-of-frame markers of every JPEG coding process; C4 (Huffman tables),
// C8 (reserved) and CC (arithmetic coding conditioning) are not frames.
bool isStartOfFrame(uchar marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// What the frame header of a JPEG stream tells: its size and the marker of
// the frame (its coding process).
struct JpegFrame
{
    QSize size;
    uchar marker = 0;
    int components = 0; // colour components of the frame, 0 when not told
};

// The frame header of a JPEG stream, found by walking its marker segments
// from the start; the size is invalid when the device holds no JPEG stream or
// its frame header cannot be reached.
JpegFrame jpegFrame(QIODevice &device)
{
    uchar start[2];
    if (device.read(reinterpret_cast<char *>(start), 2) != 2 || start[0] != 0xFF || start[1] != 0xD8)
        return JpegFrame();
    for (;;) {
        char byte = 0;
        if (!device.getChar(&byte) || uchar(byte) != 0xFF)
            return JpegFrame();
        // Any number of 0xFF fill bytes may precede the marker code.
        do {
            if (!device.getChar(&byte))
                return JpegFrame();
        } while (uchar(byte) == 0xFF);
        const uchar marker = uchar(byte);
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // no segment follows these markers
        if (marker == 0xD9 || marker == 0xDA)
            return JpegFrame(); // end of image or scan data before any frame header
        uchar header[8];
        if (device.read(reinterpret_cast<char *>(header), 2) != 2)
            return JpegFrame();
        const int length = (header[0] << 8) | header[1];
        if (length < 2)
            return JpegFrame();
        if (isStartOfFrame(marker)) {
            // Precision, height, width.
            if (length < 7 || device.read(reinterpret_cast<char *>(header + 2), 5) != 5)
                return JpegFrame();
            // Then the number of components.
            const bool toldComponents = length >= 8 && device.read(reinterpret_cast<char *>(header + 7), 1) == 1;
            const int height = (header[3] << 8) | header[4];
            const int width = (header[5] << 8) | header[6];
            // A height of 0 is defined later in the stream (DNL marker).
            if (width == 0 || height == 0)
                return JpegFrame();
            JpegFrame frame;
            frame.size = QSize(width, height);
            frame.marker = marker;
            frame.components = toldComponents ? header[7] : 0;
            return frame;
        }
        if (!device.seek(device.pos() + length - 2))
            return JpegFrame();
    }
}

// The fewest bytes a complete Huffman-coded DCT stream of this frame can
// have: every 8 x 8 block of the component sampled at full resolution codes
// at least its DC coefficient, which takes a Huffman code of at least one
// bit. A shorter file cannot hold the image it declares, whatever the tables;
// its decoder would only invent the missing blocks, after allocating the
// whole image. Frames of other coding processes are not bounded (0).
qint64 minimumJpegBytes(const JpegFrame &frame)
{
    if (frame.marker != 0xC0 && frame.marker != 0xC1 && frame.marker != 0xC2)
        return 0;
    const qint64 blocks = ((qint64(frame.size.width()) + 7) / 8) * ((qint64(frame.size.height()) + 7) / 8);
    return (blocks + 7) / 8;
}

// The first chunk of a PNG stream that claims more bytes than the device
// holds, as its declared length (-1 when the device holds no PNG stream or
// every chunk up to IEND fits). libpng allocates a chunk's declared length
// before it reads it, so a few damaged bytes could ask for up to 2 GB.
qint64 overrunningPngChunk(QIODevice &device)
{
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    if (device.read(8) != QByteArray(signature, 8))
        return -1;
    const qint64 size = device.size();
    qint64 position = 8;
    while (position + 8 <= size) {
        if (!device.seek(position))
            return -1;
        const QByteArray header = device.read(8);
        if (header.size() != 8)
            return -1;
        const qint64 length = (qint64(uchar(header[0])) << 24) | (uchar(header[1]) << 16) |
                              (uchar(header[2]) << 8) | uchar(header[3]);
        // Length, type, data and CRC.
        if (position + 12 + length > size)
            return length;
        if (header.mid(4) == "IEND")
            return -1;
        position += 12 + length;
    }
    return -1;
}

QString tooLargeMessage(const QString &fileName, const QSize &size, qint64 maxPixels)
{
    return QStringLiteral("cannot read %1: an image of %2x%3 pixels is too large (at most %4 pixels)")
        .arg(displayName(fileName))
        .arg(size.width())
        .arg(size.height())
        .arg(maxPixels);
}

} // namespace

QSize readImageSize(const QString &fileName)
{
    {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly))
            return QSize();
        const QSize size = jpegFrame(file).size;
        if (size.isValid())
            return size;
        if (!file.seek(0) || overrunningPngChunk(file) >= 0)
            return QSize();
    }
    QImageReader reader(fileName);
    reader.setDecideFormatFromContent(true);
    return reader.size();
}

bool readImageFile(const QString &fileName, QImage &image, QString *error)
{
    return readImageFile(fileName, image, error, maxDecodedPixels);
}

bool readImageFile(const QString &fileName, QImage &image, QString *error, qint64 maxPixels)
{
    image = QImage();
    // Qt's reader has no words of its own for these: it says "File not found"
    // of a directory and "Unsupported image format" of an empty file.
    const QFileInfo info(fileName);
    if (info.isDir()) {
        setError(error, QStringLiteral("cannot read %1: it is a directory, not an image file")
                            .arg(displayName(fileName)));
        return false;
    }
    if (info.isFile() && info.size() == 0) {
        setError(error, QStringLiteral("cannot read %1: the file is empty").arg(displayName(fileName)));
        return false;
    }
    QImageReader reader(fileName);
    reader.setDecideFormatFromContent(true);
    // The size the file declares, checked before anything is decoded: a JPEG
    // stream's from its frame header, which also tells whether the file can
    // hold the image at all; any other format's from Qt's reader, once the
    // file is known to hold every PNG chunk it declares.
    JpegFrame frame;
    qint64 fileBytes = 0;
    qint64 overrun = -1;
    {
        QFile file(fileName);
        if (file.open(QIODevice::ReadOnly)) {
            fileBytes = file.size();
            frame = jpegFrame(file);
            if (!frame.size.isValid() && file.seek(0))
                overrun = overrunningPngChunk(file);
        }
    }
    if (overrun >= 0) {
        setError(error, QStringLiteral("cannot read %1: a PNG chunk of %2 bytes runs past the end of the file "
                                       "(%3 bytes); the file is damaged or truncated")
                            .arg(displayName(fileName))
                            .arg(overrun)
                            .arg(fileBytes));
        return false;
    }
    const QSize size = frame.size.isValid() ? frame.size : reader.size();
    if (size.isValid() && qint64(size.width()) * qint64(size.height()) > maxPixels) {
        setError(error, tooLargeMessage(fileName, size, maxPixels));
        return false;
    }
    const qint64 needed = frame.size.isValid() ? minimumJpegBytes(frame) : 0;
    if (fileBytes < needed) {
        setError(error, QStringLiteral("cannot read %1: %2 bytes cannot hold a JPEG image of %3x%4 pixels (at "
                                       "least %5 are needed); the file is damaged or truncated")
                            .arg(displayName(fileName))
                            .arg(fileBytes)
                            .arg(size.width())
                            .arg(size.height())
                            .arg(needed));
        return false;
    }
    // Qt's JPEG reader decodes a colour stream (three or four components)
    // into an RGB32 image of the frame's size, and into the one it is given
    // when that has the size and format already: a large one gets fresh
    // mapped memory, as the transforms' outputs do, since page faults on tens
    // of megabytes of new 4 KB pages would cost more than the decoding.
    QImage loaded;
    if (frame.components == 3 || frame.components == 4)
        loaded = newTransformImage(size.width(), size.height(), QImage::Format_RGB32);
    if (!reader.read(&loaded)) {
        setError(error, QStringLiteral("cannot read %1: %2").arg(displayName(fileName), reader.errorString()));
        return false;
    }
    // A reader that could not tell the size in advance is held to the same
    // limit afterwards.
    if (qint64(loaded.width()) * qint64(loaded.height()) > maxPixels) {
        setError(error, tooLargeMessage(fileName, loaded.size(), maxPixels));
        return false;
    }
    image = loaded;
    return true;
}

bool writeImageFile(const QString &fileName, const QImage &image, const QByteArray &format, int quality,
                    QString *error)
{
    if (image.isNull()) {
        setError(error, QStringLiteral("cannot write %1: the image is empty").arg(displayName(fileName)));
        return false;
    }
    // Encoded in memory first: image writers do not check every write they
    // make, so a short write of theirs (a full disk, a file-size limit) could
    // pass unnoticed on a file; the bytes are then written and checked here.
    QByteArray data;
    {
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format);
        writer.setQuality(quality);
        if (!writer.write(image)) {
            setError(error,
                     QStringLiteral("cannot write %1: %2").arg(displayName(fileName), writer.errorString()));
            return false;
        }
    }
    return writeFileAtomically(fileName, data, error);
}

bool writeFileAtomically(const QString &fileName, const QByteArray &data, QString *error)
{
    // Unbuffered, so every write reaches the file here and its result is
    // seen: a buffered write that the kernel cuts short (EFBIG, ENOSPC) can
    // be lost in the flush at commit without an error.
    // QSaveFile refuses to replace a write-protected file, but asks the
    // system with the real user's rights; the file would be replaced under
    // the effective user's, so that is the one asked here.
#ifdef Q_OS_UNIX
    if (::faccessat(AT_FDCWD, QFile::encodeName(fileName).constData(), F_OK, AT_EACCESS) == 0
        && ::faccessat(AT_FDCWD, QFile::encodeName(fileName).constData(), W_OK, AT_EACCESS) != 0) {
        setError(error, QStringLiteral("cannot write %1: Existing file %1 is not writable").arg(displayName(fileName)));
        return false;
    }
#endif
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(displayName(fileName), file.errorString()));
        return false;
    }
    qint64 written = 0;
    while (written < data.size()) {
        const qint64 count = file.write(data.constData() + written, data.size() - written);
        if (count <= 0) {
            const QString reason = file.error() != QFileDevice::NoError
                ? file.errorString()
                : QStringLiteral("the data could not all be written");
            setError(error, QStringLiteral("cannot write %1: %2").arg(displayName(fileName), reason));
            file.cancelWriting();
            return false;
        }
        written += count;
    }
    if (!file.commit()) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(displayName(fileName), file.errorString()));
        return false;
    }
    return true;
}
