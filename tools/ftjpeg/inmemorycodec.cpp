// The whole-image halves of ftjpeg's codec commands (inmemorycodec.h).

#include "tools/ftjpeg/inmemorycodec.h"

#include "tools/ftjpeg/cli.h"
#include "tools/ftjpeg/subcommand.h"
#include "tools/ftjpeg/variantcommands.h"

#include "codec/format/bitrate.h"
#include "codec/qimage/directtransform.h"
#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/hybridvariant.h"
#include "codec/qimage/imagefile.h"
#include "codec/qimage/inversetransform.h"
#include "codec/transform/kernel.h"
#include "platform/memorybudget.h"

#include <cstdio>

namespace veltrano {

namespace {

// The decoded image written to output, or the decoder's failure.
int writeDecoded(const QImage &decoded, QString error, const QString &output, const QByteArray &format)
{
    if (decoded.isNull())
        return failure(error);
    if (!writeImageFile(output, decoded, format, -1, &error))
        return failure(error);
    return ExitSuccess;
}

} // namespace

int directInMemory(const QString &input, const QString &output, const QByteArray &format, int step, int radius)
{
    QString error;
    QImage image;
    if (!readImageFile(input, image, &error))
        return failure(error);
    if (image.width() < step || image.height() < step)
        return failure(QStringLiteral("%1: an image of %2 pixels is too small for node spacing %3")
                           .arg(displayName(input), sizeText(image.size()))
                           .arg(step));
    const QImage components = directFTransform(image, step, makeRaisedCosineKernel(radius));
    if (components.isNull())
        return failure(QStringLiteral("%1: cannot compute the component image").arg(displayName(input)));
    if (!writeImageFile(output, components, format, -1, &error))
        return failure(error);
    return ExitSuccess;
}

int inverseInMemory(const QString &input, const QString &output, const QByteArray &format, int width, int height,
                    int step, int radius, const QList<float> &weights, bool withinMemoryLimit)
{
    QString error;
    if (!withinMemoryLimit)
        return failure(QStringLiteral("%1: an image of %2x%3 pixels is made from PPM, PNG or JPEG components "
                                      "only (at most %4 pixels from others)")
                           .arg(displayName(input))
                           .arg(width)
                           .arg(height)
                           .arg(maxDecodedPixels));
    QImage components;
    if (!readImageFile(input, components, &error))
        return failure(error);
    const QImage expanded = inverseFTransform(components, width, height, step, radius, weights, &error);
    if (expanded.isNull())
        return failure(QStringLiteral("%1: %2").arg(displayName(input), error));
    if (!writeImageFile(output, expanded, format, -1, &error))
        return failure(error);
    return ExitSuccess;
}

int compressInMemory(const QString &input, const QString &output, int quality, const QList<float> &weights,
                     const QString &weightsFile, const QString &decodedFile, const QByteArray &decodedFormat)
{
    QString error;
    QImage source;
    if (!readImageFile(input, source, &error))
        return failure(error);
    if (!hybridWeightsSuffice(weights, source.width(), source.height(), &error, weightsFile))
        return failure(error);

    // The hybrid file and the decoded image are made in memory, so no
    // temporary file can outlive the process; each output is written in one
    // piece, the decoded image first, so a failure leaves neither half done.
    if (!fitsHybridJpeg(source, &error))
        return failure(QStringLiteral("cannot compress %1: %2").arg(displayName(input), error));
    const qint64 pixels = qint64(source.width()) * source.height();
    if (!fitsInMemory(pixels * (!decodedFormat.isEmpty() ? 10 : 2),
                      QStringLiteral("compressing %1 (%2 pixels)").arg(displayName(input), sizeText(source.size())),
                      &error))
        return failure(error);
    const QByteArray hybrid = encodeHybridJpeg(source, quality, &error);
    if (hybrid.isEmpty())
        return failure(QStringLiteral("cannot write %1: %2").arg(displayName(output), error));
    if (!decodedFormat.isEmpty()) {
        const QImage decoded = decodeHybridJpeg(hybrid, source.width(), source.height(), weights, &error);
        if (decoded.isNull())
            return failure(QStringLiteral("cannot decode %1: %2").arg(displayName(output), error));
        source = QImage();
        if (!writeImageFile(decodedFile, decoded, decodedFormat, -1, &error))
            return failure(error);
    }
    if (!writeFileAtomically(output, hybrid, &error))
        return failure(error);

    // Bits per pixel as the window reports them: the file's bit count in
    // single precision over the pixel count of IN.
    const double rate = bitsPerPixel(hybrid.size(), pixels);
    std::printf("%s\n", qPrintable(QString::number(rate, 'g', 6)));
    return ExitSuccess;
}

int compressVariantInMemory(const SubcommandParser &parser, const VariantOptions &options, const QString &input,
                            const QString &output, int quality, const QString &weightsFile,
                            const QString &decodedFile, const QByteArray &decodedFormat)
{
    HybridVariant variant;
    int status = ExitSuccess;
    if (!readVariantOptions(options, parser, &variant, &status))
        return status;
    return compressVariant(input, output, quality, variant, weightsFile, decodedFile, decodedFormat);
}

int decompressInMemory(const QString &input, const QString &output, const QByteArray &format,
                       const QList<float> &weights, const QString &weightsFile)
{
    QString error;
    const QImage decoded = decompressHybrid(input, weights, &error, weightsFile);
    return writeDecoded(decoded, error, output, format);
}

int decompressVariantInMemory(const QString &input, const QString &output, const QByteArray &format)
{
    QString error;
    const QImage decoded = decompressHybridVariant(input, &error);
    return writeDecoded(decoded, error, output, format);
}

} // namespace veltrano
