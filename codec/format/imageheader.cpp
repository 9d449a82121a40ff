#include "codec/format/imageheader.h"
#include "platform/messagetext.h"

#include "platform/memorybudget.h"
#include "codec/rowio/pngrowreader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <algorithm>
#include <cctype>
#include <climits>

namespace veltrano {

namespace {

// The fewest bytes a complete Huffman-coded DCT stream of this frame can
// have: every 8 x 8 block of the component sampled at full resolution codes
// at least its DC coefficient, which takes a Huffman code of at least one
// bit. A shorter file cannot hold the image it declares, whatever the tables;
// its decoder would only invent the missing blocks, after allocating the
// whole image. Arithmetic-coded frames have no such bound: a run of the more
// probable decision codes to no bytes at all, so a flat image of any size is
// a few hundred bytes; they are held to the pixel limit and the memory left.
qint64 minimumJpegBytes(const JpegFrame &frame)
{
    if (frame.marker != 0xC0 && frame.marker != 0xC1 && frame.marker != 0xC2)
        return 0;
    const qint64 blocks = ((qint64(frame.size.width()) + 7) / 8) * ((qint64(frame.size.height()) + 7) / 8);
    return (blocks + 7) / 8;
}

quint32 littleEndian(const QByteArray &data, int at, int bytes)
{
    quint32 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | uchar(data.at(at + i));
    return value;
}

// What is missing of an uncompressed BMP shorter than the pixel rows its
// header declares; empty when it holds them all or cannot be told (a
// compressed BMP). Qt's reader gives such a file with the missing rows
// black.
QString shortBmpDamage(QIODevice &device)
{
    const QByteArray head = device.read(54);
    if (head.size() < 26 || !head.startsWith("BM"))
        return QString();
    const qint64 pixelsAt = littleEndian(head, 10, 4);
    const quint32 infoSize = littleEndian(head, 14, 4);
    qint64 width = 0;
    qint64 height = 0;
    int bitsPerPixel = 0;
    quint32 compression = 0;
    if (infoSize == 12) {
        width = littleEndian(head, 18, 2);
        height = littleEndian(head, 20, 2);
        bitsPerPixel = int(littleEndian(head, 24, 2));
    } else if (infoSize >= 40 && head.size() >= 34) {
        width = qint32(littleEndian(head, 18, 4));
        height = qint32(littleEndian(head, 22, 4));
        bitsPerPixel = int(littleEndian(head, 28, 2));
        compression = littleEndian(head, 30, 4);
    } else {
        return QString();
    }
    // Uncompressed and bit fields only: the others' size depends on their data.
    if ((compression != 0 && compression != 3 && compression != 6) || width <= 0 || height == 0 || bitsPerPixel <= 0
        || bitsPerPixel > 32)
        return QString();
    const bool bottomUp = height > 0;
    const qint64 rows = bottomUp ? height : -height;
    const qint64 rowBytes = (width * bitsPerPixel + 31) / 32 * 4;
    const qint64 held = std::max<qint64>(0, std::min(rows, (device.size() - pixelsAt) / rowBytes));
    if (held >= rows)
        return QString();
    return QStringLiteral("its pixel data holds %1 of %2 rows, so the %3 %4 rows of the image are missing")
        .arg(held)
        .arg(rows)
        .arg(bottomUp ? QStringLiteral("top") : QStringLiteral("bottom"))
        .arg(rows - held);
}

// What is missing of a binary PPM or PGM shorter than the rows its header
// declares; empty when it holds them all or is no such file. Qt's reader
// fails on such a file without saying why.
QString shortPnmDamage(QIODevice &device)
{
    PnmHeader header;
    if (!binaryPnmHeader(device, &header))
        return QString();
    const qint64 rowBytes = header.width * (header.grey ? 1 : 3) * (header.maxValue > 255 ? 2 : 1);
    const qint64 held = std::max<qint64>(0, (device.size() - header.dataOffset) / rowBytes);
    if (held >= header.height)
        return QString();
    return QStringLiteral("its pixel data holds %1 of %2 rows, so the bottom %3 rows of the image are missing")
        .arg(held)
        .arg(header.height)
        .arg(header.height - held);
}

// A number of a PPM header as Qt's reader reads it: white space and comment
// lines before it, digits, and the one byte after it consumed (unless it
// starts a comment: then -1, as that byte would belong to the pixels). -1
// when there is no number or it overflows.
qint64 pnmHeaderNumber(QIODevice &device, bool last)
{
    char c = 0;
    for (;;) {
        if (!device.getChar(&c))
            return -1;
        if (std::isdigit(uchar(c)))
            break;
        if (std::isspace(uchar(c)))
            continue;
        if (c != '#')
            return -1;
        // Qt's reader takes a comment line in pieces of 99 bytes at most and
        // misreads the rest of a longer one: such files are left to it.
        int length = 0;
        bool more = true;
        while (c != '\n' && more && ++length < 90)
            more = device.getChar(&c);
        if (c != '\n' || !more)
            return -1;
    }
    qint64 value = c - '0';
    for (;;) {
        if (!device.getChar(&c))
            return last ? -1 : value;
        if (!std::isdigit(uchar(c)))
            break;
        value = value * 10 + (c - '0');
        if (value > INT_MAX)
            return -1;
    }
    // The byte after the last number must be plain white space; a comment
    // there, or anything else, is left to Qt's reader.
    if (last && !std::isspace(uchar(c)))
        return -1;
    if (!last && c == '#')
        return -1;
    return value;
}

} // namespace

bool binaryPnmHeader(QIODevice &device, PnmHeader *header)
{
    char magic[3] = {};
    if (device.read(magic, 3) != 3 || magic[0] != 'P' || (magic[1] != '5' && magic[1] != '6')
        || !std::isspace(uchar(magic[2])))
        return false;
    const qint64 width = pnmHeaderNumber(device, false);
    const qint64 height = width > 0 ? pnmHeaderNumber(device, false) : -1;
    const qint64 maxValue = height > 0 ? pnmHeaderNumber(device, true) : -1;
    if (width <= 0 || height <= 0 || maxValue < 1 || maxValue > 65535)
        return false;
    header->grey = magic[1] == '5';
    header->width = width;
    header->height = height;
    header->maxValue = int(maxValue);
    header->dataOffset = device.pos();
    return true;
}

bool isStartOfFrame(uchar marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

int nextJpegMarker(QIODevice &device)
{
    char byte = 0;
    for (;;) {
        do {
            if (!device.getChar(&byte))
                return -1;
        } while (uchar(byte) != 0xFF);
        do {
            if (!device.getChar(&byte))
                return -1;
        } while (uchar(byte) == 0xFF);
        if (byte != 0)
            return uchar(byte);
    }
}

JpegFrame jpegFrame(QIODevice &device)
{
    uchar start[2];
    if (device.read(reinterpret_cast<char *>(start), 2) != 2 || start[0] != 0xFF || start[1] != 0xD8)
        return JpegFrame();
    for (;;) {
        const int marker = nextJpegMarker(device);
        if (marker < 0)
            return JpegFrame();
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // no segment follows these markers
        // A second start of image, an end of image or scan data before any
        // frame header, or a marker libjpeg does not know: no image.
        if (marker == 0xD8 || marker == 0xD9 || marker == 0xDA || marker == 0xC8
            || (marker >= 0x02 && marker <= 0xBF) || (marker >= 0xF0 && marker <= 0xFD))
            return JpegFrame();
        uchar header[8];
        if (device.read(reinterpret_cast<char *>(header), 2) != 2)
            return JpegFrame();
        const int length = (header[0] << 8) | header[1];
        if (isStartOfFrame(uchar(marker))) {
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
            frame.marker = uchar(marker);
            frame.components = toldComponents ? header[7] : 0;
            return frame;
        }
        // libjpeg skips nothing after a length below 2 of the segments it
        // skips (application data, comments); the tables it parses fail.
        if (length < 2) {
            if (marker == 0xC4 || marker == 0xCC || marker == 0xDB || marker == 0xDD)
                return JpegFrame();
            continue;
        }
        if (!device.seek(device.pos() + length - 2))
            return JpegFrame();
    }
}

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

bool isRegularFile(const QString &fileName, QString *error)
{
    // Qt's reader has no words of its own for these: it says "File not found"
    // of a directory, and would wait for a writer on a FIFO or read a device
    // without end.
    const QFileInfo info(fileName);
    if (!info.exists()) {
        setError(error, QStringLiteral("cannot read %1: File not found").arg(displayName(fileName)));
        return false;
    }
    if (info.isDir()) {
        setError(error, QStringLiteral("cannot read %1: it is a directory, not an image file")
                            .arg(displayName(fileName)));
        return false;
    }
    if (!info.isFile()) {
        setError(error, QStringLiteral("cannot read %1: it is not a regular file (a FIFO, socket or device)")
                            .arg(displayName(fileName)));
        return false;
    }
    return true;
}

QString jpegDamageDescription(const QString &firstWarning, bool ranOut, bool rowsRead)
{
    // libjpeg's words for running out, as its own file reader says it.
    const QString warning = firstWarning.isEmpty() ? QStringLiteral("Premature end of JPEG file") : firstWarning;
    if (ranOut && rowsRead && firstWarning.isEmpty())
        return QStringLiteral("the file ends before its end-of-image marker (%1)").arg(warning);
    if (ranOut)
        return QStringLiteral("the file ends inside its image data, so the end of the image is missing (%1)")
            .arg(warning);
    return QStringLiteral("part of its image data is corrupt, so that part of the image is missing (%1)").arg(warning);
}

QString damagedFileMessage(const QString &fileName, const QString &damage)
{
    return QStringLiteral("cannot read %1: %2; the file is damaged or truncated").arg(displayName(fileName), damage);
}

namespace {

// What one pass over the file's first bytes tells, before any size is known.
struct HeaderScan
{
    JpegFrame frame;      // valid for a JPEG stream
    bool png = false;     // the file starts with the PNG signature
    qint64 fileBytes = 0;
    qint64 overrun = -1;  // a PNG chunk's length past the end of the file
};

// Reads the JPEG frame header, the PNG chunks and, for the other formats, the
// rows a BMP, PPM or PGM is short of (into header->damage).
bool scanImageFile(const QString &fileName, ImageFileHeader *header, HeaderScan *scan, QString *error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, QStringLiteral("cannot read %1: %2").arg(displayName(fileName), file.errorString()));
        return false;
    }
    scan->fileBytes = file.size();
    scan->frame = jpegFrame(file);
    const bool jpeg = scan->frame.size.isValid();
    scan->png = file.seek(0) && file.read(8) == QByteArray("\x89PNG\r\n\x1a\n", 8);
    if (!jpeg && file.seek(0))
        scan->overrun = overrunningPngChunk(file);
    if (!jpeg && scan->overrun < 0 && file.seek(0))
        header->damage = shortBmpDamage(file);
    if (!jpeg && scan->overrun < 0 && header->damage.isEmpty() && file.seek(0))
        header->damage = shortPnmDamage(file);
    return true;
}

// The size the file declares and its format: a JPEG stream's from its frame
// header, a PNG's from libpng, any other's as declared or probed (invalid
// when neither tells it).
bool declaredImageSize(const QString &fileName, const HeaderScan &scan, QSize declaredSize, ImageSizeProbe probe,
                       ImageFileHeader *header, QSize *size, QString *error)
{
    *size = scan.frame.size;
    if (size->isValid()) {
        header->format = QByteArrayLiteral("jpeg");
        header->jpegComponents = scan.frame.components;
    } else if (scan.png) {
        // Read by libpng with handlers of our own before any reader of Qt's
        // sees the file: Qt's PNG plugin lets libpng print its errors.
        QString reason;
        bool damaged = false;
        if (!pngHeaderSize(fileName, size, &reason, &damaged)) {
            setError(error, damaged ? damagedFileMessage(fileName, reason)
                                    : QStringLiteral("cannot read %1: %2").arg(displayName(fileName), reason));
            return false;
        }
        header->format = QByteArrayLiteral("png");
    } else if (declaredSize.isValid()) {
        *size = declaredSize;
    } else if (probe) {
        *size = probe(fileName, &header->format);
    }
    return true;
}

// The memory decoding the image takes: decoded as 32-bit pixels, with the
// decoder's rows beside them; a JPEG stream of several scans (progressive)
// with all its coefficients beside that (two bytes each, every component
// counted at full resolution), which libjpeg holds for the damage check and
// the decoding alike.
qint64 decodingBytes(const QSize &size, const JpegFrame &frame, ImageDecoding decoding)
{
    const qint64 wholeImage = decoding == ImageDecoding::WholeImage ? qint64(size.width()) * size.height() * 4 : 0;
    const bool progressive = frame.marker == 0xC2 || frame.marker == 0xC6 || frame.marker == 0xCA
        || frame.marker == 0xCE;
    const qint64 coefficients = progressive && decoding == ImageDecoding::WholeImage
        ? ((qint64(size.width()) + 7) / 8) * ((qint64(size.height()) + 7) / 8) * 128 * std::max(1, frame.components)
        : 0;
    return wholeImage + coefficients + qint64(size.width()) * 64;
}

} // namespace

