#ifndef CODECTESTSUPPORT_H
#define CODECTESTSUPPORT_H

// Helpers shared by the hybrid-file and ftjpeg tests: JPEG bytes made in
// memory, a JPEG header patched to claim another size, and the hybrid
// codec's steps computed with the slow reference transforms.

#include "referencetransforms.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QList>
#include <QStringList>

// The bytes Qt's JPEG writer produces for an image at a quality.
inline QByteArray encodeJpeg(const QImage &image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpg");
    writer.setQuality(quality);
    if (!writer.write(image))
        return QByteArray();
    return bytes;
}

// The JPEG stream with the size in its baseline frame header (SOF0) replaced;
// an empty array when the stream has no such header.
inline QByteArray withFrameSize(QByteArray jpeg, int width, int height)
{
    // Segments after SOI: FF xx, then a big-endian length that counts itself.
    int at = 2;
    while (at + 4 <= jpeg.size() && uchar(jpeg.at(at)) == 0xFF) {
        const uchar marker = uchar(jpeg.at(at + 1));
        const int length = (uchar(jpeg.at(at + 2)) << 8) | uchar(jpeg.at(at + 3));
        if (marker == 0xC0) {
            // Length, precision, then height and width.
            jpeg[at + 5] = char(height >> 8);
            jpeg[at + 6] = char(height & 0xFF);
            jpeg[at + 7] = char(width >> 8);
            jpeg[at + 8] = char(width & 0xFF);
            return jpeg;
        }
        at += 2 + length;
    }
    return QByteArray();
}

inline QByteArray withByte12(QByteArray bytes, char value)
{
    bytes[12] = value;
    return bytes;
}

inline QList<float> hybridKernel()
{
    return {1.0f, 0.5f, 0.0f};
}

// The hybrid file the codec must write for a source at a quality: the
// reference components, encoded, byte 12 set to 0x04.
inline QByteArray referenceHybridFile(const QImage &source, int quality)
{
    // The codec stamps its component images with 72 dpi (2835 dots per metre).
    QImage components = referenceDirectFTransform(source, 2, hybridKernel());
    components.setDotsPerMeterX(2835);
    components.setDotsPerMeterY(2835);
    const QByteArray jpeg = encodeJpeg(components, quality);
    return jpeg.isEmpty() ? jpeg : withByte12(jpeg, 0x04);
}

// What decoding the bytes of a hybrid file gives at a size: its JPEG-decoded
// components expanded by the reference inverse transform, step 2, radius 1.
inline QImage referenceHybridDecode(const QByteArray &file, int width, int height, const QList<float> &weights)
{
    const QImage components = QImage::fromData(file);
    if (components.isNull())
        return QImage();
    return referenceInverseFTransform(components, width, height, 2, 1, weights);
}

// Whether two hybrid files made by different programs are the same. The codec
// fixes the JFIF density, so not even the header may depend on the program
// (QtTest's default resolution is 96 dpi, ftjpeg's and the window's differ).
inline bool sameJpegStream(const QByteArray &a, const QByteArray &b)
{
    return a.size() > 18 && a == b;
}

// The names in a folder, hidden ones (a writer's temporary files) included.
inline QStringList folderEntries(const QString &path)
{
    return QDir(path).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

#endif // CODECTESTSUPPORT_H
