#include "commands/openimagecommand.h"

#include "commands/busycursor.h"
#include "commands/commandcontext.h"
#include "commands/consolelog.h"
#include "commands/failureline.h"
#include "commands/filechooser.h"
#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/imagefile.h"
#include "platform/memorybudget.h"
#include "codec/qimage/regionimagefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPixmap>

#include <new>

namespace veltrano {

namespace {
void openReadableImage(const CommandContext &context, const QString &fileName);

// No usable image: the current one is dropped, so Compress refuses to run.
void markOpenFailed(const CommandContext &context)
{
    *context.currentImage = QImage();
    *context.imageOpened = false;
    appendStatusLine(context.console, QStringLiteral(" - File open failed."));
}

bool hasJpegSuffix(const QString &fileName)
{
    // The last "."-separated part of the whole name, compared exactly: an
    // upper-case "JPG" does not count, and a name without "." is its own
    // last part.
    const QString suffix = fileName.split(QLatin1Char('.')).last();
    return suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg");
}
} // namespace

void openImageCommand(const CommandContext &context)
{
    const QString fileName = chooseImageToOpen(context);
    if (fileName.isEmpty())
        return;
    openImageFile(context, fileName);
}

QString chooseImageToOpen(const CommandContext &context)
{
    return chooseFileToOpen(context.window, QCoreApplication::translate("MainWindow", "Open File"),
                            QDir::currentPath());
}

void openImageFile(const CommandContext &context, const QString &fileName)
{
    BusyCursor busy;
    // Images too large for the memory left are refused from their header;
    // an allocation that fails all the same ends this command only.
    try {
        openReadableImage(context, fileName);
    } catch (const std::bad_alloc &) {
        markOpenFailed(context);
        appendFailureLine(context.console,
                          notEnoughMemoryMessage(QStringLiteral("opening %1").arg(QDir::toNativeSeparators(fileName))));
    }
    releaseFreedMemory();
}

namespace {
void openReadableImage(const CommandContext &context, const QString &fileName)
{
    QImage loaded;
    QString reason;
    QString damage;
    // A region block file is decoded on opening, whatever its name.
    if (isRegionBlockFile(fileName)) {
        loaded = decodeRegionBlockFile(fileName, &reason);
        if (loaded.isNull()) {
            markOpenFailed(context);
            appendFailureLine(context.console, reason);
            return;
        }
        *context.currentImage = loaded;
        appendStatusLine(context.console, QStringLiteral(" - File opened."));
        *context.imageOpened = true;
        appendStatusLine(context.console, QStringLiteral(" - It is a region block file."));
        context.originalPane->setPixmap(QPixmap::fromImage(*context.currentImage));
        context.jpegPane->clear();
        context.hybridPane->clear();
        return;
    }
    if (!readImageFile(fileName, loaded, &reason, maxDecodedPixels, &damage)) {
        // The same reason ftjpeg gives, as a further line.
        markOpenFailed(context);
        appendFailureLine(context.console, reason);
        return;
    }
    *context.currentImage = loaded;
    appendStatusLine(context.console, QStringLiteral(" - File opened."));
    *context.imageOpened = true;
    // A damaged file opens as its decoder gives it, with what is missing.
    if (!damage.isEmpty())
        appendFailureLine(context.console, QStringLiteral("%1 is damaged or truncated: %2")
                                               .arg(QDir::toNativeSeparators(fileName), damage));

    if (hasJpegSuffix(fileName)) {
        // Only read: a write-protected hybrid file opens like any other.
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly))
            return;
        const QByteArray firstLine = readFirstLine(file);
        file.close();
        if (isHybridJpeg(firstLine)) {
            appendStatusLine(context.console, QStringLiteral(" - It is a hybrid JPEG image."));
            // Damage was reported with the plain load already.
            QString hybridDamage;
            const QImage decoded =
                decompressHybrid(fileName, &reason, QStringLiteral("weights_out.txt"), &hybridDamage);
            if (decoded.isNull()) {
                // Without its decoded form the file is no image to work on.
                markOpenFailed(context);
                appendFailureLine(context.console, reason);
                return;
            }
            *context.currentImage = decoded;
            if (!writeImageFile(QStringLiteral("hybrid_decompressed.bmp"), decoded, "bmp", -1, &reason))
                appendFailureLine(context.console, reason);
        } else {
            appendStatusLine(context.console, QStringLiteral(" - It is a standard JPEG image."));
        }
    }

    context.originalPane->setPixmap(QPixmap::fromImage(*context.currentImage));
    context.jpegPane->clear();
    context.hybridPane->clear();
}
} // namespace

} // namespace veltrano
