#include "codec/region/regionfile.h"

#include "codec/region/binaryrangecoder.h"
#include "codec/region/interleavedranscoder.h"
#include "codec/region/quadtreewalk.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <type_traits>

namespace veltrano {

namespace {

const char magic[8] = {'F', 'T', 'R', 'E', 'G', 'I', 'O', 'N'};
// Version 2 codes everything with the range coder and ends with 32 check
// bits; version 3 codes the same decisions with interleaved rANS and a raw
// bit stream, checked by a CRC-32 and the coder's end state; version 4 codes
// them as version 3 does, in chunks of rows of roots (decodeChunks).
constexpr int oldestVersion = 2;
constexpr uint32_t endCheck = 0x5AC3E817u;
// Residual magnitudes below 2^21 (components are at most 2^20 either way).
constexpr int maxLength = 20;
// Tokens: 0 for a zero residual, 1 + L for a magnitude of L + 1 bits (L =
// 0 .. 13), escapeToken for L = 14 .. 20, given in 3 more bits.
constexpr int escapeToken = binaryrangecoder::symbolCount - 1;
constexpr int escapeLength = escapeToken - 1;
constexpr int residualClasses = 2 * 4 * 5;

// The contexts of the block data.
struct RegionModel
{
    BinaryContext split[12];
    BinaryContext copy;
    BinaryContext spacing[11][11];
    struct Residual
    {
        SymbolContext token;
    } residual[residualClasses];
};

// The coder as the encoder sees it: codes the value it is given. Encoder is
// BinaryRangeEncoder (version 2) or InterleavedRansEncoder (versions 3, 4).
template <class Encoder>
struct EncodingCoder
{
    Encoder encoder;
    static constexpr bool decoding = false;
    static constexpr bool tokenContexts = std::is_same<Encoder, InterleavedRansEncoder>::value;
    int bit(BinaryContext &context, int value)
    {
        encoder.encode(context, value);
        return value;
    }
    int symbol(SymbolContext &context, int value)
    {
        encoder.encode(context, value);
        return value;
    }
    uint32_t bits(uint32_t value, int count)
    {
        encoder.encodeEquiprobable(value, count);
        return value;
    }
    bool failed() const { return false; }
    bool endCheck()
    {
        if constexpr (!tokenContexts)
            encoder.encodeEquiprobable(veltrano::endCheck, 32);
        return true;
    }
};

// ... and as the decoder sees it: ignores the value and returns what it
// reads. Decoder is BinaryRangeDecoder or InterleavedRansDecoder.
template <class Decoder>
struct DecodingCoder
{
    Decoder decoder;
    static constexpr bool decoding = true;
    static constexpr bool tokenContexts = std::is_same<Decoder, InterleavedRansDecoder>::value;
    int bit(BinaryContext &context, int) { return decoder.decode(context); }
    int symbol(SymbolContext &context, int) { return decoder.decode(context); }
    uint32_t bits(uint32_t, int count) { return decoder.decodeEquiprobable(count); }
    // The data ended before the decoder did (for the range decoder: well
    // before, as it reads ahead): damaged or cut short.
    bool failed() const
    {
        if constexpr (tokenContexts)
            return decoder.failed();
        else
            return decoder.overrun() > 4;
    }
    bool endCheck()
    {
        if constexpr (tokenContexts)
            return decoder.endsCleanly();
        else
            return decoder.decodeEquiprobable(32) == veltrano::endCheck && !failed();
    }
};

// The smallest level with 2^level >= value (value >= 1): the exact log2 of
// the sides and spacings, which are powers of two.
inline int log2Of(int value) { return value <= 1 ? 0 : 32 - __builtin_clz(uint32_t(value - 1)); }

// The activity classes 0, 1-2, 3-5, 6-11, 12 and more, by table.
constexpr uint8_t activityClasses[13] = {0, 1, 1, 2, 2, 2, 3, 3, 3, 3, 3, 3, 4};

inline int activityClass(uint32_t activity) { return activityClasses[activity < 12 ? activity : 12]; }

// The median of left, top and left + top - topLeft: the gradient clamped
// between the two neighbours. Without branches: which case holds is data,
// and a mispredicted branch per node costs more than the clamp.
inline int32_t medianPrediction(int32_t left, int32_t top, int32_t topLeft)
{
    const int32_t gradient = left + top - topLeft;
    return std::max(std::min(left, top), std::min(std::max(left, top), gradient));
}

// The token of a residual: 0, or 1 + the bit length of its magnitude
// beyond the leading one, at most escapeToken.
inline int residualToken(int32_t residual)
{
    const uint32_t magnitude = uint32_t(std::abs(residual));
    return magnitude == 0 ? 0 : qMin(32 - __builtin_clz(magnitude), escapeToken);
}

// Codes one residual in a context class; `residual` is read when encoding.
// Its token (zero, or the bit length of its magnitude) is one symbol, then
// come the sign and the magnitude's bits below its leading one as
// equiprobable bits. False for a magnitude of 2^21 or more.
template <class Coder>
inline bool codeResidualBits(Coder &coder, int token, int32_t &residual);

template <class Coder>
inline bool codeResidual(Coder &coder, RegionModel::Residual &context, int32_t &residual)
{
    const int token = coder.symbol(context.token, Coder::decoding ? 0 : residualToken(residual));
    return token == 0 || codeResidualBits(coder, token, residual);
}

// The rest of a residual after its token (not 0): for the escape token the
// length in 3 bits, then the sign and low bits.
template <class Coder>
inline bool codeResidualBits(Coder &coder, int token, int32_t &residual)
{
    const uint32_t magnitude = uint32_t(std::abs(residual));
    int length = 0;
    if (!Coder::decoding && magnitude != 0)
        length = 31 - __builtin_clz(magnitude);
    if (token == escapeToken) {
        length = escapeLength + int(coder.bits(uint32_t(length - escapeLength), 3));
        if (length > maxLength)
            return false;
    } else {
        length = token - 1;
    }
    // The sign, then the bits below the leading one, in one equiprobable run.
    const uint32_t run
        = coder.bits((uint32_t(residual < 0) << length) | (magnitude & ((1u << length) - 1u)), length + 1);
    const uint32_t lowBits = (1u << length) - 1u;
    const int negative = int(run >> length);
    const int32_t value = int32_t((1u << length) | (run & lowBits));
    residual = negative ? -value : value;
    return true;
}

// Version 3's token contexts: the activity is the sum of the neighbouring
// tokens (twice the one neighbour's on a grid's first row and column), in
// five classes 0, 1-2, 3-4, 5-6, 7 and more. A token's context is then known
// as soon as the token before it is, without its raw bits, which keeps the
// decoder's chain from one value to the next short.
constexpr uint8_t tokenActivityClasses[2 * escapeToken + 1]
    = {0, 1, 1, 2, 2, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4};

// Decodes one residual and returns its token: the same decisions as
// codeResidual, but a token below the escape reads its sign and low bits as
// one run of `token` raw bits (none for 0) without a branch.
template <class Coder>
inline int decodeTokenResidual(Coder &coder, RegionModel::Residual &context, int32_t &residual, bool &good)
{
    const int token = coder.symbol(context.token, 0);
    if (token == escapeToken) {
        good = codeResidualBits(coder, token, residual);
        return token;
    }
    // The run's first bit, at the leading one's place, is the sign: the
    // magnitude is the run with that bit set (nothing for token 0).
    const uint32_t run = coder.bits(0, token);
    const uint32_t leadingOne = (1u << token) >> 1;
    const int32_t value = int32_t(run | leadingOne);
    residual = run & leadingOne ? -value : value;
    return token;
}

// Codes one grid; `values` is read when encoding, written when decoding.
// False for a value out of range. The first node is predicted from the
// previous grid's first node of the channel, the rest of the first row from
// the left, the first column from above, the others by the median. A node's
// context class comes from its neighbours' measures: their residuals'
// magnitudes in version 2, their tokens in versions 3 and 4 (twice the one
// neighbour's where there is one). `measures` is scratch of at least
// nodesX * nodesY values.
template <class Coder>
bool codeGrid(Coder &sharedCoder, RegionModel &model, int32_t *values, int nodesX, int nodesY, int channelKind,
              int spacingClass, int32_t &lastFirst, int32_t &lastMeasure, int32_t *measures)
{
    // The coder works on a local copy, so that its state stays in registers
    // rather than being stored around every write to values.
    Coder coder(std::move(sharedCoder));
    RegionModel::Residual *contexts = model.residual + (channelKind * 4 + spacingClass) * 5;
    bool good = true;
    // One node from its prediction and activity; returns its measure.
    auto codeNode = [&](int k, int32_t prediction, uint32_t activity) {
        int32_t residual = Coder::decoding ? 0 : values[k] - prediction;
        int32_t measure;
        if constexpr (Coder::tokenContexts) {
            RegionModel::Residual &context = contexts[tokenActivityClasses[activity]];
            if constexpr (Coder::decoding) {
                measure = decodeTokenResidual(coder, context, residual, good);
            } else {
                measure = residualToken(residual);
                good = codeResidual(coder, context, residual) && good;
            }
        } else {
            good = codeResidual(coder, contexts[activityClass(activity)], residual) && good;
            measure = std::abs(residual);
        }
        measures[k] = measure;
        const int32_t value = prediction + residual;
        if constexpr (Coder::decoding)
            values[k] = value;
        good = good && std::abs(value) <= 1048575;
        return uint32_t(measure);
    };
    uint32_t left = codeNode(0, lastFirst, 2 * uint32_t(lastMeasure));
    for (int i = 1; i < nodesX && good; ++i)
        left = codeNode(i, values[i - 1], 2 * left);
    for (int j = 1; j < nodesY && good; ++j) {
        const int row = j * nodesX;
        left = codeNode(row, values[row - nodesX], 2 * uint32_t(measures[row - nodesX]));
        for (int k = row + 1; k < row + nodesX && good; ++k)
            left = codeNode(k, medianPrediction(values[k - 1], values[k - nodesX], values[k - nodesX - 1]),
                            left + uint32_t(measures[k - nodesX]));
    }
    if (good) {
        lastFirst = values[0];
        lastMeasure = measures[0];
    }
    sharedCoder = std::move(coder);
    return good;
}

// Codes the partition and components of an image leaf by leaf, in coding
// order: reads them when encoding, fills them in (blocks, components) when
// decoding. Each step returns false with fault set.
template <class Coder>
class BlockCoder
{
public:
    BlockCoder(Coder &coder, RegionImage &image)
        : m_coder(coder), m_image(image), m_rootLevel(log2Of(image.rootSide)),
          m_measures(size_t(image.rootSide) * size_t(image.rootSide))
    {
    }

