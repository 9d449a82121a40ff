#include "codec/region/interleavedranscoder.h"

#include <zlib.h>

#include <algorithm>

namespace veltrano {

using interleavedrans::lowerBound;

void InterleavedRansEncoder::encode(BinaryContext &context, int bit)
{
    const uint32_t probability = context.probabilityOfZero;
    if (bit == 0)
        m_decisions.push_back({0, uint16_t(probability), uint8_t(interleavedrans::binaryPrecision)});
    else
        m_decisions.push_back({uint16_t(probability), uint16_t((1u << interleavedrans::binaryPrecision) - probability),
                               uint8_t(interleavedrans::binaryPrecision)});
    context.update(bit);
}

void InterleavedRansEncoder::encode(SymbolContext &context, int symbol)
{
    const uint32_t start = context.start(symbol);
    const uint32_t end = context.start(symbol + 1);
    m_decisions.push_back({uint16_t(start), uint16_t(end - start), uint8_t(interleavedrans::symbolPrecision)});
    context.update(symbol);
}

void InterleavedRansEncoder::encodeEquiprobable(uint32_t value, int bitCount)
{
    if (bitCount <= 0)
        return;
    const uint64_t bits = bitCount == 32 ? value : value & ((1u << bitCount) - 1u);
    m_rawBits = (m_rawBits << bitCount) | bits;
    m_rawCount += bitCount;
    while (m_rawCount >= 8) {
        m_rawCount -= 8;
        m_raw.append(char(uint8_t(m_rawBits >> m_rawCount)));
    }
}

QByteArray InterleavedRansEncoder::finish()
{
    if (m_rawCount > 0)
        m_raw.append(char(uint8_t(m_rawBits << (8 - m_rawCount))));
    m_rawCount = 0;
    // rANS codes last in, first out: the decisions go in backwards, the
    // bytes come out backwards, and are turned round at the end.
    uint32_t states[2] = {lowerBound, lowerBound};
    std::vector<uint8_t> reversed;
    reversed.reserve(m_decisions.size() / 2 + 16);
    for (size_t i = m_decisions.size(); i-- > 0;) {
        const Decision &decision = m_decisions[i];
        uint32_t &state = states[i & 1];
        const uint32_t frequency = decision.frequency;
        // The largest state that still decodes to at least 2^23 after this
        // decision's bytes are shifted back in.
        const uint32_t limit = ((lowerBound >> decision.precision) << 8) * frequency;
        while (state >= limit) {
            reversed.push_back(uint8_t(state));
            state >>= 8;
        }
        state = ((state / frequency) << decision.precision) + state % frequency + decision.start;
    }
    for (int s = 1; s >= 0; --s)
        for (int k = 0; k < 4; ++k)
            reversed.push_back(uint8_t(states[s] >> (8 * k)));
    std::reverse(reversed.begin(), reversed.end());

    QByteArray data(interleavedrans::prefixSize, '\0');
    qToBigEndian(uint32_t(reversed.size()), data.data());
    data.append(reinterpret_cast<const char *>(reversed.data()), int(reversed.size()));
    data.append(m_raw);
    const uint32_t checksum = regionDataChecksum(reinterpret_cast<const uint8_t *>(data.constData())
                                                     + interleavedrans::prefixSize,
                                                 data.size() - interleavedrans::prefixSize);
    qToBigEndian(checksum, data.data() + 4);
    m_decisions.clear();
    m_raw.clear();
    return data;
}

InterleavedRansDecoder::InterleavedRansDecoder(const uint8_t *data, qint64 ransSize, qint64 size)
    : m_data(data), m_size(ransSize), m_raw(data + ransSize), m_rawSize(size - ransSize)
{
    uint32_t states[2] = {0, 0};
    for (uint32_t &state : states)
        for (int k = 0; k < 4; ++k)
            state = (state << 8) | nextByte();
    m_state = states[0];
    m_other = states[1];
    // A state out of its interval cannot have come from the encoder.
    for (const uint32_t state : states)
        if (state < lowerBound || state >= 0x80000000u) {
            m_overrun = true;
            m_state = m_other = lowerBound;
        }
}

bool InterleavedRansDecoder::endsCleanly() const
{
    return !failed() && m_state == lowerBound && m_other == lowerBound && m_position == m_size
        && m_rawSize * 8 - m_rawPosition < 8;
}

uint32_t regionDataChecksum(const uint8_t *data, qint64 size)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    while (size > 0) {
        const uInt chunk = uInt(std::min<qint64>(size, 1 << 30));
        crc = crc32(crc, data, chunk);
        data += chunk;
        size -= chunk;
    }
    return uint32_t(crc);
}

} // namespace veltrano
