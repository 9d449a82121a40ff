#ifndef BINARYRANGECODER_H
#define BINARYRANGECODER_H

#include <QByteArray>

#include <cstdint>

// An adaptive binary arithmetic coder (a range coder with carry propagation).
// Each context is one BinaryContext: the probability of a 0, in 1/4096, moved
// a sixteenth of the way towards every bit it codes. Equiprobable bits skip
// the model. Encoder and decoder run the same integer arithmetic, so what one
// writes the other reads on any machine.

namespace binaryrangecoder {
constexpr int probabilityBits = 12;
constexpr int adaptationShift = 4;
constexpr uint32_t topValue = 1u << 24;
} // namespace binaryrangecoder

struct BinaryContext
{
    uint16_t probabilityOfZero = 2048;
};

class BinaryRangeEncoder
{
public:
    void encode(BinaryContext &context, int bit);
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
    uint32_t decodeEquiprobable(int bitCount);
    // How many bytes the decoder needed beyond the end of its data: more than
    // zero means the data were cut short or damaged.
    qint64 overrun() const { return m_overrun; }

private:
    uint8_t nextByte();

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

inline int BinaryRangeDecoder::decode(BinaryContext &context)
{
    // Branch free: the bit is data, and a mispredicted branch on it costs
    // more than computing both outcomes.
    const uint32_t probability = context.probabilityOfZero;
    const uint32_t bound = (m_range >> binaryrangecoder::probabilityBits) * probability;
    const int bit = m_code >= bound;
    const uint32_t mask = 0u - uint32_t(bit);
    m_code -= bound & mask;
    m_range = (bound & ~mask) | ((m_range - bound) & mask);
    const uint32_t towardsZero = probability + (((1u << binaryrangecoder::probabilityBits) - probability) >> binaryrangecoder::adaptationShift);
    const uint32_t towardsOne = probability - (probability >> binaryrangecoder::adaptationShift);
    context.probabilityOfZero = uint16_t(bit ? towardsOne : towardsZero);
    while (m_range < binaryrangecoder::topValue) {
        m_range <<= 8;
        m_code = (m_code << 8) | nextByte();
    }
    return bit;
}

inline uint32_t BinaryRangeDecoder::decodeEquiprobable(int bitCount)
{
    uint32_t value = 0;
    for (int i = 0; i < bitCount; ++i) {
        m_range >>= 1;
        int bit = 0;
        if (m_code >= m_range) {
            m_code -= m_range;
            bit = 1;
        }
        value = (value << 1) | uint32_t(bit);
        while (m_range < binaryrangecoder::topValue) {
            m_range <<= 8;
            m_code = (m_code << 8) | nextByte();
        }
    }
    return value;
}

#endif // BINARYRANGECODER_H
