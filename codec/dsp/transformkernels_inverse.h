#ifndef TRANSFORMKERNELS_INVERSE_H
#define TRANSFORMKERNELS_INVERSE_H

// The inverse F-transform loop over a lane type (see transformkernels_impl.h):
// HeldTaps and heldStep2Row, the step-2 loop with its taps held in
// registers; sharedBlocks, the output pixels the vector loops take;
// InversePass, the working memory with the steps of one output row; and
// inverseTransformRows, the walk over the output rows.

#include "codec/dsp/nodeterm.h"
#include "codec/dsp/transformkernels_impl.h"

namespace veltrano {

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
// first node not done. A function of its own, so that the general loop of
// InversePass::blockRow is compiled as it would be without it.
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

// The blocks m = first .. last of step output pixels x = m * step + c whose
// terms are neither cut by the image border nor clamped to the last
// component column; none (last < first) when there are none or their taps,
// maxTaps per phase, would take too much memory.
struct SharedBlocks
{
    int first;
    int last;
};

inline SharedBlocks sharedBlocks(int width, int step, int r, int componentWidth, size_t maxTaps)
{
    // The shared range: x in [r, width - 1 - r] with (x + r) / step at most
    // the last component column, i.e. x + r < componentWidth * step.
    const long long blockEnd = (long long)componentWidth * step - 1 - r;
    const long long lastInner = blockEnd < width - 1 - r ? blockEnd : width - 1 - r;
    SharedBlocks blocks{0, -1};
    if (r <= lastInner) {
        blocks.first = ceilDiv(r, step);
        blocks.last = floorDiv(int(lastInner) - (step - 1), step);
    }
    if (!(blocks.first <= blocks.last && maxTaps * size_t(step) <= (size_t(1) << 22)))
        blocks.last = blocks.first - 1;
    return blocks;
}

// Inverse transform: each output pixel accumulates row terms (outer) times
// column terms (inner) in the defined order. Pixels of one phase x mod step
// in the shared blocks share their weights and node offsets, so consecutive
// pixels of a phase take one lane each; the phases are interleaved on
// storing. Every other pixel is computed on its own. The struct holds the
// working memory; inverseTransformRows below walks the output rows.
template<class L>
struct InversePass
{
    using F = typename L::F;
    using I = typename L::I;

    const transformkernels::InverseJob &job;
    // Component rows as channel planes, a ring of the rows one output row
    // can use: their node indexes are consecutive.
    int termsPerAxis;
    int slots;
    size_t planeStride;
    size_t slotSize;
    Scratch<float> planes;
    RowSlots ring;
    // The row terms of the current output row and their rows' planes.
    Scratch<NodeTerm> rowTerms;
    Scratch<const float *> rowBase;
    int rows = 0;
    Scratch<NodeTerm> columnTerms; // of the pixel pixelAt computes
    size_t maxTaps;
    SharedBlocks blocks;
    // Per phase: the column terms of a shared pixel (node offsets t from the
    // pixel's own block m, weights), then its taps for the current row.
    Scratch<int> phaseFirstTerm;
    Scratch<int> phaseTermCount;
    Scratch<float> phaseTermWeight;
    Scratch<ptrdiff_t> tapAt;
    Scratch<float> tapWeight;
    Scratch<int> phaseTaps;
    Scratch<float> phaseWeight;
    Scratch<uint32_t> scattered; // a block of each phase for steps above 2

    explicit InversePass(const transformkernels::InverseJob &job)
        : job(job), termsPerAxis(2 * job.radius / job.step + 1), slots(minInt(termsPerAxis, job.componentHeight)),
          planeStride(size_t(job.componentWidth) + size_t(L::lanes)), slotSize(3 * planeStride),
          planes(size_t(slots) * slotSize), ring(slots), rowTerms(size_t(termsPerAxis)),
          rowBase(size_t(termsPerAxis)), columnTerms(size_t(termsPerAxis)),
          maxTaps(size_t(termsPerAxis) * size_t(termsPerAxis)),
          blocks(sharedBlocks(job.width, job.step, job.radius, job.componentWidth, maxTaps)),
          phaseFirstTerm(size_t(job.step)), phaseTermCount(size_t(job.step)),
          phaseTermWeight(size_t(job.step) * size_t(termsPerAxis)),
          tapAt(hasBlocks() ? maxTaps * size_t(job.step) : 1), tapWeight(hasBlocks() ? maxTaps * size_t(job.step) : 1),
          phaseTaps(size_t(job.step)), phaseWeight(size_t(job.step)), scattered(size_t(job.step) * size_t(L::lanes))
    {
    }

