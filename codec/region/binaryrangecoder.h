#ifndef BINARYRANGECODER_H
#define BINARYRANGECODER_H

#include <QByteArray>

#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace veltrano {

// An adaptive arithmetic coder (a range coder with carry propagation) of
// binary decisions and of symbols of a 16-letter alphabet. Each binary
// context is one BinaryContext: the probability of a 0, in 1/4096, moved a
// sixteenth of the way towards every bit it codes. Each symbol context is one
// SymbolContext: a cumulative distribution in 1/32768 that moves towards
// every symbol it codes (see there). Equiprobable bits skip the model.
// Encoder and decoder run the same integer arithmetic, so what one writes the
// other reads on any machine.

namespace binaryrangecoder {
constexpr int probabilityBits = 12;
constexpr int adaptationShift = 4;
constexpr uint32_t topValue = 1u << 24;
constexpr int symbolCount = 16;
constexpr int symbolTotalBits = 15;
// Every symbol keeps at least this many 1/32768 of the range.
constexpr uint32_t symbolFloor = 2;
constexpr uint32_t symbolSpan = (1u << symbolTotalBits) - symbolCount * symbolFloor;
} // namespace binaryrangecoder

struct BinaryContext
{
    // Moves the probability a sixteenth of the way towards the coded bit.
    // Without a branch: in a decoder the bit is data, and a mispredicted
    // branch on it costs more than computing both outcomes.
    void update(int bit)
    {
        const uint32_t probability = probabilityOfZero;
        const uint32_t towardsZero = probability + (((1u << binaryrangecoder::probabilityBits) - probability) >> binaryrangecoder::adaptationShift);
        const uint32_t towardsOne = probability - (probability >> binaryrangecoder::adaptationShift);
        probabilityOfZero = uint16_t(bit ? towardsOne : towardsZero);
    }

    uint16_t probabilityOfZero = 2048;
};

// The distribution of a symbol 0 .. 15: symbol k starts at
// below[k] + k * symbolFloor (in 1/32768 of the range) and ends where k + 1
// starts (the last one at 32768). below[] rises with k, from below[0] = 0 to
// at most symbolSpan, so every symbol keeps at least symbolFloor; it starts
// geometric (each symbol 3/5 as likely as the one before). After coding
// symbol s, below[k] moves a 2^-rate of the way to symbolSpan for k > s and
// to 0 for k <= s, the rate 4 for the context's first 32 symbols, then 5.
// The context holds the starts themselves, below[k] + k * symbolFloor, and
// moves them by the same steps (towards targets raised by k * symbolFloor),
// so that searching and coding need no addition; starts[16] is 32768.
struct SymbolContext
{
    SymbolContext();
    void update(int symbol);
    uint32_t start(int symbol) const { return starts[symbol]; }
    // The last symbol whose start is at most `target` (0 .. 32767).
    int find(uint32_t target) const;
    // find(target), the symbol's start and end as they were, then
    // update(symbol), in one pass: a decoder's whole step.
    int findAndUpdate(uint32_t target, uint32_t &start, uint32_t &end);

    alignas(16) uint16_t starts[binaryrangecoder::symbolCount + 1];
    uint16_t coded = 0;
};

inline SymbolContext::SymbolContext()
{
    // Geometric to start with: each symbol 3/5 as likely as the one before.
    uint32_t rest = binaryrangecoder::symbolSpan;
    for (int k = 0; k < binaryrangecoder::symbolCount; ++k) {
        starts[k] = uint16_t(binaryrangecoder::symbolSpan - rest + uint32_t(k) * binaryrangecoder::symbolFloor);
        rest = rest * 3 / 5;
    }
    starts[binaryrangecoder::symbolCount] = uint16_t(1u << binaryrangecoder::symbolTotalBits);
}

// Starts stay under 2^15, so they fit signed 16-bit lanes.
static_assert(binaryrangecoder::symbolSpan + binaryrangecoder::symbolCount * binaryrangecoder::symbolFloor
                  <= 32768, "symbol starts fit 15 bits");

#ifdef __SSE2__
namespace binaryrangecoder {
// k * symbolFloor in the lanes of symbols 0 .. 7 and 8 .. 15.
inline __m128i floors(int half)
{
    static_assert(symbolFloor == 2 && symbolCount == 16, "the lanes below");
    return half ? _mm_setr_epi16(16, 18, 20, 22, 24, 26, 28, 30) : _mm_setr_epi16(0, 2, 4, 6, 8, 10, 12, 14);
}
} // namespace binaryrangecoder

