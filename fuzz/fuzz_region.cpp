// Arbitrary bytes as a region block file, compressed or text: a file either
// is refused with a reason or reads as a sound quadtree partition whose
// components, written again in either form and read back, give the same
// blocks and the same pixels. Images are held to 2^20 pixels here, so the
// largest allocation stays bounded.

#include "fuzzsupport.h"
#include "codec/qimage/regionimagefile.h"
#include "codec/region/regionfile.h"
#include "codec/region/regiontext.h"

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

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzsupport::initialise(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArray data(reinterpret_cast<const char *>(bytes), int(size));
    RegionImage image;
    QString error;
    const bool text = isRegionTextFile(data);
    const bool ok = text ? readRegionText(data, &image, &error, fuzzMaxPixels)
                         : readRegionFile(data, &image, &error, fuzzMaxPixels);
    if (!ok) {
        if (error.isEmpty())
            fail("a refused file without a reason");
        return 0;
    }
    if (!checkRegionPartition(image, &error))
        fail("an accepted file is no partition: %s", qPrintable(error));
    RegionImage again;
    if (!readRegionFile(writeRegionFile(image), &again, &error, fuzzMaxPixels))
        fail("the compressed file written from an accepted one is refused: %s", qPrintable(error));
    if (!sameBlocks(image, again))
        fail("the compressed file written from an accepted one reads differently");
    RegionImage fromText;
    if (!readRegionText(writeRegionText(image), &fromText, &error, fuzzMaxPixels))
        fail("the text file written from an accepted one is refused: %s", qPrintable(error));
    if (!sameBlocks(image, fromText))
        fail("the text file written from an accepted one reads differently");
    const QImage decoded = expandRegionQImage(image, &error);
    if (decoded.isNull() || decoded.width() != image.width || decoded.height() != image.height)
        fail("an accepted file does not expand: %s", qPrintable(error));
    return 0;
}
