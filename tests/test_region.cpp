// The region codec: partition, expansion against a per-pixel reference,
// the two block files, damaged files and the component-grid distance.

#include "commandsupport.h"
#include "app/mainwindow.h"
#include "testsupport.h"

#include "metrics/imagemetrics.h"
#include "codec/transform/kernel.h"
#include "codec/qimage/regionimagefile.h"
#include "codec/region/binaryrangecoder.h"
#include "codec/region/gridsimilarity.h"
#include "codec/region/interleavedranscoder.h"
#include "codec/region/regionexpansion.h"
#include "codec/region/regionencoder.h"
#include "codec/region/regionfile.h"
#include "codec/region/regiontext.h"

#include <QtTest>

#include <cmath>
#include <cstring>

using namespace veltrano;

namespace {

// The block file's pixels computed pixel by pixel from the documented
// arithmetic: the two nodes enclosing the pixel along each axis, the
// raised-cosine weights of makeRaisedCosineKernel, x first, then y, then the
// BT.601 conversion with rounding to the nearest.
QImage referenceExpansion(const RegionImage &image)
{
    QImage out(image.width, image.height, QImage::Format_ARGB32);
    out.fill(Qt::magenta);
    for (const RegionBlock &block : image.blocks) {
        const int spacings[3] = {block.lumaSpacing, qMin(2 * block.lumaSpacing, block.side),
                                 qMin(2 * block.lumaSpacing, block.side)};
        for (int y = 0; y < block.height; ++y)
            for (int x = 0; x < block.width; ++x) {
                float value[3];
                qint64 offset = block.offset;
                for (int c = 0; c < 3; ++c) {
                    const int s = spacings[c];
                    const int nx = int(std::ceil((block.width - 1) / double(s))) + 1;
                    const int ny = int(std::ceil((block.height - 1) / double(s))) + 1;
                    const QList<float> a = makeRaisedCosineKernel(s);
                    const float step = c == 0 ? image.lumaStep : image.chromaStep;
                    auto node = [&](int i, int j) {
                        return float(image.components[size_t(offset + qMin(j, ny - 1) * nx + qMin(i, nx - 1))]) * step;
                    };
                    const int i = x / s, j = y / s, dx = x % s, dy = y % s;
                    const float top = a[dx] * node(i, j) + a[s - dx] * node(i + 1, j);
                    const float bottom = a[dx] * node(i, j + 1) + a[s - dx] * node(i + 1, j + 1);
                    value[c] = a[dy] * top + a[s - dy] * bottom;
                    offset += nx * ny;
                }
                const float u = value[1] - 128.0f, v = value[2] - 128.0f;
                const float rgb[3] = {value[0] + 1.402f * v, value[0] - 0.344136f * u - 0.714136f * v,
                                      value[0] + 1.772f * u};
                int channel[3];
                for (int k = 0; k < 3; ++k)
                    channel[k] = int(std::floor(qBound(0.0f, rgb[k], 255.0f) + 0.5f));
                out.setPixel(block.x + x, block.y + y, qRgb(channel[0], channel[1], channel[2]));
            }
    }
    return out;
}

void setWord(QByteArray &bytes, int offset, quint32 value)
{
    for (int k = 0; k < 4; ++k)
        bytes[offset + k] = char(value >> (24 - 8 * k));
}

RegionImage encode(const QImage &image, RegionParameters parameters)
{
    RegionImage blocks;
    QString error;
    if (!encodeRegionQImage(image, parameters, &blocks, &error))
        qFatal("%s", qPrintable(error));
    return blocks;
}

} // namespace

class TestRegion : public QObject
{
    Q_OBJECT

private slots:
    void flatImageIsOneBlockPerRoot();
    void sharpEdgeSplitsAlongIt();
    void photoDecodesAsTheReferenceInBothFiles();
    void expansionMatchesTheReferenceOnPhotos();
    void damagedFilesAreRefused();
    void coderDecodesWhatItCodes();
    void gridDistance();
    void commandLine();
    void windowOpensBlockFiles();
};