// Each start moves towards its target, symbolSpan or 0, raised by its
// floor: the targets of the lanes `above` (all ones) are the higher.
inline void moveStarts(__m128i *lanes, __m128i value0, __m128i value1, __m128i above0, __m128i above1, int rate)
{
    const __m128i span = _mm_set1_epi16(int16_t(binaryrangecoder::symbolSpan));
    const __m128i shift = _mm_cvtsi32_si128(rate);
    const __m128i target0 = _mm_add_epi16(_mm_and_si128(above0, span), binaryrangecoder::floors(0));
    const __m128i target1 = _mm_add_epi16(_mm_and_si128(above1, span), binaryrangecoder::floors(1));
    _mm_store_si128(lanes, _mm_add_epi16(value0, _mm_sra_epi16(_mm_sub_epi16(target0, value0), shift)));
    _mm_store_si128(lanes + 1, _mm_add_epi16(value1, _mm_sra_epi16(_mm_sub_epi16(target1, value1), shift)));
}

inline void SymbolContext::update(int symbol)
{
    const int rate = coded < 32 ? 4 : 5;
    coded = uint16_t(coded < 32 ? coded + 1 : coded);
    const __m128i coded16 = _mm_set1_epi16(int16_t(symbol));
    __m128i *lanes = reinterpret_cast<__m128i *>(starts);
    // Lane k's floor is 2k, so floor > 2 * symbol exactly when k > symbol.
    const __m128i doubled = _mm_add_epi16(coded16, coded16);
    moveStarts(lanes, _mm_load_si128(lanes), _mm_load_si128(lanes + 1),
               _mm_cmpgt_epi16(binaryrangecoder::floors(0), doubled),
               _mm_cmpgt_epi16(binaryrangecoder::floors(1), doubled), rate);
    // starts[0] stays 0: its target is 0 and so is its value.
}

inline int SymbolContext::find(uint32_t target) const
{
    const __m128i limit = _mm_set1_epi16(int16_t(target));
    const __m128i *lanes = reinterpret_cast<const __m128i *>(starts);
    const __m128i above0 = _mm_cmpgt_epi16(_mm_load_si128(lanes), limit);
    const __m128i above1 = _mm_cmpgt_epi16(_mm_load_si128(lanes + 1), limit);
    // Starts rise with the symbol, so those past the target are the last
    // ones; the first of them follows the symbol.
    const unsigned mask = unsigned(_mm_movemask_epi8(_mm_packs_epi16(above0, above1)));
    return __builtin_ctz(mask | 0x10000u) - 1;
}

// The lanes whose start is past the target are exactly those above the
// symbol, so the update takes its targets from the search's comparisons
// rather than from the symbol: it need not wait for the symbol.
inline int SymbolContext::findAndUpdate(uint32_t target, uint32_t &start, uint32_t &end)
{
    const __m128i limit = _mm_set1_epi16(int16_t(target));
    __m128i *lanes = reinterpret_cast<__m128i *>(starts);
    const __m128i value0 = _mm_load_si128(lanes);
    const __m128i value1 = _mm_load_si128(lanes + 1);
    const __m128i above0 = _mm_cmpgt_epi16(value0, limit);
    const __m128i above1 = _mm_cmpgt_epi16(value1, limit);
    const unsigned mask = unsigned(_mm_movemask_epi8(_mm_packs_epi16(above0, above1)));
    const int symbol = __builtin_ctz(mask | 0x10000u) - 1;
    start = starts[symbol];
    end = starts[symbol + 1];
    const int rate = coded < 32 ? 4 : 5;
    coded = uint16_t(coded < 32 ? coded + 1 : coded);
    moveStarts(lanes, value0, value1, above0, above1, rate);
    return symbol;
}
#else
inline void SymbolContext::update(int symbol)
{
    const int rate = coded < 32 ? 4 : 5;
    coded = uint16_t(coded < 32 ? coded + 1 : coded);
    for (int k = 1; k < binaryrangecoder::symbolCount; ++k) {
        const int value = starts[k];
        const int target = (k > symbol ? int(binaryrangecoder::symbolSpan) : 0) + k * int(binaryrangecoder::symbolFloor);
        starts[k] = uint16_t(value + ((target - value) >> rate));
    }
}

inline int SymbolContext::find(uint32_t target) const
{
    int symbol = 0;
    while (symbol + 1 < binaryrangecoder::symbolCount && starts[symbol + 1] <= target)
        ++symbol;
    return symbol;
}

