#include "codec/region/regionimage.h"

#include "codec/region/quadtreewalk.h"

#include <cmath>

namespace veltrano {


int regionMinSide(int minArea, int rootSide)
{
    int side = 1;
    while (side < rootSide && qint64(side) * side < minArea)
        side *= 2;
    return side;
}

bool checkRegionParameters(const RegionParameters &parameters, QString *error)
{
    QString fault;
    if (parameters.minArea < 1 || parameters.minArea > regionRootSide * regionRootSide)
        fault = QStringLiteral("min area must be from 1 to %1, not %2").arg(regionRootSide * regionRootSide).arg(parameters.minArea);
    else if (!(parameters.maxDiff >= 0.1f && parameters.maxDiff <= 1000.0f))
        fault = QStringLiteral("max diff must be from 0.1 to 1000, not %1").arg(double(parameters.maxDiff));
    else if (parameters.backRejoin != 0 && parameters.backRejoin != 1)
        fault = QStringLiteral("back rejoin must be 0 or 1, not %1").arg(parameters.backRejoin);
    else if (!(parameters.edge >= 0.0f && parameters.edge <= 1000.0f))
        fault = QStringLiteral("edge must be from 0 to 1000, not %1").arg(double(parameters.edge));
    else if (!(parameters.sim >= 0.0f && parameters.sim <= 1000.0f))
        fault = QStringLiteral("sim must be from 0 to 1000, not %1").arg(double(parameters.sim));
    if (fault.isEmpty())
        return true;
    if (error)
        *error = fault;
    return false;
}

void keepLastRegionBlock(RegionImage *image)
{
    RegionBlock last = image->blocks.last();
    const qint64 count = regionBlockComponentCount(last);
    std::copy(image->components.begin() + last.offset, image->components.begin() + last.offset + count,
              image->components.begin());
    image->components.resize(size_t(count));
    last.offset = 0;
    image->blocks.clear();
    image->blocks.append(last);
}

bool checkRegionPartition(const RegionImage &image, QString *error)
{
    int index = 0;
    qint64 offset = 0;
    QString fault;
    auto visit = [&](int x, int y, int side, int width, int height, bool canSplit) -> int {
        if (index >= image.blocks.size()) {
            fault = QStringLiteral("the blocks end before the image is covered (at %1,%2)").arg(x).arg(y);
            return -1;
        }
        const RegionBlock &block = image.blocks.at(index);
        if (block.x == x && block.y == y && block.side == side) {
            if (block.width != width || block.height != height)
                fault = QStringLiteral("block %1 at %2,%3 is %4x%5, but the image clips it to %6x%7")
                            .arg(index).arg(x).arg(y).arg(block.width).arg(block.height).arg(width).arg(height);
            else if (block.lumaSpacing < 1 || block.lumaSpacing > side || (block.lumaSpacing & (block.lumaSpacing - 1)))
                fault = QStringLiteral("block %1 has node spacing %2, not a power of two up to its side %3")
                            .arg(index).arg(block.lumaSpacing).arg(side);
            else if (block.offset != offset)
                fault = QStringLiteral("block %1 does not follow the components of the one before").arg(index);
            if (!fault.isEmpty())
                return -1;
            offset += regionBlockComponentCount(block);
            ++index;
            return 0;
        }
        if (!canSplit || block.x < x || block.y < y || block.x >= x + side || block.y >= y + side) {
            fault = QStringLiteral("block %1 (at %2,%3, side %4) is not the next block of the quadtree (at %5,%6, side "
                                   "%7 or a quarter of it)")
                        .arg(index).arg(block.x).arg(block.y).arg(block.side).arg(x).arg(y).arg(side);
            return -1;
        }
        return 1;
    };
    const bool whole = image.rootSide >= 1 && image.minSide >= 1
        && walkRegionQuadtree(image.width, image.height, image.rootSide, image.minSide, visit);
    if (whole && index != image.blocks.size())
        fault = QStringLiteral("there are %1 blocks after the image is covered").arg(image.blocks.size() - index);
    else if (whole && offset != qint64(image.components.size()))
        fault = QStringLiteral("the blocks hold %1 components, not %2").arg(offset).arg(image.components.size());
    if (fault.isEmpty() && whole)
        return true;
    if (error)
        *error = fault.isEmpty() ? QStringLiteral("the partition is not a quadtree") : fault;
    return false;
}

} // namespace veltrano
