#include "imagefile.h"

#include "hybridjpeg.h"

#include <QBuffer>
#include <QDir>
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

} // namespace

bool readImageFile(const QString &fileName, QImage &image, QString *error)
{
    return readImageFile(fileName, image, error, maxDecodedPixels);
}

bool readImageFile(const QString &fileName, QImage &image, QString *error, qint64 maxPixels)
{
    image = QImage();
    QImageReader reader(fileName);
    reader.setDecideFormatFromContent(true);
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * qint64(size.height()) > maxPixels) {
        setError(error, QStringLiteral("cannot read %1: an image of %2x%3 pixels is too large (at most %4 pixels)")
                            .arg(displayName(fileName))
                            .arg(size.width())
                            .arg(size.height())
                            .arg(maxPixels));
        return false;
    }
    QImage loaded;
    if (!reader.read(&loaded)) {
        setError(error, QStringLiteral("cannot read %1: %2").arg(displayName(fileName), reader.errorString()));
        return false;
    }
    // A reader that could not tell the size in advance is held to the same
    // limit afterwards.
    if (qint64(loaded.width()) * qint64(loaded.height()) > maxPixels) {
        setError(error, QStringLiteral("cannot read %1: an image of %2x%3 pixels is too large (at most %4 pixels)")
                            .arg(displayName(fileName))
                            .arg(loaded.width())
                            .arg(loaded.height())
                            .arg(maxPixels));
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
