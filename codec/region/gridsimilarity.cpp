#include "codec/region/gridsimilarity.h"

#include <cmath>
#include <limits>
#include <numeric>

namespace veltrano {

namespace {

// The expansion of a grid at (x, y), with expandRegionGrid's arithmetic.
float valueAt(const float *weight, const float *grid, int nodesX, int nodesY, int spacing, int x, int y)
{
    const int i = x / spacing;
    const int j = y / spacing;
    const int dx = x - i * spacing;
    const int dy = y - j * spacing;
    const int i1 = qMin(i + 1, nodesX - 1);
    const int j1 = qMin(j + 1, nodesY - 1);
    const float top = weight[dx] * grid[j * nodesX + i] + weight[spacing - dx] * grid[j * nodesX + i1];
    const float bottom = weight[dx] * grid[j1 * nodesX + i] + weight[spacing - dx] * grid[j1 * nodesX + i1];
    return weight[dy] * top + weight[spacing - dy] * bottom;
}

bool validSpacing(int spacing) { return spacing >= 1 && spacing <= 1024 && (spacing & (spacing - 1)) == 0; }

} // namespace

void componentGridSquaredDifference(const RegionKernels &kernels, const float *gridA, int spacingA,
                                    const float *gridB, int spacingB, int width, int height, double *sum,
                                    qint64 *count)
{
    const int common = std::gcd(spacingA, spacingB);
    const int nodesX = regionNodeCount(width, common);
    const int nodesY = regionNodeCount(height, common);
    const int ax = regionNodeCount(width, spacingA), ay = regionNodeCount(height, spacingA);
    const int bx = regionNodeCount(width, spacingB), by = regionNodeCount(height, spacingB);
    const float *weightA = kernels.table(spacingA);
    const float *weightB = kernels.table(spacingB);
    double total = 0.0;
    for (int l = 0; l < nodesY; ++l)
        for (int k = 0; k < nodesX; ++k) {
            const double difference = double(valueAt(weightA, gridA, ax, ay, spacingA, k * common, l * common))
                - double(valueAt(weightB, gridB, bx, by, spacingB, k * common, l * common));
            total += difference * difference;
        }
    *sum += total;
    *count += qint64(nodesX) * nodesY;
}

double componentGridDistance(const float *gridA, int spacingA, const float *gridB, int spacingB, int width,
                             int height)
{
    if (!validSpacing(spacingA) || !validSpacing(spacingB) || width < 1 || height < 1)
        return std::numeric_limits<double>::quiet_NaN();
    static const RegionKernels kernels;
    double sum = 0.0;
    qint64 count = 0;
    componentGridSquaredDifference(kernels, gridA, spacingA, gridB, spacingB, width, height, &sum, &count);
    return std::sqrt(sum / double(count));
}

} // namespace veltrano