inline int SymbolContext::findAndUpdate(uint32_t target, uint32_t &start, uint32_t &end)
{
    const int symbol = find(target);
    start = starts[symbol];
    end = starts[symbol + 1];
    update(symbol);
    return symbol;
}
#endif

class BinaryRangeEncoder
{
public:
    void encode(BinaryContext &context, int bit);
    void encode(SymbolContext &context, int symbol);
    void encodeEquiprobable(uint32_t value, int bitCount);
    // Flushes the coder; the bytes are complete afterwards.
    QByteArray finish();

private:
    void shiftLow();

    uint64_t m_low = 0;
    uint32_t m_range = 0xFFFFFFFFu;
    uint8_t m_cache = 0;
    uint64_t m_cacheSize = 1;
    QByteArray m_bytes;
};

class BinaryRangeDecoder
{
public:
    // Decodes `size` bytes at `data` (not copied; they must outlive it).
    BinaryRangeDecoder(const uint8_t *data, qint64 size);

    int decode(BinaryContext &context);
    int decode(SymbolContext &context);
    uint32_t decodeEquiprobable(int bitCount);
    // How many bytes the decoder needed beyond the end of its data: more than
    // zero means the data were cut short or damaged.
    qint64 overrun() const { return m_overrun; }

private:
    uint8_t nextByte();
    void normalise();

    const uint8_t *m_data;
    qint64 m_size;
    qint64 m_position = 0;
    qint64 m_overrun = 0;
    uint32_t m_range = 0xFFFFFFFFu;
    uint32_t m_code = 0;
};

// The decoder's steps are inline: they run once per coded bit.
inline uint8_t BinaryRangeDecoder::nextByte()
{
    if (m_position < m_size)
        return m_data[m_position++];
    ++m_overrun;
    return 0;
}

// Shifts in bytes while the range is below 2^24: as many as its leading
// zero bits hold whole bytes (the range is never 0). Away from the end of
// the data the bytes come from one big-endian load, without a branch on
// how many there are.
inline void BinaryRangeDecoder::normalise()
{
    const int count = __builtin_clz(m_range) >> 3;
    if (m_position + 4 <= m_size) {
        const uint32_t next = (uint32_t(m_data[m_position]) << 24) | (uint32_t(m_data[m_position + 1]) << 16)
            | (uint32_t(m_data[m_position + 2]) << 8) | uint32_t(m_data[m_position + 3]);
        const int bits = 8 * count;
        m_code = uint32_t((uint64_t(m_code) << bits) | ((uint64_t(next) << bits) >> 32));
        m_range <<= bits;
        m_position += count;
        return;
    }
    for (int k = 0; k < count; ++k) {
        m_range <<= 8;
        m_code = (m_code << 8) | nextByte();
    }
}

inline int BinaryRangeDecoder::decode(BinaryContext &context)
{
    // Branch free: the bit is data, and a mispredicted branch on it costs
    // more than computing both outcomes.
    const uint32_t bound = (m_range >> binaryrangecoder::probabilityBits) * context.probabilityOfZero;
    const int bit = m_code >= bound;
    const uint32_t mask = 0u - uint32_t(bit);
    m_code -= bound & mask;
    m_range = (bound & ~mask) | ((m_range - bound) & mask);
    context.update(bit);
    normalise();
    return bit;
}

inline int BinaryRangeDecoder::decode(SymbolContext &context)
{
    const uint32_t scale = m_range >> binaryrangecoder::symbolTotalBits;
    // code >= scale * start(k) exactly when code / scale >= start(k).
    const uint32_t quotient = m_code / scale;
    const int symbol = context.find(quotient < 32767u ? quotient : 32767u);
    const uint32_t low = scale * context.start(symbol);
    m_code -= low;
    m_range = symbol + 1 < binaryrangecoder::symbolCount ? scale * context.start(symbol + 1) - low : m_range - low;
    context.update(symbol);
    normalise();
    return symbol;
}

inline uint32_t BinaryRangeDecoder::decodeEquiprobable(int bitCount)
{
    // As the encoder: chunks of up to 8 bits, one division each.
    uint32_t value = 0;
    while (bitCount > 0) {
        const int chunk = bitCount < 8 ? bitCount : 8;
        bitCount -= chunk;
        m_range >>= chunk;
        uint32_t part = m_code / m_range;
        // Only damaged data give more than the chunk can hold.
        const uint32_t largest = (1u << chunk) - 1u;
        part = part > largest ? largest : part;
        m_code -= part * m_range;
        value = (value << chunk) | part;
        normalise();
    }
    return value;
}

} // namespace veltrano

#endif // BINARYRANGECODER_H