void TestRegion::flatImageIsOneBlockPerRoot()
{
    QImage flat(200, 130, QImage::Format_RGB32);
    flat.fill(qRgb(90, 140, 200));
    const RegionImage blocks = encode(flat, RegionParameters());
    QCOMPARE(blocks.blocks.size(), 4 * 3);
    for (const RegionBlock &block : blocks.blocks) {
        QCOMPARE(block.side, regionRootSide);
        QCOMPARE(block.lumaSpacing, regionRootSide);
    }
    QCOMPARE(blocks.blocks.last().width, 200 - 3 * 64);
    QCOMPARE(blocks.blocks.last().height, 130 - 2 * 64);
    // Every root after the first is coded as a copy of the one before: a
    // few bytes beside the chunk's 8 (rows, size) and the coder's fixed 16
    // (length, checksum, two states).
    QVERIFY(writeRegionFile(blocks).size() < regionFileHeaderSize + 8 + 16 + 16);
    QVERIFY(writeRegionFile(blocks, 2).size() < regionFileHeaderSize + 24);
    QString error;
    const QImage decoded = expandRegionQImage(blocks, &error);
    for (int y = 0; y < decoded.height(); ++y)
        for (int x = 0; x < decoded.width(); ++x)
            QCOMPARE(decoded.pixel(x, y), decoded.pixel(0, 0));
    QVERIFY(psnr(flat, decoded) > 45.0);
}