    // Codes one row of roots, the one at y; false with fault set.
    bool codeRow(int y)
    {
        for (int x = 0; x < m_image.width; x += m_image.rootSide)
            if (!walkRegionQuadtreeNode(m_image.width, m_image.height, m_image.minSide, x, y, m_image.rootSide, *this))
                return false;
        return true;
    }
    int operator()(int x, int y, int side, int width, int height, bool canSplit)
    {
        return visit(x, y, side, width, height, canSplit);
    }
    // When encoding: the blocks to code next are those of `blocks` from
    // `index` on (the block before, if any, is the previous leaf).
    void encodeFrom(const RegionImage &blocks, int index)
    {
        m_source = &blocks;
        m_index = index;
    }
    int index() const { return m_index; }

    // One node of the quadtree walk: 1 to split it, 0 for a leaf, -1 to stop.
    int visit(int x, int y, int side, int width, int height, bool canSplit);

    QString fault;

private:
    bool codeCopy(RegionBlock &block);
    void codeSpacing(RegionBlock &block);
    bool codeComponents(const RegionBlock &block);

    // The blocks being encoded: the image's own unless encodeFrom named others.
    const RegionImage &source() const { return m_source ? *m_source : m_image; }

    Coder &m_coder;
    RegionImage &m_image;
    const RegionImage *m_source = nullptr;
    RegionModel m_model;
    const int m_rootLevel;
    int m_index = 0;
    int32_t m_lastFirst[3] = {0, 0, 0};
    int32_t m_lastMeasure[3] = {0, 0, 0};
    std::vector<int32_t> m_measures;
};

template <class Coder>
int BlockCoder<Coder>::visit(int x, int y, int side, int width, int height, bool canSplit)
{
    if (m_coder.failed()) {
        fault = QStringLiteral("its block data end early: the file is damaged or truncated");
        return -1;
    }
    int split = 0;
    if (!Coder::decoding) {
        const RegionBlock &next = source().blocks.at(m_index);
        split = !(next.x == x && next.y == y && next.side == side);
    }
    if (canSplit)
        split = m_coder.bit(m_model.split[qMin(m_rootLevel - log2Of(side), 11)], split);
    if (split)
        return 1;
    RegionBlock block;
    if (Coder::decoding) {
        block.x = x;
        block.y = y;
        block.side = side;
        block.width = width;
        block.height = height;
        block.offset = qint64(m_image.components.size());
    } else {
        block = source().blocks.at(m_index);
    }
    if (!codeCopy(block)) {
        codeSpacing(block);
        if (!codeComponents(block))
            return -1;
    }
    if (Coder::decoding)
        m_image.blocks.append(block);
    ++m_index;
    return 0;
}

// A leaf of the previous leaf's shape may be coded as a copy of it; true
// when it is (then its components are in place when decoding).
template <class Coder>
bool BlockCoder<Coder>::codeCopy(RegionBlock &block)
{
    const RegionBlock *previous = Coder::decoding
        ? (m_image.blocks.isEmpty() ? nullptr : &m_image.blocks.last())
        : (m_index > 0 ? &source().blocks.at(m_index - 1) : nullptr);
    if (!previous || previous->side != block.side || previous->width != block.width
        || previous->height != block.height)
        return false;
    const qint64 count = regionBlockComponentCount(*previous);
    int copy = 0;
    if (!Coder::decoding) {
        const std::vector<int32_t> &components = source().components;
        copy = block.lumaSpacing == previous->lumaSpacing
            && std::equal(components.begin() + previous->offset, components.begin() + previous->offset + count,
                          components.begin() + block.offset);
    }
    if (!m_coder.bit(m_model.copy, copy))
        return false;
    if (Coder::decoding) {
        std::vector<int32_t> &components = m_image.components;
        block.lumaSpacing = previous->lumaSpacing;
        components.resize(size_t(block.offset + count));
        std::copy(components.begin() + previous->offset, components.begin() + previous->offset + count,
                  components.begin() + block.offset);
    }
    return true;
}

// The spacing as the number of halvings from the side, in unary.
template <class Coder>
void BlockCoder<Coder>::codeSpacing(RegionBlock &block)
{
    const int level = log2Of(block.side);
    const int target = Coder::decoding ? 0 : level - log2Of(block.lumaSpacing);
    int halvings = 0;
    while (halvings < level && m_coder.bit(m_model.spacing[qMin(level, 10)][halvings], halvings < target))
        ++halvings;
    block.lumaSpacing = block.side >> halvings;
}

template <class Coder>
bool BlockCoder<Coder>::codeComponents(const RegionBlock &block)
{
    if (Coder::decoding)
        m_image.components.resize(size_t(block.offset + regionBlockComponentCount(block)));
    // Written only when decoding, when the source is the image itself.
    int32_t *values = const_cast<int32_t *>(source().components.data()) + block.offset;
    const int chroma = regionChromaSpacing(block.side, block.lumaSpacing);
    for (int c = 0; c < 3; ++c) {
        const int spacing = c == 0 ? block.lumaSpacing : chroma;
        const int nodesX = regionNodeCount(block.width, spacing);
        const int nodesY = regionNodeCount(block.height, spacing);
        const int spacingClass = qMin(log2Of(spacing), 3);
        if (!codeGrid(m_coder, m_model, values, nodesX, nodesY, c == 0 ? 0 : 1, spacingClass, m_lastFirst[c],
                      m_lastMeasure[c], m_measures.data())) {
            fault = QStringLiteral("a component of block %1 (at %2,%3) is out of range")
                        .arg(m_index).arg(block.x).arg(block.y);
            return false;
        }
        values += nodesX * nodesY;
    }
    return true;
}

using RowDone = std::function<void(const RegionImage &, int first)>;

// Codes row of roots `row` of `image`. When decoding with a rowDone, that is
// then called with the blocks decoded since the last call (from index
// `first` of image.blocks), and the blocks before the last one are dropped,
// so that memory holds one row of roots. False with *fault.
template <class Coder>
bool codeRootRow(BlockCoder<Coder> &blocks, RegionImage &image, int row, const RowDone &rowDone, QString *fault)
{
    if (!blocks.codeRow(row * image.rootSide)) {
        *fault = blocks.fault;
        return false;
    }
    if (Coder::decoding && rowDone) {
        // The first block was handed over with the row before; it stays only
        // as the previous leaf of the next.
        rowDone(image, row == 0 ? 0 : 1);
        keepLastRegionBlock(&image);
    }
    return true;
}

// Codes the partition and components of `image` (see BlockCoder) as one
// stream, row of roots by row (see codeRootRow). False with *fault.
template <class Coder>
bool codeBlocks(Coder &coder, RegionImage &image, QString *fault, const RowDone &rowDone = {})
{
    BlockCoder<Coder> blocks(coder, image);
    const int rows = (image.height + image.rootSide - 1) / image.rootSide;
    for (int row = 0; row < rows; ++row)
        if (!codeRootRow(blocks, image, row, rowDone, fault))
            return false;
    if (!coder.endCheck()) {
        *fault = QStringLiteral("its block data are damaged (their end check fails)");
        return false;
    }
    return true;
}

// The rANS coder over one stream of version 3 block data (a whole payload,
// or a chunk's data in version 4): checks its prefix and checksum; false with
// *fault.
bool openRansData(const uint8_t *data, uint32_t size, InterleavedRansDecoder *decoder, QString *fault)
{
    constexpr int prefix = interleavedrans::prefixSize;
    if (size < uint32_t(prefix)) {
        *fault = QStringLiteral("its %1 bytes of block data cannot hold their %2-byte prefix; the file is damaged "
                                "or truncated").arg(size).arg(prefix);
        return false;
    }
    const uint32_t ransSize = qFromBigEndian<uint32_t>(data);
    if (ransSize > size - uint32_t(prefix)) {
        *fault = QStringLiteral("its block data give %1 bytes of coder data, but hold %2; the file is damaged or "
                                "truncated").arg(ransSize).arg(size - uint32_t(prefix));
        return false;
    }
    if (regionDataChecksum(data + prefix, size - prefix) != qFromBigEndian<uint32_t>(data + 4)) {
        *fault = QStringLiteral("its block data are damaged (their checksum fails)");
        return false;
    }
    *decoder = InterleavedRansDecoder(data + prefix, ransSize, size - prefix);
    return true;
}

// Version 4's block data: chunks, each a number of rows of roots (4 bytes)
// and the size (4 bytes) of its data, coded as version 3 codes the whole.
// The contexts and predictions run on from chunk to chunk; only the coder
// starts again. See codeRootRow for rowDone.
bool decodeChunks(const uint8_t *data, uint32_t size, RegionImage &image, QString *fault, const RowDone &rowDone)
{
    using Coder = DecodingCoder<InterleavedRansDecoder>;
    Coder coder{InterleavedRansDecoder(data, 0, 0)};
    BlockCoder<Coder> blocks(coder, image);
    const int rows = (image.height + image.rootSide - 1) / image.rootSide;
    uint32_t at = 0;
    int row = 0;
    for (int chunk = 0; row < rows; ++chunk) {
        if (size - at < 8) {
            *fault = QStringLiteral("its block data end before chunk %1 (row of roots %2 of %3); the file is "
                                    "damaged or truncated").arg(chunk).arg(row).arg(rows);
            return false;
        }
        const uint32_t chunkRows = qFromBigEndian<uint32_t>(data + at);
        const uint32_t chunkSize = qFromBigEndian<uint32_t>(data + at + 4);
        at += 8;
        if (chunkRows < 1 || chunkRows > uint32_t(rows - row)) {
            *fault = QStringLiteral("chunk %1 of its block data gives %2 rows of roots, where 1 to %3 are left; "
                                    "the file is damaged").arg(chunk).arg(chunkRows).arg(rows - row);
            return false;
        }
        if (chunkSize > size - at) {
            *fault = QStringLiteral("chunk %1 of its block data gives %2 bytes, but %3 are left; the file is "
                                    "damaged or truncated").arg(chunk).arg(chunkSize).arg(size - at);
            return false;
        }
        if (!openRansData(data + at, chunkSize, &coder.decoder, fault))
            return false;
        for (uint32_t k = 0; k < chunkRows; ++k, ++row)
            if (!codeRootRow(blocks, image, row, rowDone, fault))
                return false;
        if (!coder.endCheck()) {
            *fault = QStringLiteral("chunk %1 of its block data is damaged (its end check fails)").arg(chunk);
            return false;
        }
        at += chunkSize;
    }
    if (at != size) {
        *fault = QStringLiteral("%1 bytes follow the last chunk of its block data; the file is damaged")
                     .arg(size - at);
        return false;
    }
    return true;
}

void putBigEndian32(QByteArray &bytes, uint32_t value)
{
    char buffer[4];
    qToBigEndian(value, buffer);
    bytes.append(buffer, 4);
}

void putFloat(QByteArray &bytes, float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    putBigEndian32(bytes, bits);
}

float floatAt(const uchar *p)
{
    const uint32_t bits = qFromBigEndian<uint32_t>(p);
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

} // namespace

bool isRegionFile(const QByteArray &start)
{
    return start.size() >= 8 && std::memcmp(start.constData(), magic, 8) == 0;
}

namespace {

QByteArray regionFileHeader(const RegionImage &image, int version, uint32_t blockDataSize)
{
    QByteArray bytes(magic, 8);
    bytes.append(char(version));
    bytes.append(char(0));
    putBigEndian32(bytes, uint32_t(image.width));
    putBigEndian32(bytes, uint32_t(image.height));
    bytes.append(char(log2Of(image.rootSide)));
    bytes.append(char(log2Of(image.minSide)));
    putFloat(bytes, image.lumaStep);
    putFloat(bytes, image.chromaStep);
    putBigEndian32(bytes, uint32_t(image.parameters.minArea));
    putFloat(bytes, image.parameters.maxDiff);
    bytes.append(char(image.parameters.backRejoin));
    putFloat(bytes, image.parameters.edge);
    putFloat(bytes, image.parameters.sim);
    putBigEndian32(bytes, blockDataSize);
    return bytes;
}

} // namespace

// The coder, the blocks' coder (with its contexts) and the chunk so far.
struct RegionFileWriter::Coding
{
    using Coder = EncodingCoder<InterleavedRansEncoder>;