bool checkImageHeader(const QString &fileName, qint64 maxPixels, ImageFileHeader *header, QString *error,
                      ImageDecoding decoding, QSize declaredSize, ImageSizeProbe probe)
{
    *header = ImageFileHeader();
    if (!isRegularFile(fileName, error))
        return false;
    const QFileInfo info(fileName);
    if (info.size() == 0) {
        setError(error, QStringLiteral("cannot read %1: the file is empty").arg(displayName(fileName)));
        return false;
    }
    // The size the file declares, checked before anything is decoded: a JPEG
    // stream's from its frame header, which also tells whether the file can
    // hold the image at all; any other format's as declared or probed, once
    // the file is known to hold every PNG chunk it declares.
    HeaderScan scan;
    if (!scanImageFile(fileName, header, &scan, error))
        return false;
    if (scan.overrun >= 0) {
        setError(error, QStringLiteral("cannot read %1: a PNG chunk of %2 bytes runs past the end of the file "
                                       "(%3 bytes); the file is damaged or truncated")
                            .arg(displayName(fileName))
                            .arg(scan.overrun)
                            .arg(scan.fileBytes));
        return false;
    }
    QSize size;
    if (!declaredImageSize(fileName, scan, declaredSize, probe, header, &size, error))
        return false;
    header->size = size;
    if (size.isValid() && qint64(size.width()) * qint64(size.height()) > maxPixels) {
        setError(error, tooLargeMessage(fileName, size, maxPixels));
        return false;
    }
    const qint64 needed = scan.frame.size.isValid() ? minimumJpegBytes(scan.frame) : 0;
    if (scan.fileBytes < needed) {
        setError(error, QStringLiteral("cannot read %1: %2 bytes cannot hold a JPEG image of %3x%4 pixels (at "
                                       "least %5 are needed); the file is damaged or truncated")
                            .arg(displayName(fileName))
                            .arg(scan.fileBytes)
                            .arg(size.width())
                            .arg(size.height())
                            .arg(needed));
        return false;
    }
    if (size.isValid()
        && !fitsInMemory(decodingBytes(size, scan.frame, decoding),
                         QStringLiteral("reading %1 (%2x%3 pixels)")
                             .arg(displayName(fileName))
                             .arg(size.width())
                             .arg(size.height()),
                         error))
        return false;
    return true;
}

} // namespace veltrano
