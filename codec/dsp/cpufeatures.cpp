#include "codec/dsp/cpufeatures.h"

#include <atomic>

namespace veltrano {

namespace {

SimdLevel detect()
{
#ifdef VELTRANO_X86_SIMD
    __builtin_cpu_init();
    // AVX2 also needs the operating system to save the 256-bit registers;
    // __builtin_cpu_supports checks that as well.
    if (__builtin_cpu_supports("avx2"))
        return SimdLevel::Avx2;
    return SimdLevel::Sse2;
#else
    return SimdLevel::Scalar;
#endif
}

std::atomic<int> &chosenLevel()
{
    static std::atomic<int> level{static_cast<int>(detect())};
    return level;
}

} // namespace

SimdLevel detectedSimdLevel()
{
    static const SimdLevel level = detect();
    return level;
}

bool simdLevelSupported(SimdLevel level)
{
    return static_cast<int>(level) <= static_cast<int>(detectedSimdLevel());
}

SimdLevel transformSimdLevel()
{
    return static_cast<SimdLevel>(chosenLevel().load(std::memory_order_relaxed));
}

SimdLevel setTransformSimdLevel(SimdLevel level)
{
    const SimdLevel usable = simdLevelSupported(level) ? level : detectedSimdLevel();
    chosenLevel().store(static_cast<int>(usable), std::memory_order_relaxed);
    return usable;
}

const char *simdLevelName(SimdLevel level)
{
    switch (level) {
    case SimdLevel::Scalar:
        return "scalar";
    case SimdLevel::Sse2:
        return "sse2";
    case SimdLevel::Avx2:
        return "avx2";
    }
    return "unknown";
}

} // namespace veltrano
