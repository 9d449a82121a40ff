#ifndef TRANSFORMKERNELS_DIRECT_H
#define TRANSFORMKERNELS_DIRECT_H

// The direct F-transform loops over a lane type (see transformkernels_impl.h):
// a separable row/column pass for kernels whose sums are exact, a general
// per-node accumulation for any other kernel, and the hybrid codec's integer
// pass; directTransformRows chooses among them. What they share comes first:
// splitRow, an input row split by phase (for the first two); DirectShape,
// the job's sizes with that layout; and forEachNodeRow, the walk over the
// node rows. Each
// pass is then a struct whose constructor allocates the working memory
// (rows held in a RowSlots ring) and whose member functions are the row and
// column steps the walk calls.

#include "codec/dsp/transformkernels_impl.h"

namespace veltrano {

namespace {

// Splits one input row into channel planes by phase: pixel px = k * step + p
// goes to planes[c * channelStride + p * phaseStride + k] for the channels
// c = red, green, blue. Node k's own pixel is then element k of phase 0, and
// its neighbour at offset dx is element k + floor(dx / step) of phase
// dx mod step, so the same tap of consecutive nodes is a contiguous load.
template<class L>
void splitRow(const uint32_t *src, int width, int step, float *planes, size_t phaseStride, size_t channelStride)
{
    float *red = planes;
    float *green = planes + channelStride;
    float *blue = planes + 2 * channelStride;
    if (step == 1) {
        int x = L::toPlanar(src, width, red, green, blue);
        for (; x < width; ++x) {
            red[x] = redOf(src[x]);
            green[x] = greenOf(src[x]);
            blue[x] = blueOf(src[x]);
        }
        return;
    }
    if (step == 2) {
        const int pairs = width / 2;
        int k = L::toPlanar2(src, pairs, red, green, blue, red + phaseStride, green + phaseStride,
                             blue + phaseStride);
        for (; k < pairs; ++k) {
            red[k] = redOf(src[2 * k]);
            green[k] = greenOf(src[2 * k]);
            blue[k] = blueOf(src[2 * k]);
            red[phaseStride + k] = redOf(src[2 * k + 1]);
            green[phaseStride + k] = greenOf(src[2 * k + 1]);
            blue[phaseStride + k] = blueOf(src[2 * k + 1]);
        }
        if (width & 1) {
            red[pairs] = redOf(src[width - 1]);
            green[pairs] = greenOf(src[width - 1]);
            blue[pairs] = blueOf(src[width - 1]);
        }
        return;
    }
    int k = 0;
    for (int x0 = 0; x0 < width; x0 += step, ++k) {
        const int count = minInt(step, width - x0);
        for (int p = 0; p < count; ++p) {
            const uint32_t word = src[x0 + p];
            const size_t at = size_t(p) * phaseStride + size_t(k);
            red[at] = redOf(word);
            green[at] = greenOf(word);
            blue[at] = blueOf(word);
        }
    }
}

// The node row stored in component row j: node rows y = 0, step, 2 step ...
// go to row min(componentHeight - 1, y / step), so the last row receives the
// last node row and every earlier one it would receive is overwritten.
inline int nodeRowOf(int j, int componentHeight, int height, int step)
{
    return j < componentHeight - 1 ? j * step : ((height - 1) / step) * step;
}

// The job's sizes as every direct pass uses them, and the layout of an input
// row split by phase (splitRow): phaseStride floats from one phase plane to
// the next (a plane holds one float per node column, and lanes more so that
// a vector load at the last node stays inside), channelStride from one
// channel's planes to the next's. slots: the input rows one node row's
// window can span.
struct DirectShape
{
    int width;  // of the input image
    int height;
    int step;
    int n; // kernel radius
    const float *kernel;
    int componentWidth;
    int componentHeight;
    size_t phaseStride;
    size_t channelStride;
    int slots;

