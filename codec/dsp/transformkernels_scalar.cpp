// The transforms' loops one pixel at a time, in plain C++.

#include "codec/dsp/transformkernels_direct.h"
#include "codec/dsp/transformkernels_inverse.h"

namespace veltrano {

namespace {

struct Lanes
{
    static constexpr int lanes = 1;
    using F = float;
    using I = uint32_t;

    static F zero() { return 0.0f; }
    static F set1(float value) { return value; }
    static F load(const float *p) { return *p; }
    static void store(float *p, F value) { *p = value; }
    static F add(F a, F b) { return a + b; }
    static F mul(F a, F b) { return a * b; }
    static I pixels(F red, F green, F blue, F weight) { return pixelOf(red, green, blue, weight); }
    static void storePixels(uint32_t *p, I words) { *p = words; }
    static void storePixels2(uint32_t *p, I even, I odd)
    {
        p[0] = even;
        p[1] = odd;
    }
    static int toPlanar(const uint32_t *, int, float *, float *, float *) { return 0; }
    static int toPlanar2(const uint32_t *, int, float *, float *, float *, float *, float *, float *) { return 0; }
    static int hybridRow(const uint32_t *, int, int m, int, std::uint16_t *) { return m; }
    static int hybridColumn(const std::uint16_t *, const std::uint16_t *, const std::uint16_t *, int m, int,
                            uint32_t *)
    {
        return m;
    }
};

} // namespace

namespace transformkernels {

bool directScalar(const DirectJob &job)
{
    return directTransformRows<Lanes>(job);
}

bool inverseScalar(const InverseJob &job)
{
    return inverseTransformRows<Lanes>(job);
}

} // namespace transformkernels

} // namespace veltrano