    bool ok() const
    {
        return planes.ok() && ring.ok() && rowTerms.ok() && rowBase.ok() && columnTerms.ok() && phaseFirstTerm.ok()
            && phaseTermCount.ok() && phaseTermWeight.ok() && tapAt.ok() && tapWeight.ok() && phaseTaps.ok()
            && phaseWeight.ok() && scattered.ok();
    }

    bool hasBlocks() const { return blocks.first <= blocks.last; }

    // The column terms of each phase c = x mod step of a shared pixel.
    void preparePhases()
    {
        const int step = job.step;
        const int r = job.radius;
        for (int c = 0; c < step; ++c) {
            const int tFirst = ceilDiv(c - r, step);
            const int tLast = floorDiv(c + r, step);
            phaseFirstTerm[size_t(c)] = tFirst;
            phaseTermCount[size_t(c)] = tLast - tFirst + 1;
            for (int t = tFirst; t <= tLast; ++t)
                phaseTermWeight[size_t(c) * size_t(termsPerAxis) + size_t(t - tFirst)] =
                    job.weightByDistance[absInt(c - t * step)];
        }
    }

    // Component row src as channel planes from red on.
    void splitComponentRow(const uint32_t *src, float *red) const
    {
        const int componentWidth = job.componentWidth;
        float *green = red + planeStride;
        float *blue = green + planeStride;
        int x = L::toPlanar(src, componentWidth, red, green, blue);
        for (; x < componentWidth; ++x) {
            red[x] = redOf(src[x]);
            green[x] = greenOf(src[x]);
            blue[x] = blueOf(src[x]);
        }
    }

    // The row terms of output row y: node rows j within the radius, in
    // increasing order, each component row put into the ring unless held.
    void loadRowTerms(int y)
    {
        const int step = job.step;
        const int r = job.radius;
        rows = 0;
        const int jLast = minInt(job.height - 1, y + r);
        for (int j = ceilDiv(maxInt(0, y - r), step) * step; j <= jLast; j += step) {
            const int node = minInt(j / step, job.componentHeight - 1);
            float *slotPlanes = planes.get() + size_t(ring.slotOf(node)) * slotSize;
            if (ring.claim(node))
                splitComponentRow(job.fetchRow(job.context, node), slotPlanes);
            rowTerms[size_t(rows)] = NodeTerm{job.weightByDistance[absInt(y - j)], node};
            rowBase[size_t(rows)] = slotPlanes;
            ++rows;
        }
    }

    // Pixel x of the current output row on its own.
    uint32_t pixelAt(int x) const
    {
        const int step = job.step;
        const int r = job.radius;
        const int componentWidth = job.componentWidth;
        const float *weightAt = job.weightByDistance;
        const size_t planeStride = this->planeStride;
        const int rows = this->rows;
        const NodeTerm *rowTerms = this->rowTerms.get();
        const float *const *rowBase = this->rowBase.get();
        NodeTerm *columnTerms = this->columnTerms.get();
        int columns = 0;
        const int kLast = minInt(job.width - 1, x + r);
        for (int k = ceilDiv(maxInt(0, x - r), step) * step; k <= kLast; k += step)
            columnTerms[columns++] = NodeTerm{weightAt[absInt(x - k)], minInt(k / step, componentWidth - 1)};
        float red = 0.0f;
        float green = 0.0f;
        float blue = 0.0f;
        float w = 0.0f;
        for (int i = 0; i < rows; ++i) {
            const NodeTerm row = rowTerms[i];
            for (int k = 0; k < columns; ++k) {
                const NodeTerm column = columnTerms[k];
                const float s = row.weight * column.weight;
                w += s;
                if (s == 0.0f)
                    continue;
                const float *at = rowBase[i] + column.node;
                red += at[0] * s;
                green += at[planeStride] * s;
                blue += at[2 * planeStride] * s;
            }
        }
        return pixelOf(red, green, blue, w);
    }

