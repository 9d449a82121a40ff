#ifndef TRANSFORMKERNELS_DIRECT_H
#define TRANSFORMKERNELS_DIRECT_H

// The direct F-transform loops over a lane type (see transformkernels_impl.h):
// a separable row/column pass for kernels whose sums are exact, a general
// per-node accumulation for any other kernel, and the hybrid codec's integer
// pass; directTransformRows chooses among them.

#include "codec/dsp/transformkernels_impl.h"

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

// Direct transform with a kernel whose sums are all exact: every pixel row is
// first reduced to its weighted sums at the node columns (row pass), then the
// node rows combine those (column pass). Exactness makes the order free.
template<class L>
bool directSeparable(const transformkernels::DirectJob &job)
{
    using F = typename L::F;
    using I = typename L::I;
    const int width = job.width;
    const int height = job.height;
    const int step = job.step;
    const int n = job.radius;
    const float *kernel = job.kernel;
    const int componentWidth = job.componentWidth;
    const int componentHeight = job.componentHeight;
    const int lanes = L::lanes;

    // Row-pass taps: the non-zero coefficients (a zero one adds an exact 0).
    Scratch<int> tapOffset{size_t(2 * n + 1)};
    Scratch<float> tapWeight{size_t(2 * n + 1)};
    Scratch<size_t> tapPlane{size_t(2 * n + 1)};
    Scratch<int> tapShift{size_t(2 * n + 1)};
    const size_t phaseLength = size_t((width + step - 1) / step);
    const size_t phaseStride = phaseLength + size_t(lanes);
    const size_t channelStride = phaseStride * size_t(step);
    Scratch<float> planes{3 * channelStride};
    const int slots = minInt(2 * n + 1, height);
    const size_t sumStride = size_t(componentWidth) + size_t(lanes);
    Scratch<float> sums{size_t(slots) * 3 * sumStride};
    Scratch<int> slotRow{size_t(slots)};
    Scratch<float> columnWeight{sumStride};
    Scratch<const float *> rowSums{size_t(2 * n + 1)};
    Scratch<float> rowTapWeight{size_t(2 * n + 1)};
    if (!tapOffset.ok() || !tapWeight.ok() || !tapPlane.ok() || !tapShift.ok() || !planes.ok() || !sums.ok()
        || !slotRow.ok() || !columnWeight.ok() || !rowSums.ok() || !rowTapWeight.ok())
        return false;

    int taps = 0;
    int reach = 0;
    for (int dx = -n; dx <= n; ++dx) {
        const float a = kernel[absInt(dx)];
        if (a == 0.0f)
            continue;
        const int phase = dx - floorDiv(dx, step) * step;
        tapOffset[size_t(taps)] = dx;
        tapWeight[size_t(taps)] = a;
        tapPlane[size_t(taps)] = size_t(phase) * phaseStride;
        tapShift[size_t(taps)] = floorDiv(dx, step);
        reach = maxInt(reach, absInt(dx));
        ++taps;
    }
    for (int m = 0; m < componentWidth; ++m) {
        float w = 0.0f;
        for (int t = 0; t < taps; ++t) {
            const int px = m * step + tapOffset[size_t(t)];
            if (px >= 0 && px < width)
                w += tapWeight[size_t(t)];
        }
        columnWeight[size_t(m)] = w;
    }
    for (int s = 0; s < slots; ++s)
        slotRow[size_t(s)] = -1;

    // Node columns whose every tap lies inside the row.
    const int innerFirst = ceilDiv(reach, step);
    const int innerLast = width - 1 - reach < 0 ? -1 : minInt(componentWidth - 1, (width - 1 - reach) / step);

    const float *red = planes.get();
    const float *green = red + channelStride;
    const float *blue = green + channelStride;
    auto rowPass = [&](int py, float *outRed) {
        splitRow<L>(job.fetchRow(job.context, py), width, step, planes.get(), phaseStride, channelStride);
        float *outGreen = outRed + sumStride;
        float *outBlue = outGreen + sumStride;
        auto one = [&](int m) {
            float r = 0.0f;
            float g = 0.0f;
            float b = 0.0f;
            for (int t = 0; t < taps; ++t) {
                const int px = m * step + tapOffset[size_t(t)];
                if (px < 0 || px >= width)
                    continue;
                const size_t at = size_t(px % step) * phaseStride + size_t(px / step);
                const float a = tapWeight[size_t(t)];
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
                const size_t at = tapPlane[size_t(t)] + size_t(m + tapShift[size_t(t)]);
                const F a = L::set1(tapWeight[size_t(t)]);
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
    };

    for (int j = 0; j < componentHeight; ++j) {
        const int y = nodeRowOf(j, componentHeight, height, step);
        const int first = maxInt(0, y - n);
        const int last = minInt(height - 1, y + n);
        int rowTaps = 0;
        float rowWeight = 0.0f;
        for (int py = first; py <= last; ++py) {
            const float a = kernel[absInt(y - py)];
            if (a == 0.0f)
                continue;
            const int slot = py % slots;
            float *slotSums = sums.get() + size_t(slot) * 3 * sumStride;
            if (slotRow[size_t(slot)] != py) {
                rowPass(py, slotSums);
                slotRow[size_t(slot)] = py;
            }
            rowSums[size_t(rowTaps)] = slotSums;
            rowTapWeight[size_t(rowTaps)] = a;
            rowWeight += a;
            ++rowTaps;
        }
        uint32_t *out = job.out + ptrdiff_t(j) * job.outStride;
        int m = 0;
        const F rowWeights = L::set1(rowWeight);
        for (; m + lanes <= componentWidth; m += lanes) {
            F r = L::zero();
            F g = L::zero();
            F b = L::zero();
            for (int t = 0; t < rowTaps; ++t) {
                const float *at = rowSums[size_t(t)] + m;
                const F a = L::set1(rowTapWeight[size_t(t)]);
                r = L::add(r, L::mul(L::load(at), a));
                g = L::add(g, L::mul(L::load(at + sumStride), a));
                b = L::add(b, L::mul(L::load(at + 2 * sumStride), a));
            }
            const F w = L::mul(L::load(columnWeight.get() + m), rowWeights);
            const I words = L::pixels(r, g, b, w);
            L::storePixels(out + m, words);
        }
        for (; m < componentWidth; ++m) {
            float r = 0.0f;
            float g = 0.0f;
            float b = 0.0f;
            for (int t = 0; t < rowTaps; ++t) {
                const float *at = rowSums[size_t(t)] + m;
                const float a = rowTapWeight[size_t(t)];
                r += at[0] * a;
                g += at[sumStride] * a;
                b += at[2 * sumStride] * a;
            }
            out[m] = pixelOf(r, g, b, columnWeight[size_t(m)] * rowWeight);
        }
        if (!passRow(job, j, out))
            return false;
    }
    return true;
}

// Direct transform for any kernel: each node accumulates its taps in the
// defined order (pixel columns outer, rows inner); consecutive nodes of a
// node row take one lane each.
template<class L>
bool directGeneral(const transformkernels::DirectJob &job)
{
    using F = typename L::F;
    using I = typename L::I;
    const int width = job.width;
    const int height = job.height;
    const int step = job.step;
    const int n = job.radius;
    const float *kernel = job.kernel;
    const int componentWidth = job.componentWidth;
    const int componentHeight = job.componentHeight;
    const int lanes = L::lanes;

    const size_t phaseLength = size_t((width + step - 1) / step);
    const size_t phaseStride = phaseLength + size_t(lanes);
    const size_t channelStride = phaseStride * size_t(step);
    const size_t slotSize = 3 * channelStride;
    const int slots = minInt(2 * n + 1, height);
    Scratch<float> ring{size_t(slots) * slotSize};
    Scratch<int> slotRow{size_t(slots)};
    const size_t maxTaps = size_t(2 * n + 1) * size_t(slots);
    Scratch<ptrdiff_t> tapAt{maxTaps};
    Scratch<float> tapWeight{maxTaps};
    if (!ring.ok() || !slotRow.ok() || !tapAt.ok() || !tapWeight.ok())
        return false;
    for (int s = 0; s < slots; ++s)
        slotRow[size_t(s)] = -1;

    // Nodes whose every tap lies inside the row.
    const int innerFirst = ceilDiv(n, step);
    const int innerLast = width - 1 - n < 0 ? -1 : minInt(componentWidth - 1, (width - 1 - n) / step);
    const float *base = ring.get();

    for (int j = 0; j < componentHeight; ++j) {
        const int y = nodeRowOf(j, componentHeight, height, step);
        const int first = maxInt(0, y - n);
        const int last = minInt(height - 1, y + n);
        for (int py = first; py <= last; ++py) {
            const int slot = py % slots;
            if (slotRow[size_t(slot)] != py) {
                splitRow<L>(job.fetchRow(job.context, py), width, step, ring.get() + size_t(slot) * slotSize,
                            phaseStride, channelStride);
                slotRow[size_t(slot)] = py;
            }
        }
        auto rowPlane = [&](int py) { return ptrdiff_t(size_t(py % slots) * slotSize); };

        // The taps of an inner node, in the accumulation order, and their
        // weight sum (the same for every inner node of this row).
        int taps = 0;
        float innerWeight = 0.0f;
        for (int dx = -n; dx <= n; ++dx) {
            const float a = kernel[absInt(dx)];
            const int shift = floorDiv(dx, step);
            const ptrdiff_t plane = ptrdiff_t(size_t(dx - shift * step) * phaseStride) + shift;
            for (int py = first; py <= last; ++py) {
                const float s = a * kernel[absInt(y - py)];
                innerWeight += s;
                if (s == 0.0f)
                    continue;
                tapAt[size_t(taps)] = rowPlane(py) + plane;
                tapWeight[size_t(taps)] = s;
                ++taps;
            }
        }

        uint32_t *out = job.out + ptrdiff_t(j) * job.outStride;
        auto one = [&](int m) {
            const int x = m * step;
            float r = 0.0f;
            float g = 0.0f;
            float b = 0.0f;
            float w = 0.0f;
            const int lastColumn = minInt(width - 1, x + n);
            for (int px = maxInt(0, x - n); px <= lastColumn; ++px) {
                const float a = kernel[absInt(x - px)];
                const ptrdiff_t column = ptrdiff_t(size_t(px % step) * phaseStride + size_t(px / step));
                for (int py = first; py <= last; ++py) {
                    const float s = a * kernel[absInt(y - py)];
                    w += s;
                    if (s == 0.0f)
                        continue;
                    const float *at = base + rowPlane(py) + column;
                    r += at[0] * s;
                    g += at[channelStride] * s;
                    b += at[2 * channelStride] * s;
                }
            }
            out[m] = pixelOf(r, g, b, w);
        };

        int m = 0;
        for (; m < componentWidth && m < innerFirst; ++m)
            one(m);
        const F weights = L::set1(innerWeight);
        for (; m + lanes - 1 <= innerLast; m += lanes) {
            F r = L::zero();
            F g = L::zero();
            F b = L::zero();
            for (int t = 0; t < taps; ++t) {
                const float *at = base + (tapAt[size_t(t)] + m);
                const F s = L::set1(tapWeight[size_t(t)]);
                r = L::add(r, L::mul(L::load(at), s));
                g = L::add(g, L::mul(L::load(at + channelStride), s));
                b = L::add(b, L::mul(L::load(at + 2 * channelStride), s));
            }
            const I words = L::pixels(r, g, b, weights);
            L::storePixels(out + m, words);
        }
        for (; m < componentWidth; ++m)
            one(m);
        if (!passRow(job, j, out))
            return false;
    }
    return true;
}


// The hybrid codec's direct transform (kernel 1, 0.5, 0, step 2) in integers.
// With K = 2, 1 for distances 0, 1 (the kernel times 2), a component's colour
// sum is S / 4 and its weight sum Wt / 4 for the integers S = sum Kx Ky value
// and Wt = sum Kx Ky over the taps inside the image; both are exact floats
// (see kernelSumsAreExact), so the defined quotient is the float quotient of
// float(S) and float(Wt). A node with all nine taps inside has Wt = 16: the
// quotient S / 16 is then exact and its truncation is S >> 4. Row pass: the
// 16-bit sums c[2m - 1] + 2 c[2m] + c[2m + 1] per byte of the pixel words
// (at most 1020); column pass: the rows above, at and below a node row
// combined the same way (at most 4080).
template<class L>
bool directHybrid(const transformkernels::DirectJob &job)
{
    const int width = job.width;
    const int height = job.height;
    const int componentWidth = job.componentWidth;
    const int componentHeight = job.componentHeight;

    const size_t rowLength = 4 * size_t(componentWidth) + 64;
    Scratch<std::uint16_t> sums{3 * rowLength};
    Scratch<int> columnWeight{size_t(componentWidth)};
    if (!sums.ok() || !columnWeight.ok())
        return false;
    int slotRow[3] = {-1, -1, -1};
    for (int m = 0; m < componentWidth; ++m)
        columnWeight[size_t(m)] = 2 + (2 * m - 1 >= 0 ? 1 : 0) + (2 * m + 1 < width ? 1 : 0);
    // Nodes whose three taps lie inside the row.
    const int innerLast = minInt(componentWidth - 1, (width - 2) / 2);

    auto rowPass = [&](int py) {
        std::uint16_t *out = sums.get() + size_t(py % 3) * rowLength;
        const uint32_t *src = job.fetchRow(job.context, py);
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
    };

    for (int j = 0; j < componentHeight; ++j) {
        const int y = nodeRowOf(j, componentHeight, height, 2);
        const int first = maxInt(0, y - 1);
        const int last = minInt(height - 1, y + 1);
        const std::uint16_t *rows[3] = {nullptr, nullptr, nullptr};
        int rowWeight = 0;
        for (int py = first; py <= last; ++py) {
            if (slotRow[py % 3] != py) {
                rowPass(py);
                slotRow[py % 3] = py;
            }
            rows[py - y + 1] = sums.get() + size_t(py % 3) * rowLength;
            rowWeight += py == y ? 2 : 1;
        }
        uint32_t *out = job.out + ptrdiff_t(j) * job.outStride;
        auto one = [&](int m) {
            const float weight = float(columnWeight[size_t(m)] * rowWeight);
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
        for (; m < componentWidth; ++m)
            one(m);
        if (!passRow(job, j, out))
            return false;
    }
    return true;
}

template<class L>
bool directTransformRows(const transformkernels::DirectJob &job)
{
    if (job.hybrid)
        return directHybrid<L>(job);
    return job.separable ? directSeparable<L>(job) : directGeneral<L>(job);
}

} // namespace

#endif // TRANSFORMKERNELS_DIRECT_H