    DirectShape(const transformkernels::DirectJob &job, int lanes)
        : width(job.width), height(job.height), step(job.step), n(job.radius), kernel(job.kernel),
          componentWidth(job.componentWidth), componentHeight(job.componentHeight),
          phaseStride(size_t((job.width + job.step - 1) / job.step) + size_t(lanes)),
          channelStride(phaseStride * size_t(job.step)), slots(minInt(2 * job.radius + 1, job.height))
    {
    }
};

// A node row and the input rows first .. last its window takes.
struct NodeWindow
{
    int y;
    int first;
    int last;
};

// The walk over the node rows of every direct pass: for each component row
// j in turn, build(window, out) writes the row at out, which then goes to
// the row sink. reach: how far from its node row a node's window extends.
// False as soon as the sink stops the transform.
template<class Build>
inline bool forEachNodeRow(const transformkernels::DirectJob &job, int step, int reach, Build &&build)
{
    for (int j = 0; j < job.componentHeight; ++j) {
        const int y = nodeRowOf(j, job.componentHeight, job.height, step);
        const NodeWindow window{y, maxInt(0, y - reach), minInt(job.height - 1, y + reach)};
        uint32_t *out = job.out + ptrdiff_t(j) * job.outStride;
        build(window, out);
        if (!passRow(job, j, out))
            return false;
    }
    return true;
}

// Direct transform with a kernel whose sums are all exact: every pixel row is
// first reduced to its weighted sums at the node columns (row pass), then the
// node rows combine those (column pass). Exactness makes the order free.
// Row-pass taps: the non-zero coefficients (a zero one adds an exact 0), each
// with its phase plane and its node shift; sums: a ring of row-pass results,
// a red, a green and a blue row per input row.
template<class L>
struct SeparablePass
{
    using F = typename L::F;
    using I = typename L::I;

    DirectShape shape;
    Scratch<int> tapOffset;
    Scratch<float> tapWeight;
    Scratch<size_t> tapPlane;
    Scratch<int> tapShift;
    Scratch<float> planes;
    size_t sumStride;
    Scratch<float> sums;
    RowSlots ring;
    Scratch<float> columnWeight;
    Scratch<const float *> rowSums;
    Scratch<float> rowTapWeight;
    int taps = 0;
    // Node columns whose every tap lies inside the row.
    int innerFirst = 0;
    int innerLast = -1;

    explicit SeparablePass(const transformkernels::DirectJob &job)
        : shape(job, L::lanes), tapOffset(size_t(2 * shape.n + 1)), tapWeight(size_t(2 * shape.n + 1)),
          tapPlane(size_t(2 * shape.n + 1)), tapShift(size_t(2 * shape.n + 1)), planes(3 * shape.channelStride),
          sumStride(size_t(shape.componentWidth) + size_t(L::lanes)), sums(size_t(shape.slots) * 3 * sumStride),
          ring(shape.slots), columnWeight(sumStride), rowSums(size_t(2 * shape.n + 1)),
          rowTapWeight(size_t(2 * shape.n + 1))
    {
    }

    bool ok() const
    {
        return tapOffset.ok() && tapWeight.ok() && tapPlane.ok() && tapShift.ok() && planes.ok() && sums.ok()
            && ring.ok() && columnWeight.ok() && rowSums.ok() && rowTapWeight.ok();
    }

    // The row-pass taps, each node column's weight sum and the inner columns.
    void prepare()
    {
        const int n = shape.n;
        const int step = shape.step;
        int reach = 0;
        for (int dx = -n; dx <= n; ++dx) {
            const float a = shape.kernel[absInt(dx)];
            if (a == 0.0f)
                continue;
            const int phase = dx - floorDiv(dx, step) * step;
            tapOffset[size_t(taps)] = dx;
            tapWeight[size_t(taps)] = a;
            tapPlane[size_t(taps)] = size_t(phase) * shape.phaseStride;
            tapShift[size_t(taps)] = floorDiv(dx, step);
            reach = maxInt(reach, absInt(dx));
            ++taps;
        }
        for (int m = 0; m < shape.componentWidth; ++m) {
            float w = 0.0f;
            for (int t = 0; t < taps; ++t) {
                const int px = m * step + tapOffset[size_t(t)];
                if (px >= 0 && px < shape.width)
                    w += tapWeight[size_t(t)];
            }
            columnWeight[size_t(m)] = w;
        }
        innerFirst = ceilDiv(reach, step);
        innerLast = shape.width - 1 - reach < 0 ? -1
                                                : minInt(shape.componentWidth - 1, (shape.width - 1 - reach) / step);
    }

