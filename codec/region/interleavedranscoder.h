#ifndef INTERLEAVEDRANSCODER_H
#define INTERLEAVEDRANSCODER_H

// The entropy coder of version 3 and 4 block files: the same adaptive
// contexts as the range coder of binaryrangecoder.h (BinaryContext,
// SymbolContext, moved the same way by each coded value), coded by two
// interleaved rANS states
// (asymmetric numeral systems: decisions 0, 2, 4, ... by the first state,
// 1, 3, 5, ... by the second), with equiprobable bits in a separate stream of
// raw bits. Decoding a symbol needs no division, and the two states are
// independent chains that the processor overlaps; that is what makes it
// several times faster than the range decoder, for the same model and
// nearly the same size.
//
// The coded data: 4 bytes N (big-endian), the CRC-32 of everything after
// these 8 bytes, N bytes of rANS data (the two 32-bit states, big-endian,
// then the bytes each state shifts in, in decoding order), then the raw bits,
// highest first, padded with zero bits to a byte. A state lies in
// [2^23, 2^31); a decision of precision n (12 bits for a binary context, 15
// for a symbol) with start c and frequency f in 1/2^n takes x to
// f * (x >> n) + (x mod 2^n) - c when decoding, and the state then shifts in
// bytes while it is below 2^23. Both states start (when encoding: end) at
// 2^23, so the decoder ends exactly there, having read every byte.

#include "codec/region/binaryrangecoder.h"

#include <QByteArray>
#include <QtEndian>

#include <cstdint>
#include <vector>

namespace veltrano {

namespace interleavedrans {
constexpr uint32_t lowerBound = 1u << 23;
constexpr int binaryPrecision = binaryrangecoder::probabilityBits;
constexpr int symbolPrecision = binaryrangecoder::symbolTotalBits;
// The length and checksum fields before the rANS data.
constexpr int prefixSize = 8;
} // namespace interleavedrans

class InterleavedRansEncoder
{
public:
    void encode(BinaryContext &context, int bit);
    void encode(SymbolContext &context, int symbol);
    // `bitCount` (0 to 32) raw bits of value, highest first.
    void encodeEquiprobable(uint32_t value, int bitCount);
    // Codes the recorded decisions (last first, as rANS does) and returns the
    // coded data, prefix included; the encoder is then empty again.
    QByteArray finish();
    // The decisions recorded since the last finish().
    qint64 decisionCount() const { return qint64(m_decisions.size()); }

private:
    struct Decision
    {
        uint16_t start;
        uint16_t frequency;
        uint8_t precision;
    };
    std::vector<Decision> m_decisions;
    QByteArray m_raw;
    uint64_t m_rawBits = 0;
    int m_rawCount = 0;
};

class InterleavedRansDecoder
{
public:
    // Decodes the coded data after the prefix: `ransSize` bytes of rANS data
    // at `data`, then the raw bits up to `size` (not copied; they must
    // outlive the decoder). The caller has checked that ransSize <= size.
    InterleavedRansDecoder(const uint8_t *data, qint64 ransSize, qint64 size);

    int decode(BinaryContext &context);
    int decode(SymbolContext &context);
    uint32_t decodeEquiprobable(int bitCount);
    // True once the decoder has read beyond either stream or started from an
    // impossible state: the data are damaged.
    bool failed() const { return m_overrun || m_rawPosition > m_rawSize * 8; }
    // True when decoding ended as the encoder began: both states at 2^23,
    // every byte of both streams read.
    bool endsCleanly() const;

private:
    // The next byte of rANS data, or 0 past their end (an overrun).
    uint8_t nextByte()
    {
        if (m_position < m_size)
            return m_data[m_position++];
        m_overrun = true;
        return 0;
    }
    void normalise();
    void swapStates()
    {
        const uint32_t state = m_state;
        m_state = m_other;
        m_other = state;
    }

    const uint8_t *m_data;
    qint64 m_size;
    qint64 m_position = 0;
    const uint8_t *m_raw;
    qint64 m_rawSize;
    qint64 m_rawPosition = 0;
    bool m_overrun = false;
    uint32_t m_state = 0;
    uint32_t m_other = 0;
};

// The CRC-32 (as zlib and PNG compute it) of `size` bytes.
uint32_t regionDataChecksum(const uint8_t *data, qint64 size);

// The decoder's steps are inline: they run once per coded value.

// Shifts in bytes while the state is below 2^23: a state of k leading zero
// bits above 8 needs (k - 1) / 8 of them. Away from the end of the data the
// bytes come from one big-endian load.
inline void InterleavedRansDecoder::normalise()
{
    const int count = (__builtin_clz(m_state) - 1) >> 3;
    if (m_position + 4 <= m_size) {
        const uint32_t next = qFromBigEndian<quint32>(m_data + m_position);
        const int bits = 8 * count;
        m_state = uint32_t((uint64_t(m_state) << bits) | ((uint64_t(next) << bits) >> 32));
        m_position += count;
        return;
    }
    for (int k = 0; k < count; ++k)
        m_state = (m_state << 8) | nextByte();
}

inline int InterleavedRansDecoder::decode(BinaryContext &context)
{
    constexpr uint32_t mask = (1u << interleavedrans::binaryPrecision) - 1u;
    const uint32_t probability = context.probabilityOfZero;
    const uint32_t slot = m_state & mask;
    const int bit = slot >= probability;
    const uint32_t start = bit ? probability : 0u;
    const uint32_t frequency = bit ? (1u << interleavedrans::binaryPrecision) - probability : probability;
    m_state = frequency * (m_state >> interleavedrans::binaryPrecision) + slot - start;
    context.update(bit);
    normalise();
    swapStates();
    return bit;
}

inline int InterleavedRansDecoder::decode(SymbolContext &context)
{
    constexpr uint32_t total = 1u << interleavedrans::symbolPrecision;
    const uint32_t slot = m_state & (total - 1u);
    uint32_t start, end;
    const int symbol = context.findAndUpdate(slot, start, end);
    m_state = (end - start) * (m_state >> interleavedrans::symbolPrecision) + slot - start;
    normalise();
    swapStates();
    return symbol;
}

inline uint32_t InterleavedRansDecoder::decodeEquiprobable(int bitCount)
{
    const qint64 byte = m_rawPosition >> 3;
    uint64_t word = 0;
    if (byte + 8 <= m_rawSize) {
        word = qFromBigEndian<quint64>(m_raw + byte);
    } else {
        // Near the end: the bytes left, then zeros.
        for (int k = 0; k < 8; ++k)
            word = (word << 8) | (byte + k < m_rawSize ? m_raw[byte + k] : 0u);
    }
    const int offset = int(m_rawPosition & 7);
    m_rawPosition += bitCount;
    // The 32 bits from the position on, then their first bitCount.
    return uint32_t(((word << offset) >> 32) >> (32 - bitCount));
}

} // namespace veltrano

#endif // INTERLEAVEDRANSCODER_H
