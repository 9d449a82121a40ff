#ifndef TRANSFORMKERNELS_INVERSE_H
#define TRANSFORMKERNELS_INVERSE_H

// The inverse F-transform loop over a lane type (see transformkernels_impl.h).

#include "codec/dsp/nodeterm.h"
#include "codec/dsp/transformkernels_impl.h"

namespace {

// The taps of one phase held for a row: their rows' planes and weights.
constexpr int maxHeldTaps = 4;

template<class L>
struct HeldTaps
{
    using F = typename L::F;
    using I = typename L::I;

    const float *row[maxHeldTaps];
    F weight[maxHeldTaps];
    F weightSum;
    int taps;

    void hold(const float *base, const ptrdiff_t *at, const float *weights, int count, float sum)
    {
        taps = count;
        for (int t = 0; t < count; ++t) {
            row[t] = base + at[t];
            weight[t] = L::set1(weights[t]);
        }
        weightSum = L::set1(sum);
    }

    // The pixels of nodes m .. m + lanes - 1, as phasePixels forms them.
    I pixels(int m, size_t planeStride) const
    {
        F red = L::zero();
        F green = L::zero();
        F blue = L::zero();
        for (int t = 0; t < taps; ++t) {
            const float *v = row[t] + m;
            red = L::add(red, L::mul(L::load(v), weight[t]));
            green = L::add(green, L::mul(L::load(v + planeStride), weight[t]));
            blue = L::add(blue, L::mul(L::load(v + 2 * planeStride), weight[t]));
        }
        return L::pixels(red, green, blue, weightSum);
    }
};

// The nodes m up to lastBlock of a step-2 row with held taps; returns the
// first node not done. A function of its own, so that the general loop below
// is compiled as it would be without it.
template<class L>
__attribute__((noinline)) int heldStep2Row(const float *base, const ptrdiff_t *tapAt, const float *tapWeight,
                                           size_t maxTaps, const int *phaseTaps, const float *phaseWeight,
                                           uint32_t *out, int m, int lastBlock, size_t planeStride)
{
    HeldTaps<L> even;
    HeldTaps<L> odd;
    even.hold(base, tapAt, tapWeight, phaseTaps[0], phaseWeight[0]);
    odd.hold(base, tapAt + maxTaps, tapWeight + maxTaps, phaseTaps[1], phaseWeight[1]);
    for (; m + L::lanes - 1 <= lastBlock; m += L::lanes)
        L::storePixels2(out + 2 * m, even.pixels(m, planeStride), odd.pixels(m, planeStride));
    return m;
}

// Inverse transform: each output pixel accumulates row terms (outer) times
// column terms (inner) in the defined order. Pixels of one phase x mod step
// whose terms are neither cut by the image border nor clamped to the last
// component column share their weights and node offsets, so consecutive
// pixels of a phase take one lane each; the phases are interleaved on
// storing. Every other pixel is computed on its own.
template<class L>
bool inverseTransformRows(const transformkernels::InverseJob &job)
{
    using F = typename L::F;
    using I = typename L::I;
    const int width = job.width;
    const int height = job.height;
    const int step = job.step;
    const int r = job.radius;
    const int componentWidth = job.componentWidth;
    const int componentHeight = job.componentHeight;
    const float *weightAt = job.weightByDistance;
    const int lanes = L::lanes;

    // Component rows as channel planes, a ring of the rows one output row
    // can use: their node indexes are consecutive.
    const int termsPerAxis = 2 * r / step + 1;
    const int slots = minInt(termsPerAxis, componentHeight);
    const size_t planeStride = size_t(componentWidth) + size_t(lanes);
    const size_t slotSize = 3 * planeStride;
    Scratch<float> ring{size_t(slots) * slotSize};
    Scratch<int> slotRow{size_t(slots)};
    Scratch<NodeTerm> rowTerms{size_t(termsPerAxis)};
    Scratch<NodeTerm> columnTerms{size_t(termsPerAxis)};
    Scratch<const float *> rowBase{size_t(termsPerAxis)};
    if (!ring.ok() || !slotRow.ok() || !rowTerms.ok() || !columnTerms.ok() || !rowBase.ok())
        return false;
    for (int s = 0; s < slots; ++s)
        slotRow[size_t(s)] = -1;

    // The shared range: x in [r, width - 1 - r] with (x + r) / step at most
    // the last component column, i.e. x + r < componentWidth * step.
    const long long blockEnd = (long long)componentWidth * step - 1 - r;
    const long long lastInner = blockEnd < width - 1 - r ? blockEnd : width - 1 - r;
    int firstBlock = 0;
    int lastBlock = -1;
    if (r <= lastInner) {
        firstBlock = ceilDiv(r, step);
        lastBlock = floorDiv(int(lastInner) - (step - 1), step);
    }
    // Per phase: the column terms of a shared pixel (node offsets t from the
    // pixel's own block m, weights), then its taps for the current row.
    const size_t maxTaps = size_t(termsPerAxis) * size_t(termsPerAxis);
    const bool blocks = firstBlock <= lastBlock && maxTaps * size_t(step) <= (size_t(1) << 22);
    if (!blocks)
        lastBlock = firstBlock - 1;
    Scratch<int> phaseFirstTerm{size_t(step)};
    Scratch<int> phaseTermCount{size_t(step)};
    Scratch<float> phaseTermWeight{size_t(step) * size_t(termsPerAxis)};
    Scratch<ptrdiff_t> tapAt{blocks ? maxTaps * size_t(step) : 1};
    Scratch<float> tapWeight{blocks ? maxTaps * size_t(step) : 1};
    Scratch<int> phaseTaps{size_t(step)};
    Scratch<float> phaseWeight{size_t(step)};
    Scratch<uint32_t> scattered{size_t(step) * size_t(lanes)};
    if (!phaseFirstTerm.ok() || !phaseTermCount.ok() || !phaseTermWeight.ok() || !tapAt.ok() || !tapWeight.ok()
        || !phaseTaps.ok() || !phaseWeight.ok() || !scattered.ok())
        return false;
    for (int c = 0; c < step; ++c) {
        const int tFirst = ceilDiv(c - r, step);
        const int tLast = floorDiv(c + r, step);
        phaseFirstTerm[size_t(c)] = tFirst;
        phaseTermCount[size_t(c)] = tLast - tFirst + 1;
        for (int t = tFirst; t <= tLast; ++t)
            phaseTermWeight[size_t(c) * size_t(termsPerAxis) + size_t(t - tFirst)] = weightAt[absInt(c - t * step)];
    }

    const float *base = ring.get();
    for (int y = 0; y < height; ++y) {
        // Row terms: node rows j within the radius, in increasing order.
        int rows = 0;
        const int jLast = minInt(height - 1, y + r);
        for (int j = ceilDiv(maxInt(0, y - r), step) * step; j <= jLast; j += step) {
            const int node = minInt(j / step, componentHeight - 1);
            const int slot = node % slots;
            if (slotRow[size_t(slot)] != node) {
                const uint32_t *src = job.fetchRow(job.context, node);
                float *red = ring.get() + size_t(slot) * slotSize;
                float *green = red + planeStride;
                float *blue = green + planeStride;
                int x = L::toPlanar(src, componentWidth, red, green, blue);
                for (; x < componentWidth; ++x) {
                    red[x] = redOf(src[x]);
                    green[x] = greenOf(src[x]);
                    blue[x] = blueOf(src[x]);
                }
                slotRow[size_t(slot)] = node;
            }
            rowTerms[size_t(rows)] = NodeTerm{weightAt[absInt(y - j)], node};
            rowBase[size_t(rows)] = base + size_t(slot) * slotSize;
            ++rows;
        }

        uint32_t *out = job.out + ptrdiff_t(y) * job.outStride;
        auto one = [&](int x) {
            int columns = 0;
            const int kLast = minInt(width - 1, x + r);
            for (int k = ceilDiv(maxInt(0, x - r), step) * step; k <= kLast; k += step)
                columnTerms[size_t(columns++)] = NodeTerm{weightAt[absInt(x - k)], minInt(k / step, componentWidth - 1)};
            float red = 0.0f;
            float green = 0.0f;
            float blue = 0.0f;
            float w = 0.0f;
            for (int i = 0; i < rows; ++i) {
                const NodeTerm row = rowTerms[size_t(i)];
                for (int k = 0; k < columns; ++k) {
                    const NodeTerm column = columnTerms[size_t(k)];
                    const float s = row.weight * column.weight;
                    w += s;
                    if (s == 0.0f)
                        continue;
                    const float *at = rowBase[size_t(i)] + column.node;
                    red += at[0] * s;
                    green += at[planeStride] * s;
                    blue += at[2 * planeStride] * s;
                }
            }
            out[x] = pixelOf(red, green, blue, w);
        };

        if (!blocks) {
            for (int x = 0; x < width; ++x)
                one(x);
            if (!passRow(job, y, out))
                return false;
            continue;
        }

        for (int c = 0; c < step; ++c) {
            int taps = 0;
            float w = 0.0f;
            const int tFirst = phaseFirstTerm[size_t(c)];
            const int terms = phaseTermCount[size_t(c)];
            const float *termWeight = phaseTermWeight.get() + size_t(c) * size_t(termsPerAxis);
            ptrdiff_t *at = tapAt.get() + size_t(c) * maxTaps;
            float *weight = tapWeight.get() + size_t(c) * maxTaps;
            for (int i = 0; i < rows; ++i) {
                for (int k = 0; k < terms; ++k) {
                    const float s = rowTerms[size_t(i)].weight * termWeight[k];
                    w += s;
                    if (s == 0.0f)
                        continue;
                    at[taps] = (rowBase[size_t(i)] - base) + (tFirst + k);
                    weight[taps] = s;
                    ++taps;
                }
            }
            phaseTaps[size_t(c)] = taps;
            phaseWeight[size_t(c)] = w;
        }
        auto phasePixels = [&](int c, int m) {
            F red = L::zero();
            F green = L::zero();
            F blue = L::zero();
            const ptrdiff_t *at = tapAt.get() + size_t(c) * maxTaps;
            const float *weight = tapWeight.get() + size_t(c) * maxTaps;
            const int taps = phaseTaps[size_t(c)];
            for (int t = 0; t < taps; ++t) {
                const float *v = base + (at[t] + m);
                const F s = L::set1(weight[t]);
                red = L::add(red, L::mul(L::load(v), s));
                green = L::add(green, L::mul(L::load(v + planeStride), s));
                blue = L::add(blue, L::mul(L::load(v + 2 * planeStride), s));
            }
            return L::pixels(red, green, blue, L::set1(phaseWeight[size_t(c)]));
        };

        int x = 0;
        for (; x < firstBlock * step; ++x)
            one(x);
        int m = firstBlock;
        // Step 2 with a few taps per phase (the hybrid codec's radius 1 gives
        // 1 and 2, or 2 and 4): the taps' rows and weights are held for the
        // whole row, the sums formed tap by tap in the same order.
        if (step == 2 && phaseTaps[0] <= maxHeldTaps && phaseTaps[1] <= maxHeldTaps)
            m = heldStep2Row<L>(base, tapAt.get(), tapWeight.get(), maxTaps, phaseTaps.get(), phaseWeight.get(), out,
                                m, lastBlock, planeStride);
        for (; m + lanes - 1 <= lastBlock; m += lanes) {
            if (step == 1) {
                L::storePixels(out + m, phasePixels(0, m));
            } else if (step == 2) {
                const I even = phasePixels(0, m);
                const I odd = phasePixels(1, m);
                L::storePixels2(out + 2 * m, even, odd);
            } else {
                for (int c = 0; c < step; ++c)
                    L::storePixels(scattered.get() + size_t(c) * size_t(lanes), phasePixels(c, m));
                uint32_t *block = out + ptrdiff_t(m) * step;
                for (int i = 0; i < lanes; ++i)
                    for (int c = 0; c < step; ++c)
                        block[i * step + c] = scattered[size_t(c) * size_t(lanes) + size_t(i)];
            }
        }
        for (x = m * step; x < width; ++x)
            one(x);
        if (!passRow(job, y, out))
            return false;
    }
    return true;
}

} // namespace

#endif // TRANSFORMKERNELS_INVERSE_H