    // Row pass of input row src: its red, green and blue sums at every node
    // column, the rows starting at outRed, outRed + sumStride and outRed + 2
    // sumStride.
    void rowPass(const uint32_t *src, float *outRed) const
    {
        const int width = shape.width;
        const int step = shape.step;
        const int componentWidth = shape.componentWidth;
        const size_t phaseStride = shape.phaseStride;
        const size_t channelStride = shape.channelStride;
        const int taps = this->taps;
        const int *tapOffset = this->tapOffset.get();
        const float *tapWeight = this->tapWeight.get();
        const size_t *tapPlane = this->tapPlane.get();
        const int *tapShift = this->tapShift.get();
        const int innerFirst = this->innerFirst;
        const int innerLast = this->innerLast;
        const int lanes = L::lanes;
        splitRow<L>(src, width, step, planes.get(), phaseStride, channelStride);
        const float *red = planes.get();
        const float *green = red + channelStride;
        const float *blue = green + channelStride;
        float *outGreen = outRed + sumStride;
        float *outBlue = outGreen + sumStride;
        auto one = [&](int m) {
            float r = 0.0f;
            float g = 0.0f;
            float b = 0.0f;
            for (int t = 0; t < taps; ++t) {
                const int px = m * step + tapOffset[t];
                if (px < 0 || px >= width)
                    continue;
                const size_t at = size_t(px % step) * phaseStride + size_t(px / step);
                const float a = tapWeight[t];
                r += red[at] * a;
                g += green[at] * a;
                b += blue[at] * a;
            }
            outRed[m] = r;
            outGreen[m] = g;
            outBlue[m] = b;
        };
        int m = 0;
        for (; m < componentWidth && m < innerFirst; ++m)
            one(m);
        for (; m + lanes - 1 <= innerLast; m += lanes) {
            F r = L::zero();
            F g = L::zero();
            F b = L::zero();
            for (int t = 0; t < taps; ++t) {
                const size_t at = tapPlane[t] + size_t(m + tapShift[t]);
                const F a = L::set1(tapWeight[t]);
                r = L::add(r, L::mul(L::load(red + at), a));
                g = L::add(g, L::mul(L::load(green + at), a));
                b = L::add(b, L::mul(L::load(blue + at), a));
            }
            L::store(outRed + m, r);
            L::store(outGreen + m, g);
            L::store(outBlue + m, b);
        }
        for (; m < componentWidth; ++m)
            one(m);
    }

    // The row sums of the window's rows with a non-zero coefficient, each
    // row passed unless the ring holds it, in rowSums and rowTapWeight;
    // returns how many, with their weight sum in rowWeight.
    int gatherRows(const transformkernels::DirectJob &job, const NodeWindow &window, float &rowWeight)
    {
        int rowTaps = 0;
        rowWeight = 0.0f;
        for (int py = window.first; py <= window.last; ++py) {
            const float a = shape.kernel[absInt(window.y - py)];
            if (a == 0.0f)
                continue;
            float *slotSums = sums.get() + size_t(ring.slotOf(py)) * 3 * sumStride;
            if (ring.claim(py))
                rowPass(job.fetchRow(job.context, py), slotSums);
            rowSums[size_t(rowTaps)] = slotSums;
            rowTapWeight[size_t(rowTaps)] = a;
            rowWeight += a;
            ++rowTaps;
        }
        return rowTaps;
    }