    // The current output row at out, every pixel on its own.
    void plainRow(uint32_t *out) const
    {
        for (int x = 0; x < job.width; ++x)
            out[x] = pixelAt(x);
    }

    // Each phase's taps for the current row, in the accumulation order: the
    // products of the row terms and the phase's column terms, zero ones left
    // out, with their weight sum.
    void phaseTapsOfRow()
    {
        const float *base = planes.get();
        for (int c = 0; c < job.step; ++c) {
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
    }

    // The current output row at out: the shared blocks lanes at a time per
    // phase, every other pixel on its own.
    void blockRow(uint32_t *out)
    {
        phaseTapsOfRow();
        const int step = job.step;
        const int lanes = L::lanes;
        const int lastBlock = blocks.last;
        const float *base = planes.get();
        const size_t planeStride = this->planeStride;
        const size_t maxTaps = this->maxTaps;
        const ptrdiff_t *tapAt = this->tapAt.get();
        const float *tapWeight = this->tapWeight.get();
        const int *phaseTaps = this->phaseTaps.get();
        const float *phaseWeight = this->phaseWeight.get();
        uint32_t *scattered = this->scattered.get();
        auto phasePixels = [&](int c, int m) {
            F red = L::zero();
            F green = L::zero();
            F blue = L::zero();
            const ptrdiff_t *at = tapAt + size_t(c) * maxTaps;
            const float *weight = tapWeight + size_t(c) * maxTaps;
            const int taps = phaseTaps[c];
            for (int t = 0; t < taps; ++t) {
                const float *v = base + (at[t] + m);
                const F s = L::set1(weight[t]);
                red = L::add(red, L::mul(L::load(v), s));
                green = L::add(green, L::mul(L::load(v + planeStride), s));
                blue = L::add(blue, L::mul(L::load(v + 2 * planeStride), s));
            }
            return L::pixels(red, green, blue, L::set1(phaseWeight[c]));
        };

        int x = 0;
        for (; x < blocks.first * step; ++x)
            out[x] = pixelAt(x);
        int m = blocks.first;
        // Step 2 with a few taps per phase (the hybrid codec's radius 1 gives
        // 1 and 2, or 2 and 4): the taps' rows and weights are held for the
        // whole row, the sums formed tap by tap in the same order.
        if (step == 2 && phaseTaps[0] <= maxHeldTaps && phaseTaps[1] <= maxHeldTaps)
            m = heldStep2Row<L>(base, tapAt, tapWeight, maxTaps, phaseTaps, phaseWeight, out, m, lastBlock,
                                planeStride);
        for (; m + lanes - 1 <= lastBlock; m += lanes) {
            if (step == 1) {
                L::storePixels(out + m, phasePixels(0, m));
            } else if (step == 2) {
                const I even = phasePixels(0, m);
                const I odd = phasePixels(1, m);
                L::storePixels2(out + 2 * m, even, odd);
            } else {
                for (int c = 0; c < step; ++c)
                    L::storePixels(scattered + size_t(c) * size_t(lanes), phasePixels(c, m));
                uint32_t *block = out + ptrdiff_t(m) * step;
                for (int i = 0; i < lanes; ++i)
                    for (int c = 0; c < step; ++c)
                        block[i * step + c] = scattered[size_t(c) * size_t(lanes) + size_t(i)];
            }
        }
        for (x = m * step; x < job.width; ++x)
            out[x] = pixelAt(x);
    }
};

template<class L>
bool inverseTransformRows(const transformkernels::InverseJob &job)
{
    InversePass<L> pass(job);
    if (!pass.ok())
        return false;
    pass.preparePhases();
    for (int y = 0; y < job.height; ++y) {
        uint32_t *out = job.out + ptrdiff_t(y) * job.outStride;
        pass.loadRowTerms(y);
        if (pass.hasBlocks())
            pass.blockRow(out);
        else
            pass.plainRow(out);
        if (!passRow(job, y, out))
            return false;
    }
    return true;
}

} // namespace

} // namespace veltrano

#endif // TRANSFORMKERNELS_INVERSE_H
