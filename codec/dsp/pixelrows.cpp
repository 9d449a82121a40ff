#include "codec/dsp/pixelrows.h"

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define VELTRANO_SSSE3_ROWS
#endif

namespace veltrano {

namespace {

// The word of the bytes red, green, blue (and one more, ignored) in memory
// order, read as one little-endian 32-bit word.
inline std::uint32_t wordOfRgb(std::uint32_t bytes)
{
    return 0xFF000000u | (bytes & 0x0000FF00u) | ((bytes & 0xFFu) << 16) | ((bytes >> 16) & 0xFFu);
}

#ifdef VELTRANO_SSSE3_ROWS
const bool haveSsse3 = __builtin_cpu_supports("ssse3");

// Each step loads 16 bytes for the 12 it uses, so it stops while 16 bytes
// remain in the row; returns how many pixels were done.
__attribute__((target("ssse3"))) int rgbBytesToWordsSsse3(const unsigned char *in, std::uint32_t *out, int count)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    const __m128i alpha = _mm_set1_epi32(int(0xFF000000u));
    int x = 0;
    for (; 3 * x + 16 <= 3 * count; x += 4) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x), _mm_or_si128(_mm_shuffle_epi8(bytes, order), alpha));
    }
    return x;
}

__attribute__((target("ssse3"))) int greyBytesToWordsSsse3(const unsigned char *in, std::uint32_t *out, int count)
{
    const __m128i alpha = _mm_set1_epi32(int(0xFF000000u));
    const __m128i spread[4] = {
        _mm_setr_epi8(0, 0, 0, -1, 1, 1, 1, -1, 2, 2, 2, -1, 3, 3, 3, -1),
        _mm_setr_epi8(4, 4, 4, -1, 5, 5, 5, -1, 6, 6, 6, -1, 7, 7, 7, -1),
        _mm_setr_epi8(8, 8, 8, -1, 9, 9, 9, -1, 10, 10, 10, -1, 11, 11, 11, -1),
        _mm_setr_epi8(12, 12, 12, -1, 13, 13, 13, -1, 14, 14, 14, -1, 15, 15, 15, -1),
    };
    int x = 0;
    for (; x + 16 <= count; x += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + x));
        for (int part = 0; part < 4; ++part)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x + 4 * part),
                             _mm_or_si128(_mm_shuffle_epi8(bytes, spread[part]), alpha));
    }
    return x;
}

// Sixteen words to 48 bytes at a time: each group of four gives 12 bytes,
// joined into three full stores.
__attribute__((target("ssse3"))) int wordsToRgbBytesSsse3(const std::uint32_t *in, unsigned char *out, int count)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    int x = 0;
    for (; x + 16 <= count; x += 16) {
        const __m128i *words = reinterpret_cast<const __m128i *>(in + x);
        const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(words), order);
        const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(words + 1), order);
        const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(words + 2), order);
        const __m128i d = _mm_shuffle_epi8(_mm_loadu_si128(words + 3), order);
        // a: 12 bytes; then 4 of b | the other 8 of b, 8 of c | 4 of c, 12 of d.
        const __m128i first = _mm_or_si128(a, _mm_slli_si128(b, 12));
        const __m128i second = _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8));
        const __m128i third = _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4));
        __m128i *bytes = reinterpret_cast<__m128i *>(out + 3 * x);
        _mm_storeu_si128(bytes, first);
        _mm_storeu_si128(bytes + 1, second);
        _mm_storeu_si128(bytes + 2, third);
    }
    return x;
}
#endif

} // namespace

void rgbBytesToWords(const unsigned char *in, std::uint32_t *out, int count)
{
    int x = 0;
#ifdef VELTRANO_SSSE3_ROWS
    if (haveSsse3)
        x = rgbBytesToWordsSsse3(in, out, count);
#endif
    in += 3 * x;
    // Four pixels from the three 32-bit words of their 12 bytes.
    for (; x + 4 <= count; x += 4, in += 12) {
        std::uint32_t word[3];
        std::memcpy(word, in, sizeof word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        for (std::uint32_t &w : word)
            w = __builtin_bswap32(w);
#endif
        out[x] = wordOfRgb(word[0]);
        out[x + 1] = wordOfRgb((word[0] >> 24) | (word[1] << 8));
        out[x + 2] = wordOfRgb((word[1] >> 16) | (word[2] << 16));
        out[x + 3] = wordOfRgb(word[2] >> 8);
    }
    for (; x < count; ++x, in += 3)
        out[x] = 0xFF000000u | (std::uint32_t(in[0]) << 16) | (std::uint32_t(in[1]) << 8) | in[2];
}

void greyBytesToWords(const unsigned char *in, std::uint32_t *out, int count)
{
    int x = 0;
#ifdef VELTRANO_SSSE3_ROWS
    if (haveSsse3)
        x = greyBytesToWordsSsse3(in, out, count);
#endif
    for (; x < count; ++x)
        out[x] = 0xFF000000u | (std::uint32_t(in[x]) * 0x010101u);
}

void wordsToRgbBytes(const std::uint32_t *in, unsigned char *out, int count)
{
    int x = 0;
#ifdef VELTRANO_SSSE3_ROWS
    if (haveSsse3)
        x = wordsToRgbBytesSsse3(in, out, count);
#endif
    for (out += 3 * x; x < count; ++x, out += 3) {
        const std::uint32_t word = in[x];
        out[0] = static_cast<unsigned char>(word >> 16);
        out[1] = static_cast<unsigned char>(word >> 8);
        out[2] = static_cast<unsigned char>(word);
    }
}

} // namespace veltrano
