#ifndef QUADTREEWALK_H
#define QUADTREEWALK_H

#include <QtGlobal>

namespace veltrano {

// Walks the quadtree partition of a width x height image in coding order:
// roots of side rootSide in raster order, each node's children top left, top
// right, bottom left, bottom right; children wholly outside the image are
// left out. For every node visit(x, y, side, width, height, canSplit) returns
// 1 to split it (only when canSplit), 0 for a leaf, -1 to stop the walk,
// which then returns false. A node can split while side / 2 >= minSide.
template <class Visit>
bool walkRegionQuadtreeNode(int imageWidth, int imageHeight, int minSide, int x, int y, int side, Visit &visit)
{
    const int width = qMin(side, imageWidth - x);
    const int height = qMin(side, imageHeight - y);
    if (width <= 0 || height <= 0)
        return true;
    const bool canSplit = side > 1 && side / 2 >= minSide;
    const int decision = visit(x, y, side, width, height, canSplit);
    if (decision < 0 || (decision > 0 && !canSplit))
        return false;
    if (decision == 0)
        return true;
    const int half = side / 2;
    return walkRegionQuadtreeNode(imageWidth, imageHeight, minSide, x, y, half, visit)
        && walkRegionQuadtreeNode(imageWidth, imageHeight, minSide, x + half, y, half, visit)
        && walkRegionQuadtreeNode(imageWidth, imageHeight, minSide, x, y + half, half, visit)
        && walkRegionQuadtreeNode(imageWidth, imageHeight, minSide, x + half, y + half, half, visit);
}

template <class Visit>
bool walkRegionQuadtree(int imageWidth, int imageHeight, int rootSide, int minSide, Visit &visit)
{
    for (int y = 0; y < imageHeight; y += rootSide)
        for (int x = 0; x < imageWidth; x += rootSide)
            if (!walkRegionQuadtreeNode(imageWidth, imageHeight, minSide, x, y, rootSide, visit))
                return false;
    return true;
}

} // namespace veltrano

#endif // QUADTREEWALK_H
