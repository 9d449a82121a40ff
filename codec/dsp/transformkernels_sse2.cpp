// The transforms' loops with SSE2, four lanes: the baseline of x86-64.

#include "codec/dsp/transformkernels_direct.h"
#include "codec/dsp/transformkernels_inverse.h"

#include <emmintrin.h>

namespace veltrano {

namespace {

struct Lanes
{
    static constexpr int lanes = 4;
    using F = __m128;
    using I = __m128i;

    static F zero() { return _mm_setzero_ps(); }
    static F set1(float value) { return _mm_set1_ps(value); }
    static F load(const float *p) { return _mm_loadu_ps(p); }
    static void store(float *p, F value) { _mm_storeu_ps(p, value); }
    static F add(F a, F b) { return _mm_add_ps(a, b); }
    static F mul(F a, F b) { return _mm_mul_ps(a, b); }

    // channelOf per lane. A zero weight gives an infinite or NaN quotient,
    // which the range test rejects as well.
    static I channel(F colour, F weight)
    {
        const F quotient = _mm_div_ps(colour, weight);
        const F magnitude = _mm_and_ps(quotient, _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)));
        const F inRange = _mm_cmplt_ps(magnitude, _mm_set1_ps(2147483648.0f));
        const I truncated = _mm_cvttps_epi32(quotient);
        return _mm_and_si128(_mm_and_si128(truncated, _mm_castps_si128(inRange)), _mm_set1_epi32(0xFF));
    }
    static I pixels(F red, F green, F blue, F weight)
    {
        const I r = _mm_slli_epi32(channel(red, weight), 16);
        const I g = _mm_slli_epi32(channel(green, weight), 8);
        const I b = channel(blue, weight);
        return _mm_or_si128(_mm_or_si128(r, g), _mm_or_si128(b, _mm_set1_epi32(int(0xFF000000u))));
    }
    static void storePixels(uint32_t *p, I words) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), words); }
    static void storePixels2(uint32_t *p, I even, I odd)
    {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p), _mm_unpacklo_epi32(even, odd));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(p + 4), _mm_unpackhi_epi32(even, odd));
    }

    static void split(I words, float *red, float *green, float *blue)
    {
        const I mask = _mm_set1_epi32(0xFF);
        _mm_storeu_ps(red, _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(words, 16), mask)));
        _mm_storeu_ps(green, _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(words, 8), mask)));
        _mm_storeu_ps(blue, _mm_cvtepi32_ps(_mm_and_si128(words, mask)));
    }
    static int toPlanar(const uint32_t *src, int count, float *red, float *green, float *blue)
    {
        int x = 0;
        for (; x + 4 <= count; x += 4)
            split(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + x)), red + x, green + x, blue + x);
        return x;
    }
    static int toPlanar2(const uint32_t *src, int pairs, float *redEven, float *greenEven, float *blueEven,
                         float *redOdd, float *greenOdd, float *blueOdd)
    {
        int k = 0;
        for (; k + 4 <= pairs; k += 4) {
            const __m128 a = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 2 * k)));
            const __m128 b = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 2 * k + 4)));
            split(_mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))), redEven + k, greenEven + k,
                  blueEven + k);
            split(_mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))), redOdd + k, greenOdd + k,
                  blueOdd + k);
        }
        return k;
    }

    // Nodes m and m + 1 read the pixels 2m - 1 .. 2m + 4. Pixel j of the
    // three loads belongs to node m + j / 2 for even j.
    static int hybridRow(const uint32_t *src, int width, int m, int last, std::uint16_t *out)
    {
        const __m128i zero = _mm_setzero_si128();
        for (; m + 1 <= last && 2 * m + 4 <= width - 1; m += 2) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 2 * m - 1));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 2 * m));
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 2 * m + 1));
            const __m128i low = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(c, zero)),
                                              _mm_slli_epi16(_mm_unpacklo_epi8(b, zero), 1));
            const __m128i high = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(c, zero)),
                                               _mm_slli_epi16(_mm_unpackhi_epi8(b, zero), 1));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 4 * m), _mm_unpacklo_epi64(low, high));
        }
        return m;
    }
    static __m128i hybridSum(const std::uint16_t *above, const std::uint16_t *middle, const std::uint16_t *below)
    {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(above));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(middle));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(below));
        return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(a, c), _mm_slli_epi16(b, 1)), 4);
    }
    static int hybridColumn(const std::uint16_t *above, const std::uint16_t *middle, const std::uint16_t *below,
                            int m, int count, uint32_t *out)
    {
        const __m128i alpha = _mm_set1_epi32(int(0xFF000000u));
        for (; m + 4 <= count; m += 4) {
            const size_t at = 4 * size_t(m);
            const __m128i first = hybridSum(above + at, middle + at, below + at);
            const __m128i second = hybridSum(above + at + 8, middle + at + 8, below + at + 8);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + m), _mm_or_si128(_mm_packus_epi16(first, second), alpha));
        }
        return m;
    }
};

} // namespace

namespace transformkernels {

bool directSse2(const DirectJob &job)
{
    return directTransformRows<Lanes>(job);
}

bool inverseSse2(const InverseJob &job)
{
    return inverseTransformRows<Lanes>(job);
}

} // namespace transformkernels

} // namespace veltrano
