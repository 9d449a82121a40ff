// The transforms' loops with AVX2, eight lanes. This file alone is compiled
// with -mavx2 (never with FMA: a fused multiply-add would change the sums)
// and is called only when the processor reports AVX2.

#include "codec/dsp/transformkernels_direct.h"
#include "codec/dsp/transformkernels_inverse.h"

#include <immintrin.h>

namespace veltrano {

namespace {

struct Lanes
{
    static constexpr int lanes = 8;
    using F = __m256;
    using I = __m256i;

    static F zero() { return _mm256_setzero_ps(); }
    static F set1(float value) { return _mm256_set1_ps(value); }
    static F load(const float *p) { return _mm256_loadu_ps(p); }
    static void store(float *p, F value) { _mm256_storeu_ps(p, value); }
    static F add(F a, F b) { return _mm256_add_ps(a, b); }
    static F mul(F a, F b) { return _mm256_mul_ps(a, b); }

    // channelOf per lane. A zero weight gives an infinite or NaN quotient,
    // which the range test rejects as well.
    static I channel(F colour, F weight)
    {
        const F quotient = _mm256_div_ps(colour, weight);
        const F magnitude = _mm256_and_ps(quotient, _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF)));
        const F inRange = _mm256_cmp_ps(magnitude, _mm256_set1_ps(2147483648.0f), _CMP_LT_OQ);
        const I truncated = _mm256_cvttps_epi32(quotient);
        return _mm256_and_si256(_mm256_and_si256(truncated, _mm256_castps_si256(inRange)), _mm256_set1_epi32(0xFF));
    }
    static I pixels(F red, F green, F blue, F weight)
    {
        const I r = _mm256_slli_epi32(channel(red, weight), 16);
        const I g = _mm256_slli_epi32(channel(green, weight), 8);
        const I b = channel(blue, weight);
        return _mm256_or_si256(_mm256_or_si256(r, g), _mm256_or_si256(b, _mm256_set1_epi32(int(0xFF000000u))));
    }
    static void storePixels(uint32_t *p, I words) { _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), words); }
    static void storePixels2(uint32_t *p, I even, I odd)
    {
        // Within each 128-bit half: e0 o0 e1 o1 | e4 o4 e5 o5 and e2 o2 e3 o3 | e6 o6 e7 o7.
        const I low = _mm256_unpacklo_epi32(even, odd);
        const I high = _mm256_unpackhi_epi32(even, odd);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), _mm256_permute2x128_si256(low, high, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(p + 8), _mm256_permute2x128_si256(low, high, 0x31));
    }

    static void split(I words, float *red, float *green, float *blue)
    {
        const I mask = _mm256_set1_epi32(0xFF);
        _mm256_storeu_ps(red, _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(words, 16), mask)));
        _mm256_storeu_ps(green, _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(words, 8), mask)));
        _mm256_storeu_ps(blue, _mm256_cvtepi32_ps(_mm256_and_si256(words, mask)));
    }
    static int toPlanar(const uint32_t *src, int count, float *red, float *green, float *blue)
    {
        int x = 0;
        for (; x + 8 <= count; x += 8)
            split(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + x)), red + x, green + x, blue + x);
        return x;
    }
    static int toPlanar2(const uint32_t *src, int pairs, float *redEven, float *greenEven, float *blueEven,
                         float *redOdd, float *greenOdd, float *blueOdd)
    {
        int k = 0;
        for (; k + 8 <= pairs; k += 8) {
            const __m256 a = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + 2 * k)));
            const __m256 b =
                _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + 2 * k + 8)));
            // a0 a2 b0 b2 | a4 a6 b4 b6, then the 64-bit quarters reordered to
            // a0 a2 a4 a6 | b0 b2 b4 b6.
            const __m256 even = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
            const __m256 odd = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
            split(_mm256_permute4x64_epi64(_mm256_castps_si256(even), _MM_SHUFFLE(3, 1, 2, 0)), redEven + k,
                  greenEven + k, blueEven + k);
            split(_mm256_permute4x64_epi64(_mm256_castps_si256(odd), _MM_SHUFFLE(3, 1, 2, 0)), redOdd + k,
                  greenOdd + k, blueOdd + k);
        }
        return k;
    }

    // Nodes m .. m + 3 read the pixels 2m - 1 .. 2m + 8. Pixel j of the
    // three loads belongs to node m + j / 2 for even j; the byte unpacking
    // works within 128-bit halves, giving pixels 0 1 | 4 5 and 2 3 | 6 7.
    static int hybridRow(const uint32_t *src, int width, int m, int last, std::uint16_t *out)
    {
        const __m256i zero = _mm256_setzero_si256();
        for (; m + 3 <= last && 2 * m + 8 <= width - 1; m += 4) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + 2 * m - 1));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + 2 * m));
            const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + 2 * m + 1));
            const __m256i low =
                _mm256_add_epi16(_mm256_add_epi16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(c, zero)),
                                 _mm256_slli_epi16(_mm256_unpacklo_epi8(b, zero), 1));
            const __m256i high =
                _mm256_add_epi16(_mm256_add_epi16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(c, zero)),
                                 _mm256_slli_epi16(_mm256_unpackhi_epi8(b, zero), 1));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 4 * m), _mm256_unpacklo_epi64(low, high));
        }
        return m;
    }
    static __m256i hybridSum(const std::uint16_t *above, const std::uint16_t *middle, const std::uint16_t *below)
    {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(above));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(middle));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(below));
        return _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(a, c), _mm256_slli_epi16(b, 1)), 4);
    }
    static int hybridColumn(const std::uint16_t *above, const std::uint16_t *middle, const std::uint16_t *below,
                            int m, int count, uint32_t *out)
    {
        const __m256i alpha = _mm256_set1_epi32(int(0xFF000000u));
        for (; m + 8 <= count; m += 8) {
            const size_t at = 4 * size_t(m);
            const __m256i first = hybridSum(above + at, middle + at, below + at);
            const __m256i second = hybridSum(above + at + 16, middle + at + 16, below + at + 16);
            // Bytes of nodes m m+1 m+4 m+5 | m+2 m+3 m+6 m+7, quarters reordered.
            const __m256i packed =
                _mm256_permute4x64_epi64(_mm256_packus_epi16(first, second), _MM_SHUFFLE(3, 1, 2, 0));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + m), _mm256_or_si256(packed, alpha));
        }
        return m;
    }
};

} // namespace

namespace transformkernels {

bool directAvx2(const DirectJob &job)
{
    return directTransformRows<Lanes>(job);
}

bool inverseAvx2(const InverseJob &job)
{
    return inverseTransformRows<Lanes>(job);
}

} // namespace transformkernels

} // namespace veltrano