void TestRegion::sharpEdgeSplitsAlongIt()
{
    QImage edge(64, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            edge.setPixel(x, y, x < 37 ? qRgb(20, 30, 40) : qRgb(230, 220, 200));
    RegionParameters parameters;
    parameters.backRejoin = 0;
    const RegionImage blocks = encode(edge, parameters);
    int straddling = 0;
    for (const RegionBlock &block : blocks.blocks) {
        if (block.x < 37 && block.x + block.width > 37) {
            ++straddling;
            QCOMPARE(block.side, 2); // the smallest side for min area 4
        } else {
            QCOMPARE(block.lumaSpacing, block.side); // flat on either side: the coarsest grid
        }
    }
    QCOMPARE(straddling, 32);
    QCOMPARE(blocks.blocks.first().side, 32); // the left half's top quarter, whole
    QString error;
    QVERIFY(psnr(edge, expandRegionQImage(blocks, &error)) > 40.0);
    // On texture, rejoining siblings saves components within the same max diff.
    const QImage texture = loadPhoto(QStringLiteral("gravel.png")).copy(0, 0, 128, 128);
    qint64 components[2] = {0, 0};
    for (int rejoin = 0; rejoin < 2; ++rejoin) {
        parameters.backRejoin = rejoin;
        const RegionImage partition = encode(texture, parameters);
        QVERIFY(checkRegionPartition(partition, &error));
        for (const RegionBlock &block : partition.blocks)
            components[rejoin] += regionBlockComponentCount(block);
    }
    QVERIFY2(components[1] < components[0], qPrintable(QStringLiteral("%1 %2").arg(components[1]).arg(components[0])));
}

void TestRegion::photoDecodesAsTheReferenceInBothFiles()
{
    // An odd-sized crop, so that border blocks are clipped both ways.
    const QImage photo = loadPhoto(QStringLiteral("chelsea.png")).copy(37, 21, 203, 141);
    for (const float maxDiff : {0.5f, 6.0f}) {
        RegionParameters parameters;
        parameters.maxDiff = maxDiff;
        parameters.edge = maxDiff > 1 ? 60.0f : 0.0f;
        parameters.sim = maxDiff > 1 ? 3.0f : 0.0f;
        const RegionImage blocks = encode(photo, parameters);
        QString error;
        QVERIFY2(checkRegionPartition(blocks, &error), qPrintable(error));
        const QImage decoded = expandRegionQImage(blocks, &error);
        QCOMPARE(decoded, referenceExpansion(blocks));
        if (maxDiff < 1)
            QVERIFY(psnr(photo, decoded) >= 40.0);

        const QByteArray compressed = writeRegionFile(blocks);
        const QByteArray text = writeRegionText(blocks);
        RegionImage fromCompressed, fromText;
        QVERIFY2(readRegionFile(compressed, &fromCompressed, &error, 1 << 28), qPrintable(error));
        QVERIFY2(readRegionText(text, &fromText, &error, 1 << 28), qPrintable(error));
        QCOMPARE(expandRegionQImage(fromCompressed, &error), decoded);
        QCOMPARE(expandRegionQImage(fromText, &error), decoded);
        QCOMPARE(writeRegionFile(fromText), compressed);
        QCOMPARE(writeRegionText(fromCompressed), text);
        // Version 2 (the range coder) and 3 (one rANS stream) files still
        // read, and so does a chunk a row of roots, to the same blocks.
        QCOMPARE(int(compressed.at(8)), 4);
        for (const QByteArray &other : {writeRegionFile(blocks, 2), writeRegionFile(blocks, 3),
                                        writeRegionFile(blocks, 4, 1)}) {
            RegionImage fromOther;
            QVERIFY2(readRegionFile(other, &fromOther, &error, 1 << 28), qPrintable(error));
            QCOMPARE(writeRegionText(fromOther), text);
        }
        // Encoded row by row straight into the file, the same bytes.
        QByteArray streamed, header;
        const QImage rgb = photo.convertToFormat(QImage::Format_RGB32);
        auto row = [&rgb](int y) { return reinterpret_cast<const uint32_t *>(rgb.constScanLine(y)); };
        auto write = [&streamed](const QByteArray &chunk) { return streamed.append(chunk), true; };
        QVERIFY2(encodeRegionRows(rgb.width(), rgb.height(), parameters, row, write, &header, &error),
                 qPrintable(error));
        QCOMPARE(header + streamed, compressed);
    }
}

void TestRegion::expansionMatchesTheReferenceOnPhotos()
{
    // Every spacing from 1 to the root's, blocks clipped at odd borders and
    // rows of every width, through the whole-image expansion and through the
    // row-by-row decoding of the compressed file, against the per-pixel
    // reference.
    const struct
    {
        const char *photo;
        QRect crop;
        int minArea;
        float maxDiff;
    } cases[] = {
        {"camera.png", QRect(101, 63, 131, 97), 1, 1.0f},   {"gravel.png", QRect(0, 0, 130, 67), 4, 3.0f},
        {"astronaut.png", QRect(250, 40, 71, 139), 16, 2.0f}, {"brick.png", QRect(7, 9, 200, 70), 4, 12.0f},
        {"chelsea.png", QRect(0, 0, 67, 66), 1, 40.0f},
    };
    for (const auto &item : cases) {
        RegionParameters parameters;
        parameters.minArea = item.minArea;
        parameters.maxDiff = item.maxDiff;
        const RegionImage blocks = encode(loadPhoto(QLatin1String(item.photo)).copy(item.crop), parameters);
        const QImage reference = referenceExpansion(blocks);
        QString error;
        QCOMPARE(commandtest::rgbDifference(expandRegionQImage(blocks, &error), reference), QString());
        QImage rows(blocks.width, blocks.height, QImage::Format_ARGB32);
        rows.fill(Qt::magenta);
        auto rowDone = [&](const RegionImage &decoded, int first) {
            expandRegionBlocks(decoded, first, reinterpret_cast<uint32_t *>(rows.bits()), rows.bytesPerLine() / 4);
        };
        for (const QByteArray &file : {writeRegionFile(blocks, 2), writeRegionFile(blocks, 3), writeRegionFile(blocks),
                                       writeRegionFile(blocks, 4, 1)}) {
            rows.fill(Qt::magenta);
            QVERIFY2(decodeRegionFile(file, 1 << 28, &error, {}, rowDone), qPrintable(error));
            QCOMPARE(commandtest::rgbDifference(rows, reference), QString());
        }
    }
}

void TestRegion::damagedFilesAreRefused()
{
    const QImage photo = loadPhoto(QStringLiteral("astronaut.png")).copy(0, 0, 150, 100);
    const RegionImage photoBlocks = encode(photo, RegionParameters());
    const QByteArray good = writeRegionFile(photoBlocks);
    RegionImage blocks;
    QString error;
    QVERIFY(readRegionFile(good, &blocks, &error, 1 << 28));
    auto withWord = [&](int offset, quint32 value) {
        QByteArray bad = good;
        setWord(bad, offset, value);
        return bad;
    };
    auto withByte = [&](int offset, char value) {
        QByteArray bad = good;
        bad[offset] = value;
        return bad;
    };
    auto withFloat = [&](int offset, float value) {
        quint32 bits;
        std::memcpy(&bits, &value, 4);
        return withWord(offset, bits);
    };
    const struct
    {
        QByteArray data;
        const char *fault;
    } cases[] = {
        {good.left(30), "cannot hold the 49-byte header"},
        {QByteArray("not a block file at all, but long enough to hold a header....."), "no FTREGION magic"},
        {withByte(8, 5), "version is 5; this program reads versions 2 to 4"},
        {withByte(8, 1), "version is 1"},
        {withByte(9, 1), "unknown flags 1"},
        {withWord(10, 0), "an image of 0x100 pixels"},
        {withWord(14, 0x00FFFFFFu), "is too large (at most 268435456 pixels)"},
        {withWord(10, 0x80000000u), "an image of 2147483648x100"},
        {withByte(18, 11), "root side of 2^11"},
        {withByte(19, 7), "smallest block side of 2^7"},
        {withFloat(20, 0.0f), "quantiser step of 0"},
        {withFloat(24, std::nanf("")), "quantiser step of nan"},
        {withWord(28, 0), "min area must be from 1"},
        {withWord(28, 100), "min area of 100, which does not make the smallest side 2"},
        {withFloat(32, -1.0f), "max diff must be"},
        {withByte(36, 2), "back rejoin must be 0 or 1"},
        {withFloat(37, std::numeric_limits<float>::infinity()), "edge must be"},
        {withFloat(41, -0.5f), "sim must be"},
        {withWord(45, quint32(good.size())), "bytes of block data, but the file holds"},
        {good + "x", "the file holds"},
        {good.left(good.size() - 40), "the file holds"},
    };
    for (const auto &damaged : cases) {
        QVERIFY2(!readRegionFile(damaged.data, &blocks, &error, 1 << 28), damaged.fault);
        QVERIFY2(error.contains(QLatin1String(damaged.fault)), qPrintable(error + QLatin1String(" / ") + damaged.fault));
    }
    // Damage inside the block data: the end check or an early end catches it.
    for (int offset = 60; offset < good.size() - 8; offset += 97) {
        QByteArray bad = good;
        bad[offset] = char(bad[offset] ^ 0x21);
        QVERIFY2(!readRegionFile(bad, &blocks, &error, 1 << 28), qPrintable(QString::number(offset)));
        QVERIFY2(error.contains(QLatin1String("damaged")) || error.contains(QLatin1String("out of range")),
                 qPrintable(error));
    }
    // A cut payload whose length field was fixed up to match.
    QByteArray cut = good.left(good.size() / 2);
    setWord(cut, 45, quint32(cut.size() - 49));
    QVERIFY(!readRegionFile(cut, &blocks, &error, 1 << 28));
    QVERIFY2(error.contains(QLatin1String("damaged")), qPrintable(error));

    // A text file must hold what a compressed one may: its min area must
    // make its smallest side there too.
    const QByteArray text = writeRegionText(encode(photo, RegionParameters()));
    QVERIFY(text.contains(" min-side 2\n") && text.contains(" min-area 4 "));
    QVERIFY(readRegionText(text, &blocks, &error, 1 << 28));
    QByteArray badText = text;
    badText.replace(" min-area 4 ", " min-area 16 ");
    QVERIFY(!readRegionText(badText, &blocks, &error, 1 << 28));
    QVERIFY2(error.contains(QLatin1String("a min area of 16 does not make the smallest side 2")), qPrintable(error));

    // The coder's own fields, and damage that the checksum was fixed up to
    // hide: the coder's end state or its early end must still catch it. The
    // file is one chunk of both rows of roots.
    QCOMPARE(qFromBigEndian<quint32>(good.constData() + regionFileHeaderSize), 2u);
    const int prefixAt = regionFileHeaderSize + 8;
    const quint32 ransSize = qFromBigEndian<quint32>(good.constData() + prefixAt);
    const qint64 payloadSize = good.size() - prefixAt;
    QVERIFY(ransSize > 8 && ransSize < payloadSize - 8);
    auto withChecksum = [&](QByteArray bad) {
        const uint8_t *payload = reinterpret_cast<const uint8_t *>(bad.constData()) + prefixAt + 8;
        setWord(bad, prefixAt + 4, regionDataChecksum(payload, bad.size() - prefixAt - 8));
        return bad;
    };
    QByteArray shortPayload = good.left(prefixAt + 5);
    setWord(shortPayload, 45, 8 + 5);
    setWord(shortPayload, prefixAt - 4, 5);
    const struct
    {
        QByteArray data;
        const char *fault;
    } coderCases[] = {
        {shortPayload, "5 bytes of block data cannot hold their 8-byte prefix"},
        {withChecksum(withWord(prefixAt, quint32(payloadSize - 7))), "bytes of coder data, but hold"},
        {withByte(good.size() - 1, char(good.at(good.size() - 1) ^ 4)), "checksum fails"},
        {withChecksum(withWord(prefixAt, ransSize - 1)), "damaged"},
        {withChecksum(withWord(prefixAt + 12, 0x00001000u)), "end early"},
    };
    for (const auto &damaged : coderCases) {
        QVERIFY2(!readRegionFile(damaged.data, &blocks, &error, 1 << 28), damaged.fault);
        QVERIFY2(error.contains(QLatin1String(damaged.fault)), qPrintable(error + QLatin1String(" / ") + damaged.fault));
    }
    // A chunk a row of roots: the chunks' own fields.
    const QByteArray chunked = writeRegionFile(photoBlocks, 4, 1);
    const int second = regionFileHeaderSize + 8 + int(qFromBigEndian<quint32>(chunked.constData() + 53));
    QCOMPARE(qFromBigEndian<quint32>(chunked.constData() + second), 1u);
    auto chunkedWith = [&](int offset, quint32 value) {
        QByteArray bad = chunked;
        setWord(bad, offset, value);
        return bad;
    };
    QByteArray oneChunk = chunked.left(second);
    setWord(oneChunk, 45, quint32(second - regionFileHeaderSize));
    QByteArray trailing = chunked + "abcd";
    setWord(trailing, 45, quint32(trailing.size() - regionFileHeaderSize));
    // The two chunks swapped: each passes its checksum, but decodes with the
    // other's contexts.
    QByteArray swapped = chunked.left(regionFileHeaderSize) + chunked.mid(second) + chunked.mid(49, second - 49);
    const struct
    {
        QByteArray data;
        const char *fault;
    } chunkCases[] = {
        {chunkedWith(49, 0), "chunk 0 of its block data gives 0 rows of roots, where 1 to 2 are left"},
        {chunkedWith(second, 2), "chunk 1 of its block data gives 2 rows of roots, where 1 to 1 are left"},
        {chunkedWith(53, 0x10000), "chunk 0 of its block data gives 65536 bytes, but"},
        {oneChunk, "its block data end before chunk 1 (row of roots 1 of 2)"},
        {trailing, "4 bytes follow the last chunk of its block data"},
        {chunkedWith(chunked.size() - 4, 0x12345678u), "checksum fails"},
    };
    for (const auto &damaged : chunkCases) {
        QVERIFY2(!readRegionFile(damaged.data, &blocks, &error, 1 << 28), damaged.fault);
        QVERIFY2(error.contains(QLatin1String(damaged.fault)), qPrintable(error + QLatin1String(" / ") + damaged.fault));
    }
    std::vector<QByteArray> hidden = {withChecksum(withWord(prefixAt + 8, 0x7FFFFFFFu)), swapped};
    for (qint64 offset = prefixAt + 8; offset < prefixAt + 8 + ransSize; offset += 13)
        hidden.push_back(withChecksum(withByte(int(offset), char(good.at(int(offset)) ^ 0x40))));
    for (const QByteArray &bad : hidden) {
        QVERIFY(!readRegionFile(bad, &blocks, &error, 1 << 28));
        QVERIFY2(error.contains(QLatin1String("damaged")) || error.contains(QLatin1String("out of range")),
                 qPrintable(error));
    }
}

void TestRegion::coderDecodesWhatItCodes()
{
    // Runs of one symbol drive the distributions to their extremes (every
    // other symbol at its floor), mixed with bits, even or biased, and
    // equiprobable runs of every length.
    struct Item
    {
        int kind;
        uint32_t value;
        int count;
    };
    std::vector<Item> items;
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int k = 0; k < 20000; ++k) {
        const uint32_t r = next() >> 8;
        const int length = k % 32 + 1;
        if (k % 7 == 0)
            items.push_back({2, ((r << 8) ^ next()) >> (32 - length), length});
        else if (k % 3 == 0) // even and heavily biased bits: a rare one shifts in several bytes at once
            items.push_back(k & 1 ? Item{0, uint32_t(r % 97 == 0), 2} : Item{0, r & 1u, 0});
        else
            items.push_back({1, k < 3000 ? 15u : k < 6000 ? 0u : r % 16, int(r % 3)});
    }
    // Both coders, the range coder and the interleaved rANS one, on the
    // same items; then their contexts must have moved alike.
    auto encodeAll = [&items](auto &encoder) {
        BinaryContext bits[3];
        SymbolContext symbols[3];
        for (const Item &item : items)
            if (item.kind == 0)
                encoder.encode(bits[item.count], int(item.value));
            else if (item.kind == 1)
                encoder.encode(symbols[item.count], int(item.value));
            else
                encoder.encodeEquiprobable(item.value, item.count);
        return encoder.finish();
    };
    BinaryContext readBits[3], ransBits[3];
    SymbolContext readSymbols[3], ransSymbols[3];
    auto decodeAll = [&items](auto &decoder, BinaryContext *bits, SymbolContext *symbols) {
        for (const Item &item : items) {
            const uint32_t value = item.kind == 0 ? uint32_t(decoder.decode(bits[item.count]))
                : item.kind == 1                  ? uint32_t(decoder.decode(symbols[item.count]))
                                                  : decoder.decodeEquiprobable(item.count);
            if (value != item.value)
                return false;
        }
        return true;
    };
    BinaryRangeEncoder encoder;
    const QByteArray bytes = encodeAll(encoder);
    BinaryRangeDecoder decoder(reinterpret_cast<const uint8_t *>(bytes.constData()), bytes.size());
    QVERIFY(decodeAll(decoder, readBits, readSymbols));
    QCOMPARE(decoder.overrun(), qint64(0));

    InterleavedRansEncoder ransEncoder;
    const QByteArray ransBytes = encodeAll(ransEncoder);
    const uint8_t *coded = reinterpret_cast<const uint8_t *>(ransBytes.constData()) + 8;
    const quint32 ransSize = qFromBigEndian<quint32>(ransBytes.constData());
    QCOMPARE(qFromBigEndian<quint32>(ransBytes.constData() + 4), regionDataChecksum(coded, ransBytes.size() - 8));
    InterleavedRansDecoder ransDecoder(coded, ransSize, ransBytes.size() - 8);
    QVERIFY(decodeAll(ransDecoder, ransBits, ransSymbols));
    QVERIFY(ransDecoder.endsCleanly());
    for (int k = 0; k < 3; ++k) {
        QCOMPARE(ransBits[k].probabilityOfZero, readBits[k].probabilityOfZero);
        QVERIFY(std::equal(ransSymbols[k].starts, ransSymbols[k].starts + 17, readSymbols[k].starts));
    }
    // Within a few bytes of the range coder, and both near the entropy.
    QVERIFY2(std::abs(ransBytes.size() - bytes.size()) < 24, qPrintable(QStringLiteral("%1 against %2").arg(ransBytes.size()).arg(bytes.size())));
    // The decoder's symbol search: the last symbol whose start is at most the
    // target, for every target, on distributions at their extremes.
    for (const SymbolContext &context : readSymbols)
        for (uint32_t target = 0; target < 32768; ++target) {
            int expected = 0;
            while (expected < 15 && context.start(expected + 1) <= target)
                ++expected;
            QCOMPARE(context.find(target), expected);
        }
}

