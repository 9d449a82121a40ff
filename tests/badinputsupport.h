#ifndef BADINPUTSUPPORT_H
#define BADINPUTSUPPORT_H

// Hostile and broken files for the bad-input tests, all made at test time:
// JPEG streams with patched frame headers, huge segments or garbage scans,
// PNG files declaring absurd sizes, and ftjpeg run under a file-size limit.

#include "testsupport.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QImage>
#include <QRandomGenerator>
#include <QStringList>

namespace badinput {

inline QByteArray encoded(const QImage &image, const char *format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

// The offset of the first segment with this marker code (the 0xFF before
// it), walking the segments from the start; -1 when there is none before the
// scan data.
inline int segmentOffset(const QByteArray &jpeg, uchar marker)
{
    int at = 2;
    while (at + 4 <= jpeg.size() && uchar(jpeg.at(at)) == 0xFF) {
        const uchar code = uchar(jpeg.at(at + 1));
        if (code == marker)
            return at;
        if (code == 0xDA)
            return -1;
        at += 2 + ((uchar(jpeg.at(at + 2)) << 8) | uchar(jpeg.at(at + 3)));
    }
    return -1;
}

// The JPEG stream with the width and height of its (baseline) frame header
// replaced.
inline QByteArray withFrameSize(QByteArray jpeg, int width, int height)
{
    const int frame = segmentOffset(jpeg, 0xC0);
    if (frame < 0)
        return QByteArray();
    jpeg[frame + 5] = char(height >> 8);
    jpeg[frame + 6] = char(height & 0xFF);
    jpeg[frame + 7] = char(width >> 8);
    jpeg[frame + 8] = char(width & 0xFF);
    return jpeg;
}

// The headers of the JPEG stream up to and including its scan header, then
// `count` bytes of seeded noise (no 0xFF, so no marker appears) and the end
// of image.
inline QByteArray withGarbageScan(const QByteArray &jpeg, int count)
{
    const int scan = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
    if (scan < 0)
        return QByteArray();
    const int length = (uchar(jpeg.at(scan + 2)) << 8) | uchar(jpeg.at(scan + 3));
    QByteArray result = jpeg.left(scan + 2 + length);
    QRandomGenerator noise(8);
    for (int i = 0; i < count; ++i)
        result += char(noise.bounded(0xFF));
    return result + QByteArray("\xFF\xD9", 2);
}

// The JPEG stream with `segments` APP1 segments of the largest size (65533
// bytes of noise each) inserted after its start-of-image marker.
inline QByteArray withHugeAppSegments(const QByteArray &jpeg, int segments)
{
    QByteArray result = jpeg.left(2);
    QRandomGenerator noise(9);
    for (int s = 0; s < segments; ++s) {
        result += QByteArray("\xFF\xE1\xFF\xFF", 4);
        for (int i = 0; i < 65533; ++i)
            result += char(noise.bounded(256));
    }
    return result + jpeg.mid(2);
}

// The CRC-32 of PNG chunks, bit by bit.
inline quint32 crc32Of(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char byte : data) {
        crc ^= uchar(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc ^ 0xFFFFFFFFu;
}

inline QByteArray pngChunk(const char *type, const QByteArray &data)
{
    QByteArray chunk;
    const quint32 length = quint32(data.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk += char((length >> shift) & 0xFF);
    const QByteArray body = QByteArray(type, 4) + data;
    chunk += body;
    const quint32 crc = crc32Of(body);
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk += char((crc >> shift) & 0xFF);
    return chunk;
}

// A PNG file declaring width x height RGB pixels whose compressed data holds
// only a few rows.
inline QByteArray pngDeclaring(quint32 width, quint32 height)
{
    QByteArray header;
    for (quint32 value : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            header += char((value >> shift) & 0xFF);
    header += QByteArray("\x08\x02\x00\x00\x00", 5);
    // qCompress gives a zlib stream behind a four-byte length.
    const QByteArray packed = qCompress(QByteArray(3000, '\0')).mid(4);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", packed)
        + pngChunk("IEND", QByteArray());
}

inline ProcessResult ftjpeg(const QStringList &arguments, const QString &workingDirectory = QString())
{
    return runProcess(binPath(QStringLiteral("ftjpeg")), arguments, workingDirectory);
}

// AddressSanitizer reserves terabytes of address space for its shadow memory
// when a program starts, so a program built with it cannot run under an
// address-space limit (ulimit -v) at all: such checks are skipped there.
#if defined(__SANITIZE_ADDRESS__)
#define SKIP_ADDRESS_LIMITS_UNDER_ASAN() QSKIP("an AddressSanitizer build cannot start under ulimit -v")
#else
#define SKIP_ADDRESS_LIMITS_UNDER_ASAN() \
    do {                                 \
    } while (false)
#endif

// ftjpeg under the limits of a shell's ulimit command, e.g. "-v 1000000".
inline ProcessResult ftjpegUnder(const QString &limits, const QStringList &arguments,
                                 const QString &workingDirectory = QString())
{
    return runProcess(QStringLiteral("/bin/sh"),
                      QStringList{QStringLiteral("-c"),
                                  QStringLiteral("ulimit %1 && exec \"$0\" \"$@\"").arg(limits),
                                  binPath(QStringLiteral("ftjpeg"))}
                          + arguments,
                      workingDirectory);
}

// ftjpeg with its file-size limit (ulimit -f) set to `blocks` blocks of 512
// bytes.
inline ProcessResult ftjpegLimited(int blocks, const QStringList &arguments, const QString &workingDirectory = QString())
{
    return ftjpegUnder(QStringLiteral("-f %1").arg(blocks), arguments, workingDirectory);
}

// Every entry of a folder, hidden ones included.
inline QStringList folderEntries(const QString &path = QStringLiteral("."))
{
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                QDir::Name);
}

} // namespace badinput

#endif // BADINPUTSUPPORT_H
