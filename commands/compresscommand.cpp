#include "commands/compresscommand.h"

#include "codec/format/bitrate.h"
#include "commands/busycursor.h"
#include "commands/commandcontext.h"
#include "commands/consolelog.h"
#include "commands/failureline.h"
#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/imagefile.h"
#include "platform/memorybudget.h"
#include "codec/transform/weightsfile.h"

#include <QFileInfo>
#include <QLabel>
#include <QPixmap>
#include <QSpinBox>

#include <new>
#include <utility>

namespace veltrano {

namespace {
QString bitsPerPixelText(qint64 bytes, const QImage &image)
{
    return QString::number(bitsPerPixel(bytes, qint64(image.width()) * image.height()), 'g', 6);
}
void compressOpenedImage(const CommandContext &context, const QList<float> &weights);
} // namespace

void compressCommand(const CommandContext &context)
{
    if (!*context.imageOpened) {
        appendStatusLine(context.console, QStringLiteral(" - No file selected!"));
        return;
    }
    BusyCursor busy;
    QList<float> weights;
    if (!readWeightsFile(weights))
        return;

    // The panes' earlier results go first: this run replaces them, and the
    // memory they hold counts for it. Work that cannot fit in the memory left
    // is refused before it starts; an allocation that fails all the same
    // ends this command only, and what the command used is given back.
    context.jpegPane->clear();
    context.hybridPane->clear();
    releaseFreedMemory();
    const QImage &source = *context.currentImage;
    QString error;
    if (!fitsInMemory(qint64(source.width()) * source.height() * 12,
                      QStringLiteral("Compress of an image of %1x%2 pixels").arg(source.width()).arg(source.height()),
                      &error)) {
        appendFailureLine(context.console, error);
        return;
    }
    try {
        compressOpenedImage(context, weights);
    } catch (const std::bad_alloc &) {
        context.jpegPane->clear();
        context.hybridPane->clear();
        appendFailureLine(context.console,
                          notEnoughMemoryMessage(QStringLiteral("Compress of an image of %1x%2 pixels")
                                                     .arg(source.width())
                                                     .arg(source.height())));
    }
    releaseFreedMemory();
}

namespace {
void compressOpenedImage(const CommandContext &context, const QList<float> &weights)
{
    const int quality = context.quality->value();
    const QImage &source = *context.currentImage;
    const QString jpegName = QStringLiteral("jpeg.jpg");
    const QString hybridName = QStringLiteral("hybrid.jpg");
    QString error;

    // Every failed save or load is reported with its file and reason, and the
    // pane it would have filled is emptied rather than left showing an
    // earlier result. The bit rates are given only when both files were
    // written by this run, never from a file an earlier run left behind.
    const bool jpegWritten = writeImageFile(jpegName, source, "jpg", quality, &error);
    QImage jpeg;
    if (jpegWritten && readImageFile(jpegName, jpeg, &error)) {
        context.jpegPane->setPixmap(QPixmap::fromImage(std::move(jpeg)));
    } else {
        appendFailureLine(context.console, error);
        context.jpegPane->clear();
    }

    QImage hybrid = compressHybrid(source, quality + 50, weights, &error, hybridName);
    const bool hybridMade = !hybrid.isNull();
    if (!hybridMade) {
        appendFailureLine(context.console, error);
        context.hybridPane->clear();
    } else {
        if (!writeImageFile(QStringLiteral("hybrid_decompressed.bmp"), hybrid, "bmp", -1, &error))
            appendFailureLine(context.console, error);
        context.hybridPane->setPixmap(QPixmap::fromImage(std::move(hybrid)));
    }

    if (!jpegWritten || !hybridMade)
        return;
    appendResultLine(context.console,
                     QStringLiteral("Hybrid bpp: ") + bitsPerPixelText(QFileInfo(hybridName).size(), source));
    appendResultLine(context.console,
                     QStringLiteral("JPEG bpp: ") + bitsPerPixelText(QFileInfo(jpegName).size(), source));
    appendResultLine(context.console, QStringLiteral("---------------------------"));
}
} // namespace

} // namespace veltrano