void TestRegion::gridDistance()
{
    // Luma grids of one photograph at spacings 1, 2 and 4.
    const QImage photo = loadPhoto(QStringLiteral("camera.png")).copy(100, 100, 33, 29).convertToFormat(QImage::Format_RGB32);
    std::vector<float> luma(33 * 29);
    for (int y = 0; y < 29; ++y)
        for (int x = 0; x < 33; ++x)
            luma[size_t(y * 33 + x)] = float(qGray(photo.pixel(x, y)));
    std::vector<float> grids[3];
    for (int k = 0; k < 3; ++k) {
        const int s = 1 << k;
        std::vector<int32_t> indexes(size_t(regionNodeCount(33, s) * regionNodeCount(29, s)));
        directRegionGrid(luma.data(), 33, 33, 29, s, 0.25f, indexes.data());
        for (int32_t index : indexes)
            grids[k].push_back(float(index) * 0.25f);
    }
    QCOMPARE(componentGridDistance(grids[2].data(), 4, grids[2].data(), 4, 33, 29), 0.0);
    std::vector<float> shifted = grids[1];
    for (float &value : shifted)
        value += 5.0f;
    QCOMPARE(componentGridDistance(grids[1].data(), 2, shifted.data(), 2, 33, 29), 5.0);
    const double d14 = componentGridDistance(grids[0].data(), 1, grids[2].data(), 4, 33, 29);
    QCOMPARE(componentGridDistance(grids[2].data(), 4, grids[0].data(), 1, 33, 29), d14);
    const double d12 = componentGridDistance(grids[0].data(), 1, grids[1].data(), 2, 33, 29);
    QVERIFY(d12 > 0.0 && d12 < d14); // a coarser grid loses more of the detail
    // By hand: two 2 x 1 grids at spacing 1 against one of spacing 2 (nodes at 0 and 2, 2 x 1 of them).
    const float fine[2] = {10.0f, 20.0f};
    const float coarse[2] = {10.0f, 30.0f};
    // The coarse grid at x = 1 is A(1/2) 10 + A(1/2) 30 = 20: no difference at either common node.
    QCOMPARE(componentGridDistance(fine, 1, coarse, 2, 2, 1), 0.0);
    QVERIFY(std::isnan(componentGridDistance(fine, 3, coarse, 2, 2, 1)));
}

