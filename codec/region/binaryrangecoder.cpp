#include "binaryrangecoder.h"

using binaryrangecoder::adaptationShift;
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
        context.probabilityOfZero += ((1u << probabilityBits) - context.probabilityOfZero) >> adaptationShift;
    } else {
        m_low += bound;
        m_range -= bound;
        context.probabilityOfZero -= context.probabilityOfZero >> adaptationShift;
    }
    while (m_range < topValue) {
        m_range <<= 8;
        shiftLow();
    }
}

void BinaryRangeEncoder::encodeEquiprobable(uint32_t value, int bitCount)
{
    for (int i = bitCount - 1; i >= 0; --i) {
        m_range >>= 1;
        if ((value >> i) & 1u)
            m_low += m_range;
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
