#include "imagefile.h"

#include "hybridjpeg.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

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

// The width and height in the frame header of a JPEG stream, found by
// walking its marker segments from the start; invalid when the device holds
// no JPEG stream or its frame header cannot be reached.
QSize jpegFrameSize(QIODevice &device)
{
    uchar start[2];
    if (device.read(reinterpret_cast<char *>(start), 2) != 2 || start[0] != 0xFF || start[1] != 0xD8)
        return QSize();
    for (;;) {
        char byte = 0;
        if (!device.getChar(&byte) || uchar(byte) != 0xFF)
            return QSize();
        // Any number of 0xFF fill bytes may precede the marker code.
        do {
            if (!device.getChar(&byte))
                return QSize();
        } while (uchar(byte) == 0xFF);
        const uchar marker = uchar(byte);
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // no segment follows these markers
        if (marker == 0xD9 || marker == 0xDA)
            return QSize(); // end of image or scan data before any frame header
        uchar header[7];
        if (device.read(reinterpret_cast<char *>(header), 2) != 2)
            return QSize();
        const int length = (header[0] << 8) | header[1];
        if (length < 2)
            return QSize();
        if (isStartOfFrame(marker)) {
            // Precision, height, width.
            if (length < 7 || device.read(reinterpret_cast<char *>(header + 2), 5) != 5)
                return QSize();
            const int height = (header[3] << 8) | header[4];
            const int width = (header[5] << 8) | header[6];
            // A height of 0 is defined later in the stream (DNL marker).
            if (width == 0 || height == 0)
                return QSize();
            return QSize(width, height);
        }
        if (!device.seek(device.pos() + length - 2))
            return QSize();
    }
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
        const QSize size = jpegFrameSize(file);
        if (size.isValid())
            return size;
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
    const QSize size = readImageSize(fileName);
    if (size.isValid() && qint64(size.width()) * qint64(size.height()) > maxPixels) {
        setError(error, tooLargeMessage(fileName, size, maxPixels));
        return false;
    }
    QImageReader reader(fileName);
    reader.setDecideFormatFromContent(true);
    QImage loaded;
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
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(displayName(fileName), file.errorString()));
        return false;
    }
    QImageWriter writer(&file, format);
    writer.setQuality(quality);
    if (!writer.write(image)) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(displayName(fileName), writer.errorString()));
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(displayName(fileName), file.errorString()));
        return false;
    }
    return true;
}

bool writeFileAtomically(const QString &fileName, const QByteArray &data, QString *error)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(displayName(fileName), file.errorString()));
        return false;
    }
    if (file.write(data) != data.size()) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(displayName(fileName), file.errorString()));
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(displayName(fileName), file.errorString()));
        return false;
    }
    return true;
}
