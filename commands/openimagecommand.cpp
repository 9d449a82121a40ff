#include "openimagecommand.h"

#include "commandcontext.h"
#include "consolelog.h"
#include "filechooser.h"
#include "hybridjpeg.h"
#include "imagefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPixmap>

namespace {
void reportFailedOpen(const CommandContext &context, const QString &reason)
{
    *context.currentImage = QImage();
    *context.imageOpened = false;
    appendStatusLine(context.console, QStringLiteral(" - File open failed."));
    if (!reason.isEmpty())
        appendStatusLine(context.console, QStringLiteral(" - ") + reason);
}
} // namespace

void openImageCommand(const CommandContext &context)
{
    const QString fileName = chooseFileToOpen(
        context.window, QCoreApplication::translate("MainWindow", "Open File"), QDir::currentPath());
    if (fileName.isEmpty())
        return;

    QImage loaded;
    QString reason;
    if (!readImageFile(fileName, loaded, &reason)) {
        reportFailedOpen(context, reason);
        return;
    }
    *context.currentImage = loaded;
    appendStatusLine(context.console, QStringLiteral(" - File opened."));
    *context.imageOpened = true;

    // Only names whose last "."-separated part is exactly "jpg" or "jpeg"
    // are tested for the hybrid marker.
    const QString suffix = fileName.split(QLatin1Char('.')).last();
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg")) {
        // Read-only: a write-protected hybrid file must open like any other.
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly))
            return;
        const QByteArray firstLine = readFirstLine(file);
        file.close();
        if (isHybridJpeg(firstLine)) {
            appendStatusLine(context.console, QStringLiteral(" - It is a hybrid JPEG image."));
            const QImage decoded = decompressHybrid(fileName, &reason);
            if (decoded.isNull()) {
                reportFailedOpen(context, reason);
                return;
            }
            *context.currentImage = decoded;
            if (!writeImageFile(QStringLiteral("hybrid_decompressed.bmp"), decoded, "bmp", -1, &reason))
                appendStatusLine(context.console, QStringLiteral(" - ") + reason);
        } else {
            appendStatusLine(context.console, QStringLiteral(" - It is a standard JPEG image."));
        }
    }

    context.originalPane->setPixmap(QPixmap::fromImage(*context.currentImage));
    context.jpegPane->clear();
    context.hybridPane->clear();
}