    // Column pass: the component row at out from the gathered row sums.
    void columnPass(int rowTaps, float rowWeight, uint32_t *out) const
    {
        const int componentWidth = shape.componentWidth;
        const size_t sumStride = this->sumStride;
        const float *const *rowSums = this->rowSums.get();
        const float *rowTapWeight = this->rowTapWeight.get();
        const float *columnWeight = this->columnWeight.get();
        const int lanes = L::lanes;
        int m = 0;
        const F rowWeights = L::set1(rowWeight);
        for (; m + lanes <= componentWidth; m += lanes) {
            F r = L::zero();
            F g = L::zero();
            F b = L::zero();
            for (int t = 0; t < rowTaps; ++t) {
                const float *at = rowSums[t] + m;
                const F a = L::set1(rowTapWeight[t]);
                r = L::add(r, L::mul(L::load(at), a));
                g = L::add(g, L::mul(L::load(at + sumStride), a));
                b = L::add(b, L::mul(L::load(at + 2 * sumStride), a));
            }
            const F w = L::mul(L::load(columnWeight + m), rowWeights);
            const I words = L::pixels(r, g, b, w);
            L::storePixels(out + m, words);
        }
        for (; m < componentWidth; ++m) {
            float r = 0.0f;
            float g = 0.0f;
            float b = 0.0f;
            for (int t = 0; t < rowTaps; ++t) {
                const float *at = rowSums[t] + m;
                const float a = rowTapWeight[t];
                r += at[0] * a;
                g += at[sumStride] * a;
                b += at[2 * sumStride] * a;
            }
            out[m] = pixelOf(r, g, b, columnWeight[m] * rowWeight);
        }
    }
};

template<class L>
bool directSeparable(const transformkernels::DirectJob &job)
{
    SeparablePass<L> pass(job);
    if (!pass.ok())
        return false;
    pass.prepare();
    return forEachNodeRow(job, job.step, job.radius, [&](const NodeWindow &window, uint32_t *out) {
        float rowWeight;
        const int rowTaps = pass.gatherRows(job, window, rowWeight);
        pass.columnPass(rowTaps, rowWeight, out);
    });
}

// Direct transform for any kernel: each node accumulates its taps in the
// defined order (pixel columns outer, rows inner); consecutive nodes of a
// node row take one lane each. The input rows of a window are held split by
// phase in a ring of slots; an inner node's taps (every one inside the
// image) are the same offsets and weights for the whole node row.
template<class L>
struct GeneralPass
{
    using F = typename L::F;
    using I = typename L::I;

    DirectShape shape;
    size_t slotSize;
    Scratch<float> planes;
    RowSlots ring;
    size_t maxTaps;
    Scratch<ptrdiff_t> tapAt;
    Scratch<float> tapWeight;
    // Nodes whose every tap lies inside the row.
    int innerFirst;
    int innerLast;

    explicit GeneralPass(const transformkernels::DirectJob &job)
        : shape(job, L::lanes), slotSize(3 * shape.channelStride), planes(size_t(shape.slots) * slotSize),
          ring(shape.slots), maxTaps(size_t(2 * shape.n + 1) * size_t(shape.slots)), tapAt(maxTaps),
          tapWeight(maxTaps), innerFirst(ceilDiv(shape.n, shape.step)),
          innerLast(shape.width - 1 - shape.n < 0
                        ? -1
                        : minInt(shape.componentWidth - 1, (shape.width - 1 - shape.n) / shape.step))
    {
    }

    bool ok() const { return planes.ok() && ring.ok() && tapAt.ok() && tapWeight.ok(); }

    // Where input row py's planes start, from the ring's start.
    ptrdiff_t rowPlane(int py) const { return ptrdiff_t(size_t(ring.slotOf(py)) * slotSize); }

    // Puts the window's rows that the ring does not hold yet into it.
    void loadWindow(const transformkernels::DirectJob &job, const NodeWindow &window)
    {
        for (int py = window.first; py <= window.last; ++py)
            if (ring.claim(py))
                splitRow<L>(job.fetchRow(job.context, py), shape.width, shape.step, planes.get() + rowPlane(py),
                            shape.phaseStride, shape.channelStride);
    }

    // The taps of an inner node, in the accumulation order, in tapAt and
    // tapWeight; returns how many, with their weight sum (the same for every
    // inner node of this row) in innerWeight.
    int innerTaps(const NodeWindow &window, float &innerWeight)
    {
        const int n = shape.n;
        const float *kernel = shape.kernel;
        int taps = 0;
        innerWeight = 0.0f;
        for (int dx = -n; dx <= n; ++dx) {
            const float a = kernel[absInt(dx)];
            const int shift = floorDiv(dx, shape.step);
            const ptrdiff_t plane = ptrdiff_t(size_t(dx - shift * shape.step) * shape.phaseStride) + shift;
            for (int py = window.first; py <= window.last; ++py) {
                const float s = a * kernel[absInt(window.y - py)];
                innerWeight += s;
                if (s == 0.0f)
                    continue;
                tapAt[size_t(taps)] = rowPlane(py) + plane;
                tapWeight[size_t(taps)] = s;
                ++taps;
            }
        }
        return taps;
    }

