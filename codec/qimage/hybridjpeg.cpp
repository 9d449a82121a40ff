#include "codec/qimage/hybridjpeg.h"
#include "platform/messagetext.h"

#include "codec/qimage/directtransform.h"
#include "codec/qimage/hybridvariant.h"
#include "codec/qimage/imagefile.h"
#include "codec/qimage/inversetransform.h"
#include "codec/transform/kernel.h"
#include "codec/transform/weightsfile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>

#include <cstdio>

namespace veltrano {

namespace {

// The fixed geometry of the hybrid codec.
constexpr int hybridStep = 2;
constexpr int hybridKernelRadius = 2;
constexpr int hybridRadius = 1;

QImage fail(QString *error, const QString &message)
{
    setError(error, message);
    return QImage();
}

bool tooSmallForComponents(const QImage &source)
{
    return source.isNull() || source.width() < hybridStep || source.height() < hybridStep;
}

QString tooSmallMessage(const QImage &source)
{
    return QStringLiteral("an image of %1x%2 pixels is too small for a component image "
                          "(at least %3x%3 pixels are needed)")
        .arg(source.width())
        .arg(source.height())
        .arg(hybridStep);
}

// Whether components of the given size are what a source of width x height
// stores; false, with *error set, otherwise.
bool componentsFit(const QSize &components, int width, int height, const QString &name, QString *error)
{
    const QSize expected(width / hybridStep, height / hybridStep);
    if (components == expected)
        return true;
    setError(error, QStringLiteral("%1 reads back at %2x%3 pixels instead of %4x%5")
                        .arg(name)
                        .arg(components.width())
                        .arg(components.height())
                        .arg(expected.width())
                        .arg(expected.height()));
    return false;
}

QImage decodeHybridFile(const QString &fileName, const QList<float> &weights, const QString &tableName,
                        QString *error, QString *damage = nullptr)
{
    // A variant file carries its own parameters and weights.
    if (isHybridVariantFile(fileName))
        return decompressHybridVariant(fileName, error);
    // The decoded image has twice the width and height of the stored one, so
    // the stored size is checked from the header before anything is read.
    const qint64 maxStoredPixels = maxDecodedPixels / 4;
    {
        const QSize size = readImageSize(fileName);
        if (size.isValid() && qint64(size.width()) * qint64(size.height()) > maxStoredPixels)
            return fail(error, QStringLiteral("cannot decode %1: its %2x%3 components would expand to %4x%5 "
                                              "pixels, more than %6")
                                   .arg(displayName(fileName))
                                   .arg(size.width())
                                   .arg(size.height())
                                   .arg(qint64(size.width()) * 2)
                                   .arg(qint64(size.height()) * 2)
                                   .arg(maxDecodedPixels));
    }
    QImage components;
    QString reason;
    if (!readImageFile(fileName, components, &reason, maxStoredPixels, damage))
        return fail(error, reason);

    const int width = components.width() * 2;
    const int height = components.height() * 2;
    if (!hybridWeightsSuffice(weights, width, height, error, tableName))
        return QImage();
    return withFixedResolution(
        inverseFTransform(components, width, height, hybridStep, hybridRadius, weights, error));
}

} // namespace

QImage withFixedResolution(QImage image)
{
    if (!image.isNull()) {
        image.setDotsPerMeterX(hybridDotsPerMeter);
        image.setDotsPerMeterY(hybridDotsPerMeter);
    }
    return image;
}

bool fitsHybridJpeg(const QImage &source, QString *error)
{
    if (!tooSmallForComponents(source))
        return true;
    setError(error, tooSmallMessage(source));
    return false;
}

bool hybridWeightsSuffice(const QList<float> &weights, int width, int height, QString *error, const QString &tableName)
{
    const int needed = requiredWeightCount(width, height, hybridStep, hybridRadius);
    if (weights.size() >= needed)
        return true;
    setError(error, shortWeightsTableMessage(tableName, weights.size(), needed, hybridStep, hybridRadius));
    return false;
}

QByteArray encodeHybridJpeg(const QImage &source, int quality, QString *error)
{
    // Qt's JPEG writer would take a negative quality for its default and
    // clamp one above 100; neither is what the caller asked for.
    if (quality < 0 || quality > 100) {
        setError(error, QStringLiteral("JPEG quality %1 is outside 0 to 100").arg(quality));
        return QByteArray();
    }
    if (!fitsHybridJpeg(source, error))
        return QByteArray();
    const QImage components =
        withFixedResolution(directFTransform(source, hybridStep, makeRaisedCosineKernel(hybridKernelRadius)));
    if (components.isNull()) {
        setError(error, QStringLiteral("cannot compute the component image of %1x%2 pixels")
                            .arg(source.width())
                            .arg(source.height()));
        return QByteArray();
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpg");
    writer.setQuality(quality);
    if (!writer.write(components)) {
        setError(error, writer.errorString());
        return QByteArray();
    }
    markHybridJpegData(data);
    return data;
}

QImage compressHybrid(const QImage &source, int quality, const QList<float> &weights, QString *error,
                      const QString &fileName)
{
    if (quality < 0 || quality > 100)
        return fail(error, QStringLiteral("cannot write %1: JPEG quality %2 is outside 0 to 100")
                               .arg(displayName(fileName))
                               .arg(quality));
    const int width = source.width();
    const int height = source.height();
    if (!fitsHybridJpeg(source, error) || !hybridWeightsSuffice(weights, width, height, error))
        return QImage();

    // Encoded in memory, marked, then written in one piece: a failure leaves
    // no truncated file and keeps any earlier file of that name.
    QString reason;
    const QByteArray data = encodeHybridJpeg(source, quality, &reason);
    if (data.isEmpty())
        return fail(error, QStringLiteral("cannot write %1: %2").arg(displayName(fileName), reason));
    if (!writeFileAtomically(fileName, data, &reason))
        return fail(error, reason);

    // The expansion works on the components as the file gives them back.
    QImage decoded;
    if (!readImageFile(fileName, decoded, &reason))
        return fail(error, reason);
    if (!componentsFit(decoded.size(), width, height, displayName(fileName), error))
        return QImage();
    return withFixedResolution(inverseFTransform(decoded, width, height, hybridStep, hybridRadius, weights, error));
}

QImage decodeHybridJpeg(const QByteArray &data, int width, int height, const QList<float> &weights, QString *error)
{
    if (!hybridWeightsSuffice(weights, width, height, error))
        return QImage();
    const QString name = QStringLiteral("the hybrid data");
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    const QSize declared = reader.size();
    if (declared.isValid() && !componentsFit(declared, width, height, name, error))
        return QImage();
    QImage components;
    if (!reader.read(&components))
        return fail(error, QStringLiteral("cannot decode %1: %2").arg(name, reader.errorString()));
    if (!componentsFit(components.size(), width, height, name, error))
        return QImage();
    return withFixedResolution(inverseFTransform(components, width, height, hybridStep, hybridRadius, weights, error));
}

QImage decompressHybrid(const QString &fileName, QString *error, const QString &weightsFile, QString *damage)
{
    if (isHybridVariantFile(fileName))
        return decompressHybridVariant(fileName, error);
    QList<float> weights;
    QString reason;
    if (!loadWeightsTable(weightsFile, weights, &reason)) {
        std::fputs("cannot open weights file!", stdout);
        std::fflush(stdout);
        return fail(error, reason);
    }
    return decodeHybridFile(fileName, weights, weightsFile, error, damage);
}

QImage decompressHybrid(const QString &fileName, const QList<float> &weights, QString *error)
{
    return decodeHybridFile(fileName, weights, QString(), error);
}

QImage decompressHybrid(const QString &fileName, const QList<float> &weights, QString *error,
                        const QString &weightsName)
{
    return decodeHybridFile(fileName, weights, weightsName, error);
}

} // namespace veltrano
