#include "codec/region/binaryrangecoder.h"

namespace veltrano {

using binaryrangecoder::probabilityBits;
using binaryrangecoder::topValue;

void BinaryRangeEncoder::shiftLow()
{
    if (uint32_t(m_low) < 0xFF000000u || (m_low >> 32) != 0) {
        const uint8_t carry = uint8_t(m_low >> 32);
        uint8_t pending = m_cache;
        do {
            m_bytes.append(char(uint8_t(pending + carry)));
            pending = 0xFF;
        } while (--m_cacheSize != 0);
        m_cache = uint8_t(m_low >> 24);
    }
    ++m_cacheSize;
    m_low = (m_low & 0x00FFFFFFu) << 8;
}

void BinaryRangeEncoder::encode(BinaryContext &context, int bit)
{
    const uint32_t bound = (m_range >> probabilityBits) * context.probabilityOfZero;
    if (bit == 0) {
        m_range = bound;
    } else {
        m_low += bound;
        m_range -= bound;
    }
    context.update(bit);
    while (m_range < topValue) {
        m_range <<= 8;
        shiftLow();
    }
}

void BinaryRangeEncoder::encode(SymbolContext &context, int symbol)
{
    const uint32_t scale = m_range >> binaryrangecoder::symbolTotalBits;
    const uint32_t low = scale * context.start(symbol);
    m_low += low;
    m_range = symbol + 1 < binaryrangecoder::symbolCount ? scale * context.start(symbol + 1) - low : m_range - low;
    context.update(symbol);
    while (m_range < topValue) {
        m_range <<= 8;
        shiftLow();
    }
}

void BinaryRangeEncoder::encodeEquiprobable(uint32_t value, int bitCount)
{
    // In chunks of up to 8 bits, the first the highest: each splits the range
    // into 2^n equal parts.
    while (bitCount > 0) {
        const int chunk = bitCount < 8 ? bitCount : 8;
        bitCount -= chunk;
        m_range >>= chunk;
        m_low += uint64_t((value >> bitCount) & ((1u << chunk) - 1u)) * m_range;
        while (m_range < topValue) {
            m_range <<= 8;
            shiftLow();
        }
    }
}

QByteArray BinaryRangeEncoder::finish()
{
    for (int i = 0; i < 5; ++i)
        shiftLow();
    // The first byte the scheme emits is always the initial cache, 0.
    return m_bytes.mid(1);
}

BinaryRangeDecoder::BinaryRangeDecoder(const uint8_t *data, qint64 size) : m_data(data), m_size(size)
{
    for (int i = 0; i < 4; ++i)
        m_code = (m_code << 8) | nextByte();
}

} // namespace veltrano
