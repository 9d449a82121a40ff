#include "compresscommand.h"

#include "bitrate.h"
#include "busycursor.h"
#include "commandcontext.h"
#include "consolelog.h"
#include "failureline.h"
#include "hybridjpeg.h"
#include "imagefile.h"
#include "weightsfile.h"

#include <QFileInfo>
#include <QLabel>
#include <QPixmap>
#include <QSpinBox>

namespace {
QString bitsPerPixelText(qint64 bytes, const QImage &image)
{
    return QString::number(bitsPerPixel(bytes, qint64(image.width()) * image.height()), 'g', 6);
}
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
        context.jpegPane->setPixmap(QPixmap::fromImage(jpeg));
    } else {
        appendFailureLine(context.console, error);
        context.jpegPane->clear();
    }

    const QImage hybrid = compressHybrid(source, quality + 50, weights, &error, hybridName);
    if (hybrid.isNull()) {
        appendFailureLine(context.console, error);
        context.hybridPane->clear();
    } else {
        context.hybridPane->setPixmap(QPixmap::fromImage(hybrid));
        if (!writeImageFile(QStringLiteral("hybrid_decompressed.bmp"), hybrid, "bmp", -1, &error))
            appendFailureLine(context.console, error);
    }

    if (!jpegWritten || hybrid.isNull())
        return;
    appendResultLine(context.console,
                     QStringLiteral("Hybrid bpp: ") + bitsPerPixelText(QFileInfo(hybridName).size(), source));
    appendResultLine(context.console,
                     QStringLiteral("JPEG bpp: ") + bitsPerPixelText(QFileInfo(jpegName).size(), source));
    appendResultLine(context.console, QStringLiteral("---------------------------"));
}
