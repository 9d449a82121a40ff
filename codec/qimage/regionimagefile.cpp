#include "codec/qimage/regionimagefile.h"

#include "codec/format/hybridmarker.h"
#include "codec/format/imageheader.h"
#include "platform/memorybudget.h"
#include "codec/region/regionencoder.h"
#include "codec/region/regionexpansion.h"
#include "codec/region/regionfile.h"
#include "codec/region/regiontext.h"

#include <QDir>
#include <QFile>

namespace veltrano {

bool encodeRegionQImage(const QImage &image, const RegionParameters &parameters, RegionImage *blocks,
                        QString *error)
{
    const QImage source = image.convertToFormat(QImage::Format_RGB32);
    if (source.isNull()) {
        if (error)
            *error = QStringLiteral("the image is empty");
        return false;
    }
    return encodeRegionImage(reinterpret_cast<const uint32_t *>(source.constBits()), source.bytesPerLine() / 4,
                             source.width(), source.height(), parameters, blocks, error);
}

namespace {

// An image of the block file's size, when it fits in the memory left.
QImage allocateRegionQImage(const RegionImage &blocks, QString *error)
{
    const QString what = QStringLiteral("decoding an image of %1x%2 pixels").arg(blocks.width).arg(blocks.height);
    if (!fitsInMemory(qint64(blocks.width) * blocks.height * 4, what, error))
        return QImage();
    QImage image(blocks.width, blocks.height, QImage::Format_ARGB32);
    if (image.isNull()) {
        if (error)
            *error = notEnoughMemoryMessage(what);
        return QImage();
    }
    return image;
}

// The bytes of a regular file, with the file's name in every message.
bool readWholeFile(const QString &fileName, QByteArray *data, QString *error)
{
    const QString name = QDir::toNativeSeparators(fileName);
    if (!isRegularFile(fileName, error))
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(name, file.errorString());
        return false;
    }
    if (!fitsInMemory(file.size(), QStringLiteral("reading %1").arg(name), error))
        return false;
    *data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(name, file.errorString());
        return false;
    }
    return true;
}

} // namespace

QImage expandRegionQImage(const RegionImage &blocks, QString *error)
{
    QImage image = allocateRegionQImage(blocks, error);
    if (!image.isNull())
        expandRegionImage(blocks, reinterpret_cast<uint32_t *>(image.bits()), image.bytesPerLine() / 4);
    return image;
}

bool isRegionBlockFile(const QString &fileName)
{
    // Never opened unless regular: a FIFO would wait for a writer.
    if (!isRegularFile(fileName, nullptr))
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray start = file.read(16);
    return isRegionFile(start) || isRegionTextFile(start);
}

bool readRegionBlockFile(const QString &fileName, RegionImage *blocks, QString *error)
{
    const QString name = QDir::toNativeSeparators(fileName);
    QString reason;
    QByteArray data;
    if (!readWholeFile(fileName, &data, error))
        return false;
    const bool ok = isRegionTextFile(data) ? readRegionText(data, blocks, &reason, maxDecodedPixels)
                                           : readRegionFile(data, blocks, &reason, maxDecodedPixels);
    if (!ok && error)
        *error = QStringLiteral("cannot decode %1: %2").arg(name, reason);
    return ok;
}

QImage decodeRegionBlockFile(const QString &fileName, QString *error)
{
    QByteArray data;
    if (!readWholeFile(fileName, &data, error))
        return QImage();
    if (isRegionTextFile(data)) {
        RegionImage blocks;
        QString reason;
        if (!readRegionText(data, &blocks, &reason, maxDecodedPixels)) {
            if (error)
                *error = QStringLiteral("cannot decode %1: %2").arg(QDir::toNativeSeparators(fileName), reason);
            return QImage();
        }
        return expandRegionQImage(blocks, error);
    }
    // A compressed file is expanded one row of roots at a time, as it is
    // decoded, so only that row's components are held.
    QImage image;
    auto begin = [&](const RegionImage &header, QString *reason) {
        image = allocateRegionQImage(header, reason);
        return !image.isNull();
    };
    auto rowDone = [&](const RegionImage &rows, int first) {
        expandRegionBlocks(rows, first, reinterpret_cast<uint32_t *>(image.bits()), image.bytesPerLine() / 4);
    };
    QString reason;
    if (!decodeRegionFile(data, maxDecodedPixels, &reason, begin, rowDone)) {
        if (error)
            *error = QStringLiteral("cannot decode %1: %2").arg(QDir::toNativeSeparators(fileName), reason);
        return QImage();
    }
    return image;
}

} // namespace veltrano
