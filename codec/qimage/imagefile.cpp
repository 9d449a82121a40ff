#include "codec/qimage/imagefile.h"
#include "platform/messagetext.h"

#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/imagebuffer.h"
#include "codec/rowio/jpegrowreader.h"
#include "platform/memorybudget.h"
#include "platform/qtmessages.h"
#include "codec/rowio/pngrowreader.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

#include <algorithm>
#include <new>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace veltrano {

namespace {

// Qt's reader on a file other than JPEG, the format decided from its content.
QSize qtImageSize(const QString &fileName, QByteArray *format)
{
    QImageReader reader(fileName);
    reader.setDecideFormatFromContent(true);
    *format = reader.format();
    return reader.size();
}

} // namespace

QSize readImageSize(const QString &fileName)
{
    if (!isRegularFile(fileName, nullptr))
        return QSize();
    {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly))
            return QSize();
        const QSize size = jpegFrame(file).size;
        if (size.isValid())
            return size;
        if (!file.seek(0) || overrunningPngChunk(file) >= 0)
            return QSize();
        // A PNG header is read by libpng with handlers that print nothing.
        QSize pngSize;
        QString reason;
        bool damaged = false;
        if (file.seek(0) && file.read(8) == QByteArray("\x89PNG\r\n\x1a\n", 8))
            return pngHeaderSize(fileName, &pngSize, &reason, &damaged) ? pngSize : QSize();
    }
    QImageReader reader(fileName);
    reader.setDecideFormatFromContent(true);
    return reader.size();
}

bool checkImageFile(const QString &fileName, qint64 maxPixels, ImageFileHeader *header, QString *error,
                    ImageDecoding decoding, QSize declaredSize)
{
    return checkImageHeader(fileName, maxPixels, header, error, decoding, declaredSize, &qtImageSize);
}

bool readImageFile(const QString &fileName, QImage &image, QString *error)
{
    return readImageFile(fileName, image, error, maxDecodedPixels, nullptr);
}

bool readImageFile(const QString &fileName, QImage &image, QString *error, qint64 maxPixels)
{
    return readImageFile(fileName, image, error, maxPixels, nullptr);
}

bool readImageFile(const QString &fileName, QImage &image, QString *error, qint64 maxPixels, QString *damage)
{
    image = QImage();
    if (damage)
        damage->clear();
    ImageFileHeader header;
    if (!checkImageFile(fileName, maxPixels, &header, error))
        return false;
    // JPEG and PNG files are decoded once by the damage policy of every
    // reader of their format (jpegDataDamage, pngDataDamage) before Qt's
    // reader decodes them: Qt's plugins have error handling of their own,
    // which lets JPEG damage pass unsaid and prints libpng's errors.
    QString fileDamage = header.damage;
    if (header.format == "jpeg" && fileDamage.isEmpty())
        fileDamage = jpegDataDamage(fileName);
    else if (header.format == "png" && fileDamage.isEmpty())
        fileDamage = pngDataDamage(fileName);
    // Qt's JPEG and BMP readers give what a damaged file holds, which the
    // caller may show; its PNG and PPM readers fail on it.
    const bool readableDamaged = header.format == "jpeg" || header.format == "bmp";
    if (!fileDamage.isEmpty() && (!damage || !readableDamaged)) {
        setError(error, damagedFileMessage(fileName, fileDamage));
        return false;
    }
    const QSize size = header.size;
    QImageReader reader(fileName);
    reader.setDecideFormatFromContent(true);
    // Qt's JPEG reader decodes a colour stream (three or four components)
    // into an RGB32 image of the frame's size, and into the one it is given
    // when that has the size and format already: a large one gets fresh
    // mapped memory, as the transforms' outputs do, since page faults on tens
    // of megabytes of new 4 KB pages would cost more than the decoding.
    QImage loaded;
    if (header.jpegComponents == 3 || header.jpegComponents == 4)
        loaded = newTransformImage(size.width(), size.height(), QImage::Format_RGB32);
    {
        // The damage was found and is told by the checks above; the plugins'
        // own warnings about it (libjpeg's, libpng's) would only repeat it.
        const QtMessages::PluginWarningsExpected expected;
        if (!reader.read(&loaded)) {
            // What is missing, when the checks found it, rather than the
            // plugin's general words.
            setError(error, fileDamage.isEmpty()
                                ? QStringLiteral("cannot read %1: %2").arg(displayName(fileName), reader.errorString())
                                : damagedFileMessage(fileName, fileDamage));
            return false;
        }
    }
    // A reader that could not tell the size in advance is held to the same
    // limit afterwards.
    if (qint64(loaded.width()) * qint64(loaded.height()) > maxPixels) {
        setError(error, tooLargeMessage(fileName, loaded.size(), maxPixels));
        return false;
    }
    if (damage)
        *damage = fileDamage;
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
    // The encoded bytes, and a converted copy of the pixels some writers
    // make, must fit beside the image.
    const QString what = QStringLiteral("writing %1 (%2x%3 pixels)")
                             .arg(displayName(fileName))
                             .arg(image.width())
                             .arg(image.height());
    QString reason;
    if (!fitsInMemory(qint64(image.width()) * image.height() * 8, what, &reason)) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(displayName(fileName), reason));
        return false;
    }
    QByteArray data;
    try {
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format);
        writer.setQuality(quality);
        if (!writer.write(image)) {
            setError(error,
                     QStringLiteral("cannot write %1: %2").arg(displayName(fileName), writer.errorString()));
            return false;
        }
    } catch (const std::bad_alloc &) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(displayName(fileName), notEnoughMemoryMessage(what)));
        return false;
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

} // namespace veltrano
