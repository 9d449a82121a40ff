#ifndef GRIDSIMILARITY_H
#define GRIDSIMILARITY_H

#include "codec/region/regionexpansion.h"

namespace veltrano {

// The component-grid distance: how far apart two F-transform component grids
// over the same width x height extent are, whatever their node spacings.
// Both grids (row by row, ceil((extent - 1) / s) + 1 nodes along each axis,
// values in grey levels) are resampled to the common grid of spacing
// g = gcd(spacingA, spacingB), each by its own inverse F-transform
// (raised-cosine basis, as expandRegionGrid) evaluated at the common nodes
// (k g, l g); the distance is the root mean square of the differences there:
//
//     D(a, b) = sqrt( sum_{k,l} (a~(k g, l g) - b~(k g, l g))^2 / (K L) ).
//
// It is 0 for identical grids, symmetric, and in grey levels: a grid and the
// same grid plus c everywhere are c apart. Spacings must be 1 to 1024, the
// extent at least 1 x 1; other arguments give NaN.
double componentGridDistance(const float *gridA, int spacingA, const float *gridB, int spacingB, int width,
                             int height);

// The sum of squared differences and the number of common nodes behind
// componentGridDistance, for pooling several channels.
void componentGridSquaredDifference(const RegionKernels &kernels, const float *gridA, int spacingA,
                                    const float *gridB, int spacingB, int width, int height, double *sum,
                                    qint64 *count);

} // namespace veltrano

#endif // GRIDSIMILARITY_H