void TestRegion::commandLine()
{
    ScratchDir scratch;
    const QString ftjpeg = binPath(QStringLiteral("ftjpeg"));
    const QImage photo = loadPhoto(QStringLiteral("chelsea.png")).copy(0, 0, 120, 90);
    QVERIFY(photo.save(QStringLiteral("in.png")));
    ProcessResult run = runProcess(ftjpeg, {"region", "compress", "in.png", "a.ftr", "--max-diff", "3",
                                            "--decoded", "a.png", "--text", "a.txt"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(qAbs(run.out.trimmed().toDouble() - readFileBytes(QStringLiteral("a.ftr")).size() * 8.0 / (120 * 90)) < 1e-5);
    // The compressed file is decoded and written row of roots by row, the
    // text file whole through a QImage: the same bytes, in every format the
    // row writers write and one they do not.
    for (const char *format : {"png", "ppm", "jpg", "bmp"}) {
        const QString streamed = QStringLiteral("b.") + QLatin1String(format);
        const QString whole = QStringLiteral("t.") + QLatin1String(format);
        QCOMPARE(runProcess(ftjpeg, {"region", "decompress", "a.ftr", streamed}).exitCode, 0);
        QCOMPARE(runProcess(ftjpeg, {"region", "decompress", "a.txt", whole}).exitCode, 0);
        QCOMPARE(readFileBytes(streamed), readFileBytes(whole));
    }
    QCOMPARE(QImage(QStringLiteral("b.png")), QImage(QStringLiteral("a.png")));
    QCOMPARE(runProcess(ftjpeg, {"region", "text", "a.txt", "c.ftr"}).exitCode, 0);
    QCOMPARE(readFileBytes(QStringLiteral("c.ftr")), readFileBytes(QStringLiteral("a.ftr")));
    // Without --decoded and --text the image is coded as its rows are read:
    // the same file, and a damaged input leaves no output.
    run = runProcess(ftjpeg, {"region", "compress", "in.png", "s.ftr", "--max-diff", "3"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(readFileBytes(QStringLiteral("s.ftr")), readFileBytes(QStringLiteral("a.ftr")));
    QVERIFY(writeFileBytes(QStringLiteral("cut.png"), readFileBytes(QStringLiteral("in.png")).left(3000)));
    run = runProcess(ftjpeg, {"region", "compress", "cut.png", "cut.ftr"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith("ftjpeg: "), run.err.constData());
    QVERIFY(!QFile::exists(QStringLiteral("cut.ftr")));

    run = runProcess(ftjpeg, {"region", "compress", "in.png", "x.ftr", "--max-diff", "0"});
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.err.contains("max diff must be from 0.1"));
    QVERIFY(writeFileBytes(QStringLiteral("bad.ftr"), readFileBytes(QStringLiteral("a.ftr")).left(60)));
    QVERIFY(writeFileBytes(QStringLiteral("b.png"), "kept"));
    run = runProcess(ftjpeg, {"region", "decompress", "bad.ftr", "b.png"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith("ftjpeg: cannot decode bad.ftr: its header gives"), run.err.constData());
    QCOMPARE(readFileBytes(QStringLiteral("b.png")), QByteArray("kept"));
    // Damage found once the output was started leaves no part of it either.
    QByteArray damaged = readFileBytes(QStringLiteral("a.ftr"));
    damaged[damaged.size() - 1] = char(damaged.at(damaged.size() - 1) ^ 1);
    QVERIFY(writeFileBytes(QStringLiteral("bad.ftr"), damaged));
    run = runProcess(ftjpeg, {"region", "decompress", "bad.ftr", "b.png"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("checksum fails"), run.err.constData());
    QCOMPARE(readFileBytes(QStringLiteral("b.png")), QByteArray("kept"));

    // The tool's distance: 0 for one image against itself, symmetric across spacings.
    QVERIFY(photo.copy(0, 0, 60, 90).save(QStringLiteral("half.png")));
    QCOMPARE(runProcess(ftjpeg, {"region", "sim", "in.png", "in.png", "--step-a", "4", "--step-b", "4"}).out, QByteArray("0\n"));
    const QByteArray ab = runProcess(ftjpeg, {"region", "sim", "in.png", "a.png", "--step-a", "1", "--step-b", "8"}).out;
    QCOMPARE(runProcess(ftjpeg, {"region", "sim", "a.png", "in.png", "--step-a", "8", "--step-b", "1"}).out, ab);
    QVERIFY(ab.trimmed().toDouble() > 1.0);
    run = runProcess(ftjpeg, {"region", "sim", "in.png", "half.png"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.err.contains("the images are 120x90 and 60x90 pixels"));
    QCOMPARE(runProcess(ftjpeg, {"region", "sim", "in.png", "a.png", "--step-a", "3"}).exitCode, 2);

    run = runProcess(ftjpeg, {"region", "study", "in.png", "--max-diff", "2,8", "--min-area", "4"});
    QCOMPARE(run.exitCode, 0);
    const QList<QByteArray> lines = run.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(0).startsWith("name,min_area,max_diff,back_rejoin,edge,sim,bpp,psnr_db,ssim"));
    QVERIFY(lines.at(1).startsWith("in.png,4,2,1,0,0,"));
    QVERIFY(lines.at(1).split(',').at(6).toDouble() > lines.at(2).split(',').at(6).toDouble());
}

void TestRegion::windowOpensBlockFiles()
{
    using namespace commandtest;
    ScratchDir scratch;
    const RegionImage blocks = encode(loadPhoto(QStringLiteral("camera.png")).copy(0, 0, 90, 70), RegionParameters());
    QString error;
    const QImage expected = expandRegionQImage(blocks, &error);
    // Recognised by content, whatever the name: a .jpg name stays out of the hybrid test.
    QVERIFY(writeFileBytes(QStringLiteral("blocks.jpg"), writeRegionFile(blocks)));
    QVERIFY(writeFileBytes(QStringLiteral("blocks.txt"), writeRegionText(blocks)));
    QVERIFY(writeFileBytes(QStringLiteral("cut.ftr"), writeRegionFile(blocks).left(regionFileHeaderSize + 3)));
    MainWindow window;
    FakeChooser chooser;
    for (const char *name : {"blocks.jpg", "blocks.txt"}) {
        const int before = consoleLines(window).size();
        clickOpen(window, chooser, scratch.filePath(QLatin1String(name)));
        QCOMPARE(normalizedConsole(window).mid(before),
                 (QStringList{QStringLiteral("<time> - File opened."), QStringLiteral("<time> - It is a region block file.")}));
        QVERIFY(window.isImageOpened());
        QCOMPARE(rgbDifference(window.openedImage(), expected), QString());
        QCOMPARE(rgbDifference(paneImage(window, "image_original"), expected), QString());
    }
    const int before = consoleLines(window).size();
    clickOpen(window, chooser, scratch.filePath(QStringLiteral("cut.ftr")));
    const QStringList lines = normalizedConsole(window).mid(before);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0), QStringLiteral("<time> - File open failed."));
    QVERIFY2(lines.at(1).endsWith(QStringLiteral("cut.ftr: its header gives %1 bytes of block data, but the file holds 3; "
                                                        "the file is damaged or truncated.")
                                             .arg(writeRegionFile(blocks).size() - regionFileHeaderSize)), qPrintable(lines.at(1)));
    QVERIFY(!window.isImageOpened());
}

QTEST_MAIN(TestRegion)
#include "test_region.moc"
