#ifndef HYBRIDVARIANT_H
#define HYBRIDVARIANT_H

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

#include "codec/format/variantsegment.h"

namespace veltrano {

// Hybrid variant files on QImage: their parameters, encoding a source image
// into one, decoding one back to the source size, and the expansion with
// clamped channels that variants may ask for. The segment's bytes are
// format/variantsegment.h's.

// The parameters of a hybrid variant: the scheme of the classic hybrid file
// with its node spacing, kernel radius, reconstruction radius and JPEG coding
// free. A variant file is a marked JPEG of the component image that carries
// one variant segment (format/variantsegment.h) with the source size, these
// parameters and the weight entries its expansion uses, so it decodes to the
// source size without a weights file.
struct HybridVariant
{
    int step = 2;
    int kernelRadius = 2;
    int reconstructRadius = 1;
    bool optimize = false;    // optimized Huffman tables
    bool progressive = false; // progressive scans
    bool chroma444 = false;   // full-resolution chroma instead of 4:2:0
    // Expanded channels clamped to 0 .. 255 instead of keeping their low 8
    // bits, so that weights with negative lobes (sharpening) do not wrap.
    bool clamp = false;
};

// Why the parameters cannot make a variant (empty when they can): a node
// spacing or kernel radius outside 1 .. maxTransformStep, a negative radius
// or one beyond maxVariantRadiusSpacings node spacings.
QString checkHybridVariant(const HybridVariant &variant);

// The bytes of the variant file of a source image: components (direct
// transform with the variant's step and kernel radius) as a JPEG at the given
// quality, marked, with the variant segment after the JFIF header. Grey
// components (every pixel with red = green = blue) are stored as one channel.
// The table must hold the entries the expansion of the source size uses, all
// finite. Empty, with *error set, otherwise.
QByteArray encodeHybridVariant(const QImage &source, int quality, const HybridVariant &variant,
                               const QList<float> &weights, QString *error = nullptr);

// An image as JPEG with a variant's coding, as a variant file stores its
// components but without mark and segment: libjpeg at the quality with the
// variant's optimize, progressive and chroma settings, one channel when every
// pixel is grey. Empty, with *error set, for a quality outside 0 to 100 or an
// image JPEG cannot hold.
QByteArray encodeVariantJpeg(const QImage &image, int quality, const HybridVariant &variant,
                             QString *error = nullptr);

// Encodes as above and returns the expansion of the components the bytes
// decode to, at the source size, with the given table: what decoding the file
// gives. *data receives the file's bytes.
QImage compressHybridVariant(const QImage &source, int quality, const HybridVariant &variant,
                             const QList<float> &weights, QByteArray *data, QString *error = nullptr);

// The expansion of a variant's components to width x height: the inverse
// F-transform with the variant's step and radius and the table, its
// channels clamped when the variant says so (the same accumulation, the
// truncated quotient limited to 0 .. 255, a weight sum of 0 or a NaN
// quotient giving 0). A null image, with *error set, as inverseFTransform.
QImage expandHybridVariant(const QImage &components, int width, int height, int step, int radius, bool clamp,
                           const QList<float> &weights, QString *error = nullptr);

// Decodes the bytes of a variant file to its source size with the weights its
// segment records. A null image, with *error set, when the segment is
// damaged or contradicts the JPEG frame, or the components cannot be decoded.
QImage decodeHybridVariant(const QByteArray &data, QString *error = nullptr);

// The same for a file; the message names it.
QImage decompressHybridVariant(const QString &fileName, QString *error = nullptr);

} // namespace veltrano

#endif // HYBRIDVARIANT_H
