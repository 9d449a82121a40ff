#include "imagefile.h"

#include "hybridjpeg.h"
#include "imagebuffer.h"
#include "memorybudget.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>

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

// Collects the warnings libjpeg gives through Qt's JPEG reader while the
// calling thread decodes. Qt prints them as messages of its own, so a
// message handler that keeps those of the reading thread is installed for as
// long as any thread reads; the messages of other threads, and any others,
// go on to the handler it replaced.
class JpegWarningCapture
{
public:
    JpegWarningCapture()
    {
        std::lock_guard<std::mutex> lock(mutex());
        if (users()++ == 0)
            previous().store(qInstallMessageHandler(&JpegWarningCapture::handle));
        current() = &warnings;
    }
    ~JpegWarningCapture()
    {
        current() = nullptr;
        std::lock_guard<std::mutex> lock(mutex());
        if (--users() == 0)
            qInstallMessageHandler(previous().load());
    }
    QString firstDamage() const
    {
        for (const QString &warning : warnings)
            if (isJpegDamageWarning(warning))
                return warning;
        return QString();
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type == QtWarningMsg && current() && isJpegDamageWarning(message)) {
            current()->append(message);
            return;
        }
        if (const QtMessageHandler handler = previous().load())
            handler(type, context, message);
    }
    static std::mutex &mutex()
    {
        static std::mutex instance;
        return instance;
    }
    static int &users()
    {
        static int count = 0;
        return count;
    }
    static std::atomic<QtMessageHandler> &previous()
    {
        static std::atomic<QtMessageHandler> handler{nullptr};
        return handler;
    }
    static QStringList *&current()
    {
        static thread_local QStringList *list = nullptr;
        return list;
    }

    QStringList warnings;
};

// Qt's reader on a file other than JPEG, the format decided from its content.
QSize qtImageSize(const QString &fileName, QByteArray *format)
{
    QImageReader reader(fileName);
    reader.setDecideFormatFromContent(true);
    *format = reader.format();
    return reader.size();
}

bool endsWithEoi(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 2 || !file.seek(file.size() - 2))
        return false;
    return file.read(2) == QByteArray("\xFF\xD9", 2);
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
    if (!header.damage.isEmpty() && !damage) {
        setError(error, damagedFileMessage(fileName, header.damage));
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
    QString jpegDamage;
    {
        JpegWarningCapture capture;
        if (!reader.read(&loaded)) {
            setError(error, QStringLiteral("cannot read %1: %2").arg(displayName(fileName), reader.errorString()));
            return false;
        }
        jpegDamage = capture.firstDamage();
    }
    // A reader that could not tell the size in advance is held to the same
    // limit afterwards.
    if (qint64(loaded.width()) * qint64(loaded.height()) > maxPixels) {
        setError(error, tooLargeMessage(fileName, loaded.size(), maxPixels));
        return false;
    }
    if (!jpegDamage.isEmpty()) {
        const QString description = jpegDamageDescription(jpegDamage, endsWithEoi(fileName));
        if (!damage) {
            setError(error, damagedFileMessage(fileName, description));
            return false;
        }
        *damage = description;
    } else if (damage) {
        *damage = header.damage;
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
