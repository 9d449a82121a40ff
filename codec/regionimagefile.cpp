#include "regionimagefile.h"

#include "hybridmarker.h"
#include "imageheader.h"
#include "memorybudget.h"
#include "region/regionencoder.h"
#include "region/regionexpansion.h"
#include "region/regionfile.h"
#include "region/regiontext.h"

#include <QDir>
#include <QFile>

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

QImage expandRegionQImage(const RegionImage &blocks, QString *error)
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
    if (!isRegularFile(fileName, &reason)) {
        if (error)
            *error = reason;
        return false;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(name, file.errorString());
        return false;
    }
    // A compressed file is checked from its header before its data are
    // decoded, so reading it whole costs only its size.
    if (!fitsInMemory(file.size(), QStringLiteral("reading %1").arg(name), error))
        return false;
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(name, file.errorString());
        return false;
    }
    const bool ok = isRegionTextFile(data) ? readRegionText(data, blocks, &reason, maxDecodedPixels)
                                           : readRegionFile(data, blocks, &reason, maxDecodedPixels);
    if (!ok && error)
        *error = QStringLiteral("cannot decode %1: %2").arg(name, reason);
    return ok;
}

QImage decodeRegionBlockFile(const QString &fileName, QString *error)
{
    RegionImage blocks;
    if (!readRegionBlockFile(fileName, &blocks, error))
        return QImage();
    return expandRegionQImage(blocks, error);
}
