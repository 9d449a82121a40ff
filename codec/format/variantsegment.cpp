#include "codec/format/variantsegment.h"

#include "codec/format/imageheader.h"
#include "codec/format/imagelimits.h"
#include "codec/transform/rowtransforms.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace veltrano {

namespace {

constexpr int identifierLength = int(sizeof(variantSegmentIdentifier)); // with its zero byte
// Identifier, version, five 32-bit fields, quality, flags, entry count.
constexpr int fixedPayloadLength = identifierLength + 1 + 5 * 4 + 1 + 1 + 2;
constexpr int entryLength = 8;
constexpr int knownFlags = VariantOptimized | VariantProgressive | VariantChroma444 | VariantClamp;

void putU32(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToBigEndian(value, bytes);
    out.append(bytes, 4);
}

quint32 getU32(const QByteArray &data, int offset)
{
    return qFromBigEndian<quint32>(data.constData() + offset);
}

quint16 getU16(const QByteArray &data, int offset)
{
    return qFromBigEndian<quint16>(data.constData() + offset);
}

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

bool carriesIdentifier(const char *payload, int length)
{
    return length >= identifierLength && std::memcmp(payload, variantSegmentIdentifier, identifierLength) == 0;
}

} // namespace

int maxVariantSegmentEntries()
{
    return (0xFFFF - 2 - fixedPayloadLength) / entryLength;
}

QList<int> usedWeightIndexes(int width, int height, int step, int radius)
{
    QList<int> indexes;
    if (width < 1 || height < 1 || step < 1 || radius < 0)
        return indexes;
    // As the inverse transform looks them up: every distance up to the radius
    // cut at the longer side occurs, at index ceil(float(d * float(20 / step))).
    const int distance = std::min(radius, std::max(width, height) - 1);
    const float scale = static_cast<float>(20.0 / step);
    for (int d = 0; d <= distance; ++d) {
        const float product = float(d) * scale;
        const int index = int(std::ceil(double(product)));
        if (indexes.isEmpty() || indexes.last() != index)
            indexes.append(index);
    }
    return indexes;
}

QByteArray serializeVariantSegment(const VariantSegment &segment)
{
    QByteArray payload(variantSegmentIdentifier, identifierLength);
    payload.append(char(variantSegmentVersion));
    putU32(payload, quint32(segment.sourceWidth));
    putU32(payload, quint32(segment.sourceHeight));
    putU32(payload, quint32(segment.step));
    putU32(payload, quint32(segment.kernelRadius));
    putU32(payload, quint32(segment.reconstructRadius));
    payload.append(char(segment.quality));
    payload.append(char(segment.flags));
    char count[2];
    qToBigEndian(quint16(segment.entries.size()), count);
    payload.append(count, 2);
    for (const QPair<int, float> &entry : segment.entries) {
        putU32(payload, quint32(entry.first));
        quint32 bits;
        std::memcpy(&bits, &entry.second, 4);
        putU32(payload, bits);
    }
    QByteArray out("\xFF", 1);
    out.append(char(variantSegmentMarker));
    char length[2];
    qToBigEndian(quint16(payload.size() + 2), length);
    out.append(length, 2);
    out.append(payload);
    return out;
}