    // Node m of the window's node row tap by tap, for nodes near the border.
    uint32_t borderPixel(const NodeWindow &window, int m) const
    {
        const int step = shape.step;
        const int n = shape.n;
        const float *kernel = shape.kernel;
        const size_t phaseStride = shape.phaseStride;
        const size_t channelStride = shape.channelStride;
        const float *base = planes.get();
        const int x = m * step;
        float r = 0.0f;
        float g = 0.0f;
        float b = 0.0f;
        float w = 0.0f;
        const int lastColumn = minInt(shape.width - 1, x + n);
        for (int px = maxInt(0, x - n); px <= lastColumn; ++px) {
            const float a = kernel[absInt(x - px)];
            const ptrdiff_t column = ptrdiff_t(size_t(px % step) * phaseStride + size_t(px / step));
            for (int py = window.first; py <= window.last; ++py) {
                const float s = a * kernel[absInt(window.y - py)];
                w += s;
                if (s == 0.0f)
                    continue;
                const float *at = base + rowPlane(py) + column;
                r += at[0] * s;
                g += at[channelStride] * s;
                b += at[2 * channelStride] * s;
            }
        }
        return pixelOf(r, g, b, w);
    }

    // The window's component row at out: border nodes one by one, inner
    // nodes lanes at a time with the taps of innerTaps.
    void buildRow(const NodeWindow &window, uint32_t *out)
    {
        const int componentWidth = shape.componentWidth;
        const size_t channelStride = shape.channelStride;
        const int lanes = L::lanes;
        float innerWeight;
        const int taps = innerTaps(window, innerWeight);
        const float *base = planes.get();
        const ptrdiff_t *tapAt = this->tapAt.get();
        const float *tapWeight = this->tapWeight.get();
        const int innerFirst = this->innerFirst;
        const int innerLast = this->innerLast;
        int m = 0;
        for (; m < componentWidth && m < innerFirst; ++m)
            out[m] = borderPixel(window, m);
        const F weights = L::set1(innerWeight);
        for (; m + lanes - 1 <= innerLast; m += lanes) {
            F r = L::zero();
            F g = L::zero();
            F b = L::zero();
            for (int t = 0; t < taps; ++t) {
                const float *at = base + (tapAt[t] + m);
                const F s = L::set1(tapWeight[t]);
                r = L::add(r, L::mul(L::load(at), s));
                g = L::add(g, L::mul(L::load(at + channelStride), s));
                b = L::add(b, L::mul(L::load(at + 2 * channelStride), s));
            }
            const I words = L::pixels(r, g, b, weights);
            L::storePixels(out + m, words);
        }
        for (; m < componentWidth; ++m)
            out[m] = borderPixel(window, m);
    }
};

template<class L>
bool directGeneral(const transformkernels::DirectJob &job)
{
    GeneralPass<L> pass(job);
    if (!pass.ok())
        return false;
    return forEachNodeRow(job, job.step, job.radius, [&](const NodeWindow &window, uint32_t *out) {
        pass.loadWindow(job, window);
        pass.buildRow(window, out);
    });
}

// The hybrid codec's direct transform (kernel 1, 0.5, 0, step 2) in integers.
// With K = 2, 1 for distances 0, 1 (the kernel times 2), a component's colour
// sum is S / 4 and its weight sum Wt / 4 for the integers S = sum Kx Ky value
// and Wt = sum Kx Ky over the taps inside the image; both are exact floats
// (see kernelSumsAreExact), so the defined quotient is the float quotient of
// float(S) and float(Wt). A node with all nine taps inside has Wt = 16: the
// quotient S / 16 is then exact and its truncation is S >> 4. Row pass: the
// 16-bit sums c[2m - 1] + 2 c[2m] + c[2m + 1] per byte of the pixel words
// (at most 1020), in a ring of three rows; column pass: the rows above, at
// and below a node row combined the same way (at most 4080).
template<class L>
struct HybridPass
{
    DirectShape shape;
    size_t rowLength;
    Scratch<std::uint16_t> sums;
    Scratch<int> columnWeight; // Kx summed over a node column's taps inside
    RowSlots ring;
    // Nodes whose three taps lie inside the row.
    int innerLast;