    explicit Coding(const RegionImage &header) : image(fieldsOf(header)), blocks(coder, image) {}

    // The header's fields without its blocks, which may be many.
    static RegionImage fieldsOf(const RegionImage &header)
    {
        RegionImage fields;
        fields.width = header.width;
        fields.height = header.height;
        fields.rootSide = header.rootSide;
        fields.minSide = header.minSide;
        fields.lumaStep = header.lumaStep;
        fields.chromaStep = header.chromaStep;
        fields.parameters = header.parameters;
        return fields;
    }

    RegionImage image;
    Coder coder;
    BlockCoder<Coder> blocks;
    int rows = 0;
    int chunkRows = 0;
    qint64 size = 0;
};

RegionFileWriter::RegionFileWriter(const RegionImage &header, qint64 chunkDecisions)
    : m_coding(new Coding(header)), m_chunkDecisions(chunkDecisions)
{
}

RegionFileWriter::~RegionFileWriter() = default;

QByteArray RegionFileWriter::header(qint64 blockDataSize) const
{
    return regionFileHeader(m_coding->image, regionFileVersion, uint32_t(blockDataSize));
}

int RegionFileWriter::addRow(const RegionImage &blocks, int first, QByteArray *chunk)
{
    Coding &coding = *m_coding;
    coding.blocks.encodeFrom(blocks, first);
    coding.blocks.codeRow(coding.rows * coding.image.rootSide);
    ++coding.rows;
    ++coding.chunkRows;
    const int rows = (coding.image.height + coding.image.rootSide - 1) / coding.image.rootSide;
    if (coding.coder.encoder.decisionCount() >= m_chunkDecisions || coding.rows == rows) {
        QByteArray bytes(8, '\0');
        qToBigEndian(uint32_t(coding.chunkRows), bytes.data());
        const QByteArray data = coding.coder.encoder.finish();
        qToBigEndian(uint32_t(data.size()), bytes.data() + 4);
        bytes.append(data);
        coding.size += bytes.size();
        coding.chunkRows = 0;
        chunk->append(bytes);
    }
    return coding.blocks.index();
}

qint64 RegionFileWriter::blockDataSize() const { return m_coding->size; }

QByteArray writeRegionFile(const RegionImage &image, int version, qint64 chunkDecisions)
{
    if (version == oldestVersion || version == 3) {
        QString fault;
        RegionImage &source = const_cast<RegionImage &>(image); // read only when encoding
        auto encodeWith = [&](auto coder) {
            codeBlocks(coder, source, &fault);
            return coder.encoder.finish();
        };
        const QByteArray payload = version == oldestVersion ? encodeWith(EncodingCoder<BinaryRangeEncoder>())
                                                            : encodeWith(EncodingCoder<InterleavedRansEncoder>());
        return regionFileHeader(image, version, uint32_t(payload.size())) + payload;
    }
    RegionFileWriter writer(image, chunkDecisions);
    QByteArray data;
    int index = 0;
    for (int y = 0; y < image.height; y += image.rootSide)
        index = writer.addRow(image, index, &data);
    return writer.header(data.size()) + data;
}

bool decodeRegionFile(const QByteArray &data, qint64 maxPixels, QString *error,
                      const std::function<bool(const RegionImage &header, QString *error)> &begin,
                      const std::function<void(const RegionImage &rows, int first)> &rowDone)
{
    auto refuse = [error](const QString &fault) {
        if (error)
            *error = fault;
        return false;
    };
    if (data.size() < regionFileHeaderSize) {
        if (!isRegionFile(data))
            return refuse(QStringLiteral("it is not a region block file (no FTREGION magic)"));
        return refuse(QStringLiteral("its %1 bytes cannot hold the %2-byte header of a block file; the file is "
                                     "truncated").arg(data.size()).arg(regionFileHeaderSize));
    }
    if (!isRegionFile(data))
        return refuse(QStringLiteral("it is not a region block file (no FTREGION magic)"));
    const uchar *p = reinterpret_cast<const uchar *>(data.constData());
    const int version = p[8];
    if (version < oldestVersion || version > regionFileVersion)
        return refuse(QStringLiteral("its block file version is %1; this program reads versions %2 to %3")
                          .arg(version).arg(oldestVersion).arg(regionFileVersion));
    if (p[9] != 0)
        return refuse(QStringLiteral("its header has unknown flags %1").arg(p[9]));
    RegionImage result;
    const uint32_t width = qFromBigEndian<uint32_t>(p + 10);
    const uint32_t height = qFromBigEndian<uint32_t>(p + 14);
    if (width < 1 || height < 1 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu)
        return refuse(QStringLiteral("its header gives an image of %1x%2 pixels").arg(width).arg(height));
    if (qint64(width) * qint64(height) > maxPixels)
        return refuse(QStringLiteral("an image of %1x%2 pixels is too large (at most %3 pixels)")
                          .arg(width).arg(height).arg(maxPixels));
    const int rootLevel = p[18];
    const int minLevel = p[19];
    if (rootLevel > 10)
        return refuse(QStringLiteral("its header gives a root side of 2^%1 (at most 2^10)").arg(rootLevel));
    if (minLevel > rootLevel)
        return refuse(QStringLiteral("its header gives a smallest block side of 2^%1, larger than the root side 2^%2")
                          .arg(minLevel).arg(rootLevel));
    result.width = int(width);
    result.height = int(height);
    result.rootSide = 1 << rootLevel;
    result.minSide = 1 << minLevel;
    result.lumaStep = floatAt(p + 20);
    result.chromaStep = floatAt(p + 24);
    for (const float step : {result.lumaStep, result.chromaStep})
        if (!(step >= 1.0f / 64 && step <= 65536.0f))
            return refuse(QStringLiteral("its header gives a quantiser step of %1 (1/64 to 65536)").arg(double(step)));
    result.parameters.minArea = int(qMin<uint32_t>(qFromBigEndian<uint32_t>(p + 28), 0x7FFFFFFFu));
    result.parameters.maxDiff = floatAt(p + 32);
    result.parameters.backRejoin = p[36];
    result.parameters.edge = floatAt(p + 37);
    result.parameters.sim = floatAt(p + 41);
    QString fault;
    if (!checkRegionParameters(result.parameters, &fault))
        return refuse(QStringLiteral("its header gives bad parameters: %1").arg(fault));
    if (regionMinSide(result.parameters.minArea, result.rootSide) != result.minSide)
        return refuse(QStringLiteral("its header gives a min area of %1, which does not make the smallest side %2")
                          .arg(result.parameters.minArea).arg(result.minSide));
    const uint32_t payloadSize = qFromBigEndian<uint32_t>(p + 45);
    if (qint64(payloadSize) != qint64(data.size()) - regionFileHeaderSize)
        return refuse(QStringLiteral("its header gives %1 bytes of block data, but the file holds %2; the file is "
                                     "damaged or truncated")
                          .arg(payloadSize).arg(data.size() - regionFileHeaderSize));
    const uint8_t *payload = p + regionFileHeaderSize;
    auto decodeWith = [&](auto coder) {
        if (begin && !begin(result, error))
            return false;
        return codeBlocks(coder, result, &fault, rowDone) || refuse(fault);
    };
    if (version == oldestVersion)
        return decodeWith(DecodingCoder<BinaryRangeDecoder>{BinaryRangeDecoder(payload, payloadSize)});
    if (version == 4) {
        if (begin && !begin(result, error))
            return false;
        return decodeChunks(payload, payloadSize, result, &fault, rowDone) || refuse(fault);
    }
    DecodingCoder<InterleavedRansDecoder> coder{InterleavedRansDecoder(payload, 0, 0)};
    if (!openRansData(payload, payloadSize, &coder.decoder, &fault))
        return refuse(fault);
    return decodeWith(coder);
}

bool readRegionFile(const QByteArray &data, RegionImage *image, QString *error, qint64 maxPixels)
{
    RegionImage result;
    auto begin = [&](const RegionImage &header, QString *) {
        result = header;
        return true;
    };
    // Rows are gathered into one image, the last block of each row once.
    auto rowDone = [&](const RegionImage &rows, int from) {
        for (int k = from; k < rows.blocks.size(); ++k) {
            RegionBlock block = rows.blocks.at(k);
            const qint64 count = regionBlockComponentCount(block);
            const auto start = rows.components.begin() + block.offset;
            block.offset = qint64(result.components.size());
            result.components.insert(result.components.end(), start, start + count);
            result.blocks.append(block);
        }
    };
    if (!decodeRegionFile(data, maxPixels, error, begin, rowDone))
        return false;
    *image = std::move(result);
    return true;
}

} // namespace veltrano
