#include "codec/qimage/regionimagefile.h"

#include "codec/format/hybridmarker.h"
#include "codec/format/imageheader.h"
#include "platform/memorybudget.h"
#include "codec/region/regionencoder.h"
#include "codec/region/regionexpansion.h"
#include "codec/region/regionfile.h"
#include "codec/region/regiontext.h"
#include "codec/rowio/imagerowreader.h"
#include "codec/rowio/imagerowwriter.h"
#include "codec/rowio/streamoutputfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

// The first bytes of a regular file, enough to tell the block files apart;
// empty when it is not one or cannot be read. Never opened unless regular: a
// FIFO would wait for a writer.
QByteArray startOfFile(const QString &fileName)
{
    if (!isRegularFile(fileName, nullptr))
        return QByteArray();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(16);
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
    const QByteArray start = startOfFile(fileName);
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

StreamOutcome streamRegionCompress(const QString &input, const QString &output, const RegionParameters &parameters,
                                   qint64 *pixels, qint64 *bytes, QString *error)
{
    StreamOutcome refused = StreamOutcome::NotStreamed;
    std::unique_ptr<ImageRowReader> reader = openStreamInput(input, error, &refused);
    if (!reader)
        return refused;
    StreamOutputFile file(output);
    if (!file.open()) {
        *error = file.error();
        return StreamOutcome::Failed;
    }
    auto row = [&reader](int y) -> const uint32_t * {
        const uint32_t *pixels = reader->row(y);
        return reader->failed() ? nullptr : pixels;
    };
    auto write = [&file](const QByteArray &chunk) { return file.write(chunk.constData(), chunk.size()); };
    // The header goes last, over the bytes kept for it here.
    QByteArray header(regionFileHeaderSize, '\0');
    QString fault;
    const bool coded = file.write(header.constData(), header.size())
        && encodeRegionRows(reader->width(), reader->height(), parameters, row, write, &header, &fault);
    if (reader->failed() || (coded && !reader->finish()))
        return streamReaderFailure(*reader, error);
    if (!coded && !fault.isEmpty()) {
        *error = QStringLiteral("cannot compress %1: %2").arg(QDir::toNativeSeparators(input), fault);
        return StreamOutcome::Failed;
    }
    if (!coded || !file.overwrite(0, header) || !file.commit()) {
        *error = file.error();
        return StreamOutcome::Failed;
    }
    *pixels = qint64(reader->width()) * reader->height();
    *bytes = file.size();
    return StreamOutcome::Done;
}

StreamOutcome streamRegionDecompress(const QString &input, const QString &output, const QByteArray &format,
                                     QString *error)
{
    // The resolution the in-memory path's new image gets, the same both ways
    // unless a screen says otherwise.
    const QImage fresh(1, 1, QImage::Format_ARGB32);
    if (!ImageRowWriter::handles(format) || fresh.dotsPerMeterX() != fresh.dotsPerMeterY())
        return StreamOutcome::NotStreamed;
    // Text files (which start with the same magic) and anything else are
    // left to the in-memory path before they are read.
    const QByteArray start = startOfFile(input);
    if (isRegionTextFile(start) || !isRegionFile(start))
        return StreamOutcome::NotStreamed;
    QByteArray data;
    if (!readWholeFile(input, &data, error))
        return StreamOutcome::Failed;
    std::unique_ptr<ImageRowWriter> writer;
    std::vector<uint32_t> band;
    int rowBase = 0;
    auto begin = [&](const RegionImage &header, QString *reason) {
        writer = ImageRowWriter::create(output, format, header.width, header.height, fresh.dotsPerMeterX(), -1);
        band.resize(size_t(header.width) * size_t(header.rootSide));
        if (!writer->start()) {
            *reason = writer->error();
            return false;
        }
        return true;
    };
    bool written = true;
    auto rowDone = [&](const RegionImage &rows, int first) {
        expandRegionBlocks(rows, first, band.data(), rows.width, rowBase);
        const int count = qMin(rows.rootSide, rows.height - rowBase);
        for (int y = 0; y < count && written; ++y)
            written = writer->writeRow(band.data() + size_t(y) * size_t(rows.width));
        rowBase += rows.rootSide;
    };
    QString reason;
    if (!decodeRegionFile(data, maxDecodedPixels, &reason, begin, rowDone)) {
        // A writer that would not start said why in its own words.
        *error = writer && !writer->error().isEmpty()
            ? writer->error()
            : QStringLiteral("cannot decode %1: %2").arg(QDir::toNativeSeparators(input), reason);
        return StreamOutcome::Failed;
    }
    if (!written || !writer->finish()) {
        *error = writer->error();
        return StreamOutcome::Failed;
    }
    return StreamOutcome::Done;
}

} // namespace veltrano
