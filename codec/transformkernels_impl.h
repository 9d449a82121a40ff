// The direct and inverse F-transform loops, written once over a lane type.
// Included by transformkernels_scalar.cpp, _sse2.cpp and _avx2.cpp, each after
// it has defined `Lanes` (see below) for its instruction set; everything here
// has internal linkage, so the three copies never meet at link time.
//
// A lane type provides:
//   lanes                       number of single-precision lanes
//   F, I                        a float vector and a vector of 32-bit words
//   zero(), set1(f), load(p), store(p, v)
//                               (unaligned) float vectors
//   add(a, b), mul(a, b)        one IEEE single-precision operation per lane
//   pixels(r, g, b, w)          the opaque ARGB32 words of the channels
//                               r / w, g / w, b / w (see pixelOf)
//   storePixels(p, v)           lanes words at p
//   storePixels2(p, e, o)       2 * lanes words at p, e and o interleaved
//   toPlanar(src, count, r, g, b)
//                               splits a prefix of count words into channel
//                               floats; returns how many it did
//   toPlanar2(src, pairs, re, ge, be, ro, go, bo)
//                               the same for even and odd words apart; returns
//                               how many pairs it did
//   hybridRow(src, width, m, last, out)
//                               for nodes m .. at most last, all inside the
//                               row: the four bytes of src[2m - 1] + 2 src[2m]
//                               + src[2m + 1] as 16-bit sums at out[4m ..
//                               4m + 3]; returns the first node not done
//   hybridColumn(above, middle, below, m, count, out)
//                               for nodes m .. below count: out[m] = alpha
//                               0xFF and the bytes (above + 2 middle + below)
//                               >> 4 of the 16-bit sums at 4m; returns the
//                               first node not done
//
// Every sum is formed with exactly the operations, in exactly the order, of
// the plain per-pixel definition, except where noted: a tap whose weight is
// exactly zero is left out of the colour sums. Its product with a colour
// value (0 .. 255) is a signed zero, and adding a signed zero leaves every
// sum unchanged except that -0 + +0 gives +0; a colour sum that differs only
// in the sign of zero gives the same channel (0 either way), so the pixels do
// not change. The weight sums keep every tap.

#include "nodeterm.h"
#include "transformkernels.h"

#include <cstdint>
#include <cstdlib>

namespace {

using std::ptrdiff_t;
using std::size_t;
using std::uint32_t;

inline int minInt(int a, int b)
{
    return a < b ? a : b;
}

inline int maxInt(int a, int b)
{
    return a > b ? a : b;
}

inline int absInt(int a)
{
    return a < 0 ? -a : a;
}

// Floor and ceiling of a / b for b > 0.
inline int floorDiv(int a, int b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

inline int ceilDiv(int a, int b)
{
    return a >= 0 ? (a + b - 1) / b : -((-a) / b);
}

// One channel: the single-precision quotient truncated toward zero, low 8
// bits kept; 0 for a zero weight sum or a quotient that is not a finite
// value within the range of int.
inline uint32_t channelOf(float colourSum, float weightSum)
{
    if (weightSum == 0.0f)
        return 0;
    const float quotient = colourSum / weightSum;
    if (!(__builtin_fabsf(quotient) < 2147483648.0f))
        return 0;
    return static_cast<uint32_t>(static_cast<int>(quotient)) & 0xFFu;
}

inline uint32_t pixelOf(float red, float green, float blue, float weight)
{
    return 0xFF000000u | (channelOf(red, weight) << 16) | (channelOf(green, weight) << 8)
        | channelOf(blue, weight);
}

inline float redOf(uint32_t word)
{
    return static_cast<float>((word >> 16) & 0xFFu);
}

inline float greenOf(uint32_t word)
{
    return static_cast<float>((word >> 8) & 0xFFu);
}

inline float blueOf(uint32_t word)
{
    return static_cast<float>(word & 0xFFu);
}

// Working memory from malloc (no exceptions, no shared inline code).
template<class T>
class Scratch
{
public:
    explicit Scratch(size_t count)
    {
        if (count == 0)
            count = 1;
        if (count <= SIZE_MAX / sizeof(T))
            memory = static_cast<T *>(std::malloc(count * sizeof(T)));
    }
    ~Scratch() { std::free(memory); }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;

    bool ok() const { return memory != nullptr; }
    T *get() const { return memory; }
    T &operator[](size_t i) const { return memory[i]; }

private:
    T *memory = nullptr;
};

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
    }
    return true;
}

} // namespace
