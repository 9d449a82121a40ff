// What the direct and the inverse F-transform loops share, written once over
// a lane type: integer helpers, the pixel words, scratch memory and the ring
// of held rows (RowSlots). The loops themselves are in
// transformkernels_direct.h and transformkernels_inverse.h, included by
// transformkernels_scalar.cpp, _sse2.cpp and _avx2.cpp, each of which
// defines `Lanes` (see below) for its instruction set; everything here has
// internal linkage, so the three copies never meet at link time.
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

#ifndef TRANSFORMKERNELS_IMPL_H
#define TRANSFORMKERNELS_IMPL_H

#include "codec/dsp/transformkernels.h"

#include <cstdint>
#include <cstdlib>

namespace veltrano {

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

// Hands a finished output row to the job's row sink, if it has one; false
// when the sink asks the transform to stop.
template<class Job>
inline bool passRow(const Job &job, int row, const uint32_t *out)
{
    return !job.takeRow || job.takeRow(job.sinkContext, row, out);
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

// Which row each slot of a ring of held rows holds (input rows of the direct
// transform, component rows of the inverse): row py goes to slot py % count,
// so the consecutive rows one output row uses never share a slot.
class RowSlots
{
public:
    explicit RowSlots(int count) : count(count), held(size_t(count))
    {
        if (held.ok())
            for (int s = 0; s < count; ++s)
                held[size_t(s)] = -1;
    }

    bool ok() const { return held.ok(); }
    int slotOf(int py) const { return py % count; }

    // True when row py is not in its slot yet; the slot counts as holding
    // it from now on, so the caller puts it there.
    bool claim(int py)
    {
        const size_t slot = size_t(py % count);
        if (held[slot] == py)
            return false;
        held[slot] = py;
        return true;
    }

private:
    int count;
    Scratch<int> held;
};

} // namespace

} // namespace veltrano

#endif // TRANSFORMKERNELS_IMPL_H
