#ifndef VARIANTSEGMENT_H
#define VARIANTSEGMENT_H

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSize>
#include <QString>

namespace veltrano {

// The variant segment of a hybrid variant file, as bytes: its layout, writing
// it, finding it among a JPEG stream's headers and checking it against the
// stream's frame. Encoding and decoding the file itself is
// qimage/hybridvariant.h's.

// The application segment that makes a hybrid file a variant: APP9
// (FF E9), identified by "FTVARIANT" and a zero byte, then a version byte.
// Version 1 holds, big-endian: source width and height, node spacing, kernel
// radius and reconstruction radius (5 x 32 bits), the component quality
// (8 bits), flags (8 bits: 1 optimized Huffman tables, 2 progressive, 4
// chroma 4:4:4, 8 channels clamped instead of wrapped), the entry count K
// (16 bits) and K pairs of a table index (32 bits) and its weight (IEEE
// single precision), in increasing index order: exactly the entries the
// expansion of the source size looks up.
constexpr unsigned char variantSegmentMarker = 0xE9;
constexpr char variantSegmentIdentifier[] = "FTVARIANT"; // followed by 0x00 in the file
constexpr int variantSegmentVersion = 1;

enum VariantFlag { VariantOptimized = 1, VariantProgressive = 2, VariantChroma444 = 4, VariantClamp = 8 };

struct VariantSegment
{
    int sourceWidth = 0;
    int sourceHeight = 0;
    int step = 2;
    int kernelRadius = 2;
    int reconstructRadius = 1;
    int quality = 0;
    int flags = 0;
    // (table index, weight), increasing indexes.
    QList<QPair<int, float>> entries;
};

// The most entries one segment can carry (its length is a 16-bit field).
int maxVariantSegmentEntries();

// The table indexes, in increasing order and without repeats, that the
// expansion of a component image to width x height looks up for node spacing
// step and reconstruction radius radius.
QList<int> usedWeightIndexes(int width, int height, int step, int radius);

// The whole marker segment (FF E9, length, payload) for the given record.
QByteArray serializeVariantSegment(const VariantSegment &segment);

// What a JPEG stream's headers say before its first scan.
struct JpegHeaderInfo
{
    QSize frameSize;         // invalid when no frame header was found
    int components = 0;
    bool progressive = false;
    int lumaSampling = 0;    // horizontal x 16 + vertical factor of the first component
    int variantSegments = 0; // application segments carrying the identifier
    QByteArray variantPayload; // the first one's bytes after the length field
};

// Walks the marker segments of a JPEG stream up to its first scan. False,
// with *error set, when the stream is not a JPEG or a segment runs past the
// end of the data.
bool readJpegHeaders(const QByteArray &data, JpegHeaderInfo *info, QString *error);

// Whether the stream carries the variant identifier in an application segment
// at all (valid or not).
bool hasVariantSegment(const QByteArray &data);

// Parses and checks the variant segment of a JPEG stream against its frame:
// exactly one segment, a known version, a length that matches its entries,
// node spacing, radii and source size within the codec's limits, a frame of
// exactly the component size, flags that agree with the frame, and exactly
// the weight entries the expansion needs, all finite. False, with *error
// saying what is wrong, otherwise; nothing is allocated from an unchecked
// field.
bool parseVariantSegment(const QByteArray &data, VariantSegment *segment, QString *error);

// The largest reconstruction radius a variant takes, in node spacings: the
// terms per pixel grow with its square.
constexpr int maxVariantRadiusSpacings = 32;

// Whether the file is a JPEG stream with a variant segment (checked or not).
bool isHybridVariantFile(const QString &fileName);

} // namespace veltrano

#endif // VARIANTSEGMENT_H
