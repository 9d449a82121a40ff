#include "tools/ftjpeg/variantcommands.h"

#include "tools/ftjpeg/cli.h"
#include "tools/ftjpeg/subcommand.h"
#include "tools/ftjpeg/subcommandparser.h"

#include "codec/format/bitrate.h"
#include "codec/qimage/imagefile.h"
#include "codec/qimage/inversetransform.h"
#include "codec/format/variantsegment.h"
#include "codec/transform/weightsfile.h"

#include <QFile>

#include <cstdio>

namespace veltrano {

bool readVariantOptions(const VariantOptions &options, const SubcommandParser &parser, HybridVariant *variant,
                        int *status)
{
    HybridVariant result;
    if (!parser.integer(options.step, 1, maxTransformStep, &result.step, status)
        || !parser.integer(options.kernelRadius, 1, maxTransformStep, &result.kernelRadius, status)
        || !parser.integer(options.reconstructRadius, 0, maxTransformStep, &result.reconstructRadius, status))
        return false;
    result.optimize = parser.isSet(options.optimize);
    result.progressive = parser.isSet(options.progressive);
    result.clamp = parser.isSet(options.clamp);
    if (parser.isSet(options.chroma)) {
        const QString value = parser.value(options.chroma);
        if (value != QLatin1String("420") && value != QLatin1String("444")) {
            *status = parser.usageError(QStringLiteral("--chroma must be 420 or 444, not '%1'").arg(value));
            return false;
        }
        result.chroma444 = value == QLatin1String("444");
    }
    const QString invalid = checkHybridVariant(result);
    if (!invalid.isEmpty()) {
        *status = parser.usageError(invalid);
        return false;
    }
    *variant = result;
    return true;
}

int compressVariant(const QString &input, const QString &output, int quality, const HybridVariant &variant,
                    const QString &weightsFile, const QString &decodedFile, const QByteArray &decodedFormat)
{
    QList<float> weights;
    QString error;
    if (!loadWeightsTable(weightsFile, weights, &error))
        return failure(error);
    QImage source;
    if (!readImageFile(input, source, &error))
        return failure(error);
    const int needed =
        requiredWeightCount(source.width(), source.height(), variant.step, variant.reconstructRadius);
    if (weights.size() < needed)
        return failure(shortWeightsTableMessage(weightsFile, weights.size(), needed, variant.step,
                                                variant.reconstructRadius));
    QByteArray data;
    const QImage decoded = compressHybridVariant(source, quality, variant, weights, &data, &error);
    if (decoded.isNull())
        return failure(QStringLiteral("cannot compress %1: %2").arg(displayName(input), error));
    if (!decodedFormat.isEmpty() && !writeImageFile(decodedFile, decoded, decodedFormat, -1, &error))
        return failure(error);
    if (!writeFileAtomically(output, data, &error))
        return failure(error);
    // Every byte of the file counts, the variant segment's too.
    const double rate = bitsPerPixel(data.size(), qint64(source.width()) * source.height());
    std::printf("%s\n", qPrintable(QString::number(rate, 'g', 6)));
    return ExitSuccess;
}

bool describeVariantFile(const QString &fileName, QString *description, QString *error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open %1: %2").arg(displayName(fileName), file.errorString());
        return false;
    }
    VariantSegment segment;
    QString reason;
    if (!parseVariantSegment(file.readAll(), &segment, &reason)) {
        *error = QStringLiteral("cannot decode %1: %2").arg(displayName(fileName), reason);
        return false;
    }
    QStringList coding;
    coding << (segment.flags & VariantChroma444 ? QStringLiteral("chroma 4:4:4") : QStringLiteral("chroma 4:2:0"));
    if (segment.flags & VariantOptimized)
        coding << QStringLiteral("optimized");
    if (segment.flags & VariantProgressive)
        coding << QStringLiteral("progressive");
    if (segment.flags & VariantClamp)
        coding << QStringLiteral("clamped");
    *description = QStringLiteral("hybrid JPEG variant, %1x%2 components, decodes to %3x%4 (step %5, kernel "
                                  "radius %6, reconstruction radius %7, %8 weights, quality %9, %10)")
                       .arg(segment.sourceWidth / segment.step)
                       .arg(segment.sourceHeight / segment.step)
                       .arg(segment.sourceWidth)
                       .arg(segment.sourceHeight)
                       .arg(segment.step)
                       .arg(segment.kernelRadius)
                       .arg(segment.reconstructRadius)
                       .arg(segment.entries.size())
                       .arg(segment.quality)
                       .arg(coding.join(QStringLiteral(", ")));
    return true;
}

} // namespace veltrano