    explicit HybridPass(const transformkernels::DirectJob &job)
        : shape(job, L::lanes), rowLength(4 * size_t(shape.componentWidth) + 64), sums(3 * rowLength),
          columnWeight(size_t(shape.componentWidth)), ring(3),
          innerLast(minInt(shape.componentWidth - 1, (shape.width - 2) / 2))
    {
        if (columnWeight.ok())
            for (int m = 0; m < shape.componentWidth; ++m)
                columnWeight[size_t(m)] = 2 + (2 * m - 1 >= 0 ? 1 : 0) + (2 * m + 1 < shape.width ? 1 : 0);
    }

    bool ok() const { return sums.ok() && columnWeight.ok() && ring.ok(); }

    std::uint16_t *rowSums(int py) const { return sums.get() + size_t(ring.slotOf(py)) * rowLength; }

    // Row pass of input row py into its slot of the ring. A function of its
    // own, once per row, so that the vector loop is compiled by itself (when
    // inlined, GCC 12 loaded one of its vectors twice per step).
    __attribute__((noinline)) void rowPass(const uint32_t *src, int py) const
    {
        const int width = shape.width;
        const int componentWidth = shape.componentWidth;
        std::uint16_t *out = rowSums(py);
        auto one = [&](int m) {
            const int x = 2 * m;
            for (int byte = 0; byte < 4; ++byte) {
                const int shift = 8 * byte;
                int sum = 2 * int((src[x] >> shift) & 0xFFu);
                if (x - 1 >= 0)
                    sum += int((src[x - 1] >> shift) & 0xFFu);
                if (x + 1 < width)
                    sum += int((src[x + 1] >> shift) & 0xFFu);
                out[4 * size_t(m) + size_t(byte)] = std::uint16_t(sum);
            }
        };
        one(0);
        int m = 1;
        if (m <= innerLast)
            m = L::hybridRow(src, width, m, innerLast, out);
        for (; m < componentWidth; ++m)
            one(m);
    }

    // Column pass of the window's node row into out, each of its rows
    // passed first unless the ring holds it.
    void columnPass(const transformkernels::DirectJob &job, const NodeWindow &window, uint32_t *out)
    {
        const std::uint16_t *rows[3] = {nullptr, nullptr, nullptr};
        int rowWeight = 0;
        for (int py = window.first; py <= window.last; ++py) {
            if (ring.claim(py))
                rowPass(job.fetchRow(job.context, py), py);
            rows[py - window.y + 1] = rowSums(py);
            rowWeight += py == window.y ? 2 : 1;
        }
        const int *columnWeight = this->columnWeight.get();
        auto one = [&](int m) {
            const float weight = float(columnWeight[m] * rowWeight);
            float channel[3];
            for (int c = 0; c < 3; ++c) {
                const size_t at = 4 * size_t(m) + size_t(c);
                int sum = 2 * rows[1][at];
                if (rows[0])
                    sum += rows[0][at];
                if (rows[2])
                    sum += rows[2][at];
                channel[c] = float(sum);
            }
            // Bytes 0, 1, 2 of the word: blue, green, red.
            out[m] = 0xFF000000u | (channelOf(channel[2], weight) << 16) | (channelOf(channel[1], weight) << 8)
                | channelOf(channel[0], weight);
        };
        int m = 0;
        if (rows[0] && rows[2]) {
            one(0);
            m = L::hybridColumn(rows[0], rows[1], rows[2], 1, innerLast + 1, out);
        }
        for (; m < shape.componentWidth; ++m)
            one(m);
    }
};

template<class L>
bool directHybrid(const transformkernels::DirectJob &job)
{
    HybridPass<L> pass(job);
    if (!pass.ok())
        return false;
    return forEachNodeRow(job, 2, 1,
                          [&](const NodeWindow &window, uint32_t *out) { pass.columnPass(job, window, out); });
}

template<class L>
bool directTransformRows(const transformkernels::DirectJob &job)
{
    if (job.hybrid)
        return directHybrid<L>(job);
    return job.separable ? directSeparable<L>(job) : directGeneral<L>(job);
}

} // namespace

} // namespace veltrano

#endif // TRANSFORMKERNELS_DIRECT_H
