#ifndef CPUFEATURES_H
#define CPUFEATURES_H

namespace veltrano {

// The instruction sets the transforms' inner loops are built for. Every level
// gives bit-identical results; they differ in speed only.
enum class SimdLevel
{
    Scalar, // plain C++, one pixel at a time
    Sse2,   // 4 single-precision lanes, always present on x86-64
    Avx2,   // 8 lanes, used only when the processor reports AVX2
};

// The widest level this build and this processor can run.
SimdLevel detectedSimdLevel();

bool simdLevelSupported(SimdLevel level);

// The level the transforms use now: the detected one unless a narrower one
// was chosen with setTransformSimdLevel().
SimdLevel transformSimdLevel();

// Makes the transforms use `level`, or the widest supported level below it
// when the processor lacks it; returns the level now in use. The tests and the
// transform fuzzer use it to compare the code paths with each other; every
// level gives the same pixels, so no program needs it.
SimdLevel setTransformSimdLevel(SimdLevel level);

// "scalar", "sse2" or "avx2".
const char *simdLevelName(SimdLevel level);

} // namespace veltrano

#endif // CPUFEATURES_H
