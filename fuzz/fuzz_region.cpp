// Arbitrary bytes as a region block file, compressed or text: a file either
// is refused with a reason or reads as a sound quadtree partition whose
// components, written again (compressed in versions 3 and 2, and as text) and
// read back, give the same blocks and the same pixels. A mutated version 3
// file almost never keeps its CRC-32, so one that looks like such a file is
// also run with the checksum field recomputed over the bytes after it: that
// way the rANS decoder itself sees the mutations. Images are held to 2^20
// pixels here, so the largest allocation stays bounded.

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
    for (const int version : {3, 2}) {
        RegionImage again;
        if (!readRegionFile(writeRegionFile(image, version), &again, &error, fuzzMaxPixels))
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
    // Version 3: the data length at 49, the checksum at 53, the checked bytes from 57.
    constexpr int checksumAt = regionFileHeaderSize + 4;
    constexpr int checkedFrom = regionFileHeaderSize + interleavedrans::prefixSize;
    if (isRegionFile(data) && data.size() >= checkedFrom && uchar(data[8]) == 3) {
        QByteArray fixed = data;
        const uint32_t checksum = regionDataChecksum(bytes + checkedFrom, qint64(size) - checkedFrom);
        qToBigEndian(checksum, fixed.data() + checksumAt);
        if (fixed != data)
            checkInput(fixed, " (its checksum recomputed)");
    }
    return 0;
}