bool readJpegHeaders(const QByteArray &data, JpegHeaderInfo *info, QString *error)
{
    *info = JpegHeaderInfo();
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
    const int size = data.size();
    if (size < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return fail(error, QStringLiteral("it is not a JPEG stream"));
    int offset = 2;
    while (true) {
        if (offset >= size || bytes[offset] != 0xFF)
            return fail(error, QStringLiteral("its JPEG headers are damaged at byte %1").arg(offset));
        while (offset < size && bytes[offset] == 0xFF)
            ++offset; // fill bytes
        if (offset >= size)
            return fail(error, QStringLiteral("its JPEG headers end before the first scan"));
        const unsigned char marker = bytes[offset++];
        if (marker == 0xD9)
            return fail(error, QStringLiteral("its JPEG stream ends before the first scan"));
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // no length field
        if (offset + 2 > size)
            return fail(error, QStringLiteral("its JPEG headers end inside a segment"));
        const int length = (int(bytes[offset]) << 8) | bytes[offset + 1];
        // A variant segment cut short is still one: the file is then refused
        // as a damaged variant, not read as a classic file.
        const bool application = marker >= 0xE0 && marker <= 0xEF;
        if (application && offset + length > size
            && carriesIdentifier(data.constData() + offset + 2, size - offset - 2))
            ++info->variantSegments;
        if (length < 2 || offset + length > size)
            return fail(error, QStringLiteral("a JPEG segment of %1 bytes at byte %2 runs past the end of the data")
                                   .arg(length)
                                   .arg(offset - 2));
        const char *payload = data.constData() + offset + 2;
        const int payloadLength = length - 2;
        if (application && carriesIdentifier(payload, payloadLength)) {
            if (info->variantSegments++ == 0)
                info->variantPayload = QByteArray(payload, payloadLength);
        } else if (isStartOfFrame(marker) && !info->frameSize.isValid()) {
            if (payloadLength < 6)
                return fail(error, QStringLiteral("its JPEG frame header is too short"));
            const auto *p = reinterpret_cast<const unsigned char *>(payload);
            info->frameSize = QSize((p[3] << 8) | p[4], (p[1] << 8) | p[2]);
            info->components = p[5];
            info->progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
            if (payloadLength >= 6 + 3 * info->components && info->components > 0)
                info->lumaSampling = p[7];
        } else if (marker == 0xDA) {
            return true;
        }
        offset += length;
    }
}

bool hasVariantSegment(const QByteArray &data)
{
    JpegHeaderInfo info;
    QString ignored;
    readJpegHeaders(data, &info, &ignored);
    return info.variantSegments > 0;
}

namespace {

// The fixed fields of a version 1 segment, as read and not yet checked.
struct VariantFields
{
    quint32 width = 0;
    quint32 height = 0;
    quint32 step = 0;
    quint32 kernelRadius = 0;
    quint32 radius = 0;
    int quality = 0;
    int flags = 0;
    int count = 0; // weight entries
};

// The version byte and the fixed fields of the payload p, and a length that
// matches the entry count; nothing of a field is checked here.
bool readVariantFields(const QByteArray &p, VariantFields *fields, QString *error)
{
    if (p.size() <= identifierLength)
        return fail(error, QStringLiteral("its variant segment ends before its version"));
    const int version = static_cast<unsigned char>(p.at(identifierLength));
    if (version != variantSegmentVersion)
        return fail(error, QStringLiteral("its variant segment has version %1, this program reads version %2")
                               .arg(version)
                               .arg(variantSegmentVersion));
    if (p.size() < fixedPayloadLength)
        return fail(error, QStringLiteral("its variant segment of %1 bytes is too short (at least %2)")
                               .arg(p.size() + 2)
                               .arg(fixedPayloadLength + 2));
    const int offset = identifierLength + 1;
    fields->width = getU32(p, offset);
    fields->height = getU32(p, offset + 4);
    fields->step = getU32(p, offset + 8);
    fields->kernelRadius = getU32(p, offset + 12);
    fields->radius = getU32(p, offset + 16);
    fields->quality = static_cast<unsigned char>(p.at(offset + 20));
    fields->flags = static_cast<unsigned char>(p.at(offset + 21));
    fields->count = getU16(p, offset + 22);
    if (p.size() != fixedPayloadLength + fields->count * entryLength)
        return fail(error, QStringLiteral("its variant segment is %1 bytes long, but %2 weight entries need %3")
                               .arg(p.size() + 2)
                               .arg(fields->count)
                               .arg(fixedPayloadLength + fields->count * entryLength + 2));
    return true;
}

// Node spacing, radii, quality, flags and source size within the codec's
// limits.
bool checkVariantFields(const VariantFields &f, QString *error)
{
    if (f.step < 1 || f.step > quint32(maxTransformStep))
        return fail(error, QStringLiteral("its variant segment gives node spacing %1 (must be 1 to %2)")
                               .arg(f.step)
                               .arg(maxTransformStep));
    if (f.kernelRadius < 1 || f.kernelRadius > quint32(maxTransformStep))
        return fail(error, QStringLiteral("its variant segment gives kernel radius %1 (must be 1 to %2)")
                               .arg(f.kernelRadius)
                               .arg(maxTransformStep));
    const quint64 radiusLimit = quint64(maxVariantRadiusSpacings + 1) * f.step - 1;
    if (f.radius > radiusLimit)
        return fail(error, QStringLiteral("its variant segment gives reconstruction radius %1 (at most %2 at node "
                                          "spacing %3)")
                               .arg(f.radius)
                               .arg(radiusLimit)
                               .arg(f.step));
    if (f.quality > 100)
        return fail(error, QStringLiteral("its variant segment gives quality %1 (at most 100)").arg(f.quality));
    if (f.flags & ~knownFlags)
        return fail(error, QStringLiteral("its variant segment has unknown flags 0x%1")
                               .arg(f.flags & ~knownFlags, 2, 16, QLatin1Char('0')));
    if (f.width < f.step || f.height < f.step || f.width > 0x7FFFFFFFu || f.height > 0x7FFFFFFFu
        || quint64(f.width) * quint64(f.height) > quint64(maxDecodedPixels))
        return fail(error, QStringLiteral("its variant segment gives a source of %1x%2 pixels, which is not "
                                          "from %3x%3 to %4 pixels")
                               .arg(f.width)
                               .arg(f.height)
                               .arg(f.step)
                               .arg(maxDecodedPixels));
    return true;
}

// A JPEG frame of exactly the component size, progressive or sequential and
// with the chroma sampling the flags say.
bool checkVariantFrame(const VariantFields &f, const JpegHeaderInfo &info, QString *error)
{
    const QSize components(int(f.width / f.step), int(f.height / f.step));
    if (!info.frameSize.isValid())
        return fail(error, QStringLiteral("it has no JPEG frame header"));
    if (info.frameSize != components)
        return fail(error, QStringLiteral("its variant segment gives a source of %1x%2 pixels at node spacing %3, "
                                          "which needs %4x%5 components, but the JPEG frame holds %6x%7")
                               .arg(f.width)
                               .arg(f.height)
                               .arg(f.step)
                               .arg(components.width())
                               .arg(components.height())
                               .arg(info.frameSize.width())
                               .arg(info.frameSize.height()));
    if (bool(f.flags & VariantProgressive) != info.progressive)
        return fail(error, QStringLiteral("its variant segment says the JPEG stream is %1, but its frame is %2")
                               .arg(f.flags & VariantProgressive ? QStringLiteral("progressive")
                                                                 : QStringLiteral("sequential"),
                                    info.progressive ? QStringLiteral("progressive")
                                                     : QStringLiteral("sequential")));
    if (info.components == 3) {
        const int expected = f.flags & VariantChroma444 ? 0x11 : 0x22;
        if (info.lumaSampling != expected)
            return fail(error, QStringLiteral("its variant segment says chroma %1, but the JPEG frame samples "
                                              "luma at %2x%3")
                                   .arg(f.flags & VariantChroma444 ? QStringLiteral("4:4:4")
                                                                   : QStringLiteral("4:2:0"))
                                   .arg(info.lumaSampling >> 4)
                                   .arg(info.lumaSampling & 15));
    }
    return true;
}

// The weight entries of the payload p: exactly the indexes the expansion of
// the source size looks up, in order, every weight finite.
bool readVariantEntries(const QByteArray &p, const VariantFields &f, QList<QPair<int, float>> *entries,
                        QString *error)
{
    const QList<int> needed = usedWeightIndexes(int(f.width), int(f.height), int(f.step), int(f.radius));
    if (needed.size() != f.count)
        return fail(error, QStringLiteral("its variant segment holds %1 weight entries, but step %2 and radius %3 "
                                          "use %4")
                               .arg(f.count)
                               .arg(f.step)
                               .arg(f.radius)
                               .arg(needed.size()));
    int offset = fixedPayloadLength;
    for (int i = 0; i < f.count; ++i, offset += entryLength) {
        const quint32 index = getU32(p, offset);
        const quint32 bits = getU32(p, offset + 4);
        float weight;
        std::memcpy(&weight, &bits, 4);
        if (index != quint32(needed.at(i)))
            return fail(error, QStringLiteral("its variant segment's weight entry %1 has index %2, where the "
                                              "expansion looks up index %3")
                                   .arg(i)
                                   .arg(index)
                                   .arg(needed.at(i)));
        if (!std::isfinite(weight))
            return fail(error, QStringLiteral("its variant segment's weight for index %1 is not finite")
                                   .arg(index));
        entries->append(qMakePair(int(index), weight));
    }
    return true;
}

} // namespace

bool parseVariantSegment(const QByteArray &data, VariantSegment *segment, QString *error)
{
    *segment = VariantSegment();
    JpegHeaderInfo info;
    QString reason;
    if (!readJpegHeaders(data, &info, &reason))
        return fail(error, reason);
    if (info.variantSegments == 0)
        return fail(error, QStringLiteral("it has no variant segment"));
    if (info.variantSegments > 1)
        return fail(error, QStringLiteral("it has %1 variant segments, where one is allowed")
                               .arg(info.variantSegments));
    VariantFields fields;
    if (!readVariantFields(info.variantPayload, &fields, error) || !checkVariantFields(fields, error)
        || !checkVariantFrame(fields, info, error))
        return false;
    VariantSegment result;
    result.sourceWidth = int(fields.width);
    result.sourceHeight = int(fields.height);
    result.step = int(fields.step);
    result.kernelRadius = int(fields.kernelRadius);
    result.reconstructRadius = int(fields.radius);
    result.quality = fields.quality;
    result.flags = fields.flags;
    if (!readVariantEntries(info.variantPayload, fields, &result.entries, error))
        return false;
    *segment = result;
    return true;
}

bool isHybridVariantFile(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) && hasVariantSegment(file.readAll());
}

} // namespace veltrano
