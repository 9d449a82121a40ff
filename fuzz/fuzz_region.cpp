// Arbitrary bytes as a region block file, compressed or text: a file either
// is refused with a reason or reads as a sound quadtree partition whose
// components, written again (compressed in versions 4, with one chunk and
// with many, 3 and 2, and as text) and read back, give the same blocks and
// the same pixels. A mutated version 3 or 4 file almost never keeps its
// CRC-32s, so one that looks like such a file is also run with its checksum
// fields recomputed over the bytes they check: that way the rANS decoder
// itself sees the mutations. Images are held to 2^20 pixels here, so the
// largest allocation stays bounded.

#include "fuzzsupport.h"
#include "codec/qimage/regionimagefile.h"
#include "codec/region/interleavedranscoder.h"
#include "codec/region/regionfile.h"
#include "codec/region/regiontext.h"

#include <QtEndian>

#include <cstdint>

using namespace veltrano;

using fuzzsupport::fail;

namespace {

constexpr qint64 fuzzMaxPixels = qint64(1) << 20;

bool sameBlocks(const RegionImage &a, const RegionImage &b)
{
    if (a.width != b.width || a.height != b.height || a.rootSide != b.rootSide || a.minSide != b.minSide
        || a.lumaStep != b.lumaStep || a.chromaStep != b.chromaStep || a.blocks.size() != b.blocks.size()
        || a.components != b.components)
        return false;
    for (int k = 0; k < a.blocks.size(); ++k) {
        const RegionBlock &p = a.blocks.at(k), &q = b.blocks.at(k);
        if (p.x != q.x || p.y != q.y || p.side != q.side || p.width != q.width || p.height != q.height
            || p.lumaSpacing != q.lumaSpacing || p.offset != q.offset)
            return false;
    }
    return true;
}

// `run` names the run in a finding: empty, or how the input was changed.
void checkInput(const QByteArray &data, const char *run)
{
    RegionImage image;
    QString error;
    const bool text = isRegionTextFile(data);
    const bool ok = text ? readRegionText(data, &image, &error, fuzzMaxPixels)
                         : readRegionFile(data, &image, &error, fuzzMaxPixels);
    if (!ok) {
        if (error.isEmpty())
            fail("a refused file without a reason%s", run);
        return;
    }
    if (!checkRegionPartition(image, &error))
        fail("an accepted file is no partition%s: %s", run, qPrintable(error));
    // Version 5 stands for version 4 with a chunk every 64 decisions or so.
    for (const int version : {4, 5, 3, 2}) {
        RegionImage again;
        const QByteArray written = version == 5 ? writeRegionFile(image, 4, 64) : writeRegionFile(image, version);
        if (!readRegionFile(written, &again, &error, fuzzMaxPixels))
            fail("the version %d file written from an accepted one is refused%s: %s", version, run,
                 qPrintable(error));
        if (!sameBlocks(image, again))
            fail("the version %d file written from an accepted one reads differently%s", version, run);
    }
    RegionImage fromText;
    if (!readRegionText(writeRegionText(image), &fromText, &error, fuzzMaxPixels))
        fail("the text file written from an accepted one is refused%s: %s", run, qPrintable(error));
    if (!sameBlocks(image, fromText))
        fail("the text file written from an accepted one reads differently%s", run);
    const QImage decoded = expandRegionQImage(image, &error);
    if (decoded.isNull() || decoded.width() != image.width || decoded.height() != image.height)
        fail("an accepted file does not expand%s: %s", run, qPrintable(error));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzsupport::initialise(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArray data(reinterpret_cast<const char *>(bytes), int(size));
    checkInput(data, "");
    if (!isRegionFile(data) || data.size() < regionFileHeaderSize)
        return 0;
    // The coded data of version 3: 4 bytes of length, the checksum, then the
    // bytes it checks. Version 4 holds them in chunks after 4 bytes of rows
    // and 4 of size; all that fit are fixed up.
    QByteArray fixed = data;
    auto fixChecksum = [&](qint64 from, qint64 count) {
        if (count >= interleavedrans::prefixSize)
            qToBigEndian(regionDataChecksum(bytes + from + interleavedrans::prefixSize,
                                            count - interleavedrans::prefixSize),
                         fixed.data() + from + 4);
    };
    const qint64 length = qint64(size);
    if (uchar(data[8]) == 3) {
        fixChecksum(regionFileHeaderSize, length - regionFileHeaderSize);
    } else if (uchar(data[8]) == 4) {
        for (qint64 at = regionFileHeaderSize; at + 8 <= length;) {
            const qint64 count = qFromBigEndian<quint32>(bytes + at + 4);
            if (count > length - at - 8)
                break;
            fixChecksum(at + 8, count);
            at += 8 + count;
        }
    }
    if (fixed != data)
        checkInput(fixed, " (its checksums recomputed)");
    return 0;
}
