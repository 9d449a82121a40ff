// The direct and inverse F-transform on small images made from the bytes, at
// every instruction-set level the processor has, compared pixel for pixel
// with the slow transforms of tests/referencetransforms.h.
//
// Input layout (bytes past the end read as 0):
//   0  width - 1 (mod 48)          1  height - 1 (mod 48)
//   2  format (mod 6: RGB32, ARGB32, ARGB32_Premultiplied, Grayscale8,
//      Indexed8, RGB888)
//   3  step - 1 (mod 8)            4  kernel radius - 1 (mod 6)
//   5  reconstruction radius (mod 5)
//   6  kernel: 0 raised cosine, 1 multiples of 1/16 from the bytes,
//      2 any floats from the bytes (mod 3)
//   7  weights: 0 the fixed table, 1 multiples of 1/16, 2 any floats (mod 3)
//   8  output width - 1 (mod 96)   9  output height - 1 (mod 96)
//   10 colour-table size - 1 (mod 16, Indexed8 only)
//   then the kernel's and the table's values when they come from the bytes,
//   the colour table, and the pixel bytes (repeated to fill the image).

#include "codec/dsp/cpufeatures.h"
#include "codec/qimage/directtransform.h"
#include "fuzzsupport.h"
#include "codec/qimage/inversetransform.h"
#include "codec/transform/kernel.h"
#include "referencetransforms.h"

#include <QImage>
#include <QList>
#include <QVector>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

using namespace veltrano;

using fuzzsupport::fail;

namespace {

class Bytes
{
public:
    Bytes(const uint8_t *data, size_t size)
        : data(data)
        , size(size)
    {
    }
    uint8_t next() { return at < size ? data[at++] : 0; }
    float nextFloat()
    {
        uint32_t bits = 0;
        for (int i = 0; i < 4; ++i)
            bits |= uint32_t(next()) << (8 * i);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    // A signed multiple of 1/16 from one byte: -8 .. 7.9375.
    float nextSixteenth() { return float(int8_t(next())) / 16.0f; }
    // What is left, for the pixels.
    const uint8_t *rest() const { return data + at; }
    size_t restSize() const { return size - at; }

private:
    const uint8_t *data;
    size_t size;
    size_t at = 0;
};

const QImage::Format formats[] = {QImage::Format_RGB32,  QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied,
                                  QImage::Format_Grayscale8, QImage::Format_Indexed8, QImage::Format_RGB888};

QList<float> valuesFrom(Bytes &bytes, int mode, int count)
{
    QList<float> values;
    for (int i = 0; i < count; ++i)
        values.append(mode == 1 ? bytes.nextSixteenth() : bytes.nextFloat());
    return values;
}

// The largest table index the slow inverse transform looks up.
int largestIndexUsed(int width, int height, int step, int radius)
{
    const float q = float(20.0 / step);
    int largest = -1;
    const int longest = width > height ? width : height;
    for (int y = 0; y < longest; ++y)
        for (int j = y - radius; j <= y + radius; ++j)
            if (j >= 0 && j <= longest - 1 && j % step == 0) {
                const int index = int(std::ceil(float(std::abs(y - j)) * q));
                if (index > largest)
                    largest = index;
            }
    return largest;
}

std::string describe(const QImage &image, int step, int kernelRadius, int kernelMode, int radius, int weightsMode,
                     int outWidth, int outHeight)
{
    char text[256];
    std::snprintf(text, sizeof text,
                  "%dx%d format %d, step %d, kernel radius %d (mode %d), radius %d (weights mode %d), "
                  "output %dx%d",
                  image.width(), image.height(), int(image.format()), step, kernelRadius, kernelMode, radius,
                  weightsMode, outWidth, outHeight);
    return text;
}

QVector<SimdLevel> levels()
{
    QVector<SimdLevel> result;
    for (SimdLevel level : {SimdLevel::Scalar, SimdLevel::Sse2, SimdLevel::Avx2})
        if (simdLevelSupported(level))
            result.append(level);
    return result;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzsupport::initialise(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QList<float> fixed = fuzzsupport::fixedWeights(128);
    static const QVector<SimdLevel> supported = levels();

    Bytes bytes(data, size);
    const int width = bytes.next() % 48 + 1;
    const int height = bytes.next() % 48 + 1;
    const QImage::Format format = formats[bytes.next() % 6];
    const int step = bytes.next() % 8 + 1;
    const int kernelRadius = bytes.next() % 6 + 1;
    const int radius = bytes.next() % 5;
    const int kernelMode = bytes.next() % 3;
    const int weightsMode = bytes.next() % 3;
    const int outWidth = bytes.next() % 96 + 1;
    const int outHeight = bytes.next() % 96 + 1;
    const int colours = bytes.next() % 16 + 1;

    const QList<float> kernel =
        kernelMode == 0 ? makeRaisedCosineKernel(kernelRadius) : valuesFrom(bytes, kernelMode, kernelRadius + 1);
    // A table from the bytes is as long as the transform needs, or, when its
    // first value says so, one entry shorter.
    const int needed = largestIndexUsed(outWidth, outHeight, step, radius) + 1;
    QList<float> weights;
    if (weightsMode == 0) {
        weights = fixed;
    } else {
        const bool shorter = bytes.next() % 8 == 0;
        weights = valuesFrom(bytes, weightsMode, shorter ? needed - 1 : needed);
    }

    QImage image(width, height, format);
    if (format == QImage::Format_Indexed8) {
        QVector<QRgb> table;
        for (int i = 0; i < colours; ++i) {
            const QRgb red = bytes.next(), green = bytes.next(), blue = bytes.next(), alpha = bytes.next();
            table.append(qRgba(int(red), int(green), int(blue), int(alpha)));
        }
        image.setColorTable(table);
    }
    const uint8_t *pixels = bytes.rest();
    const size_t pixelBytes = bytes.restSize();
    size_t next = 0;
    for (int y = 0; y < height; ++y) {
        uchar *line = image.scanLine(y);
        const int lineBytes = image.bytesPerLine();
        for (int i = 0; i < lineBytes; ++i) {
            line[i] = pixelBytes ? pixels[next % pixelBytes] : uchar(i * 37 + y * 11);
            ++next;
        }
    }

    const std::string parameters = describe(image, step, kernelRadius, kernelMode, radius, weightsMode, outWidth,
                                            outHeight);

    // Qt's pixel() gives 0 for an index beyond the colour table and prints a
    // warning for every such read, which would make the slow reference crawl
    // through thousands of them. The reference reads a copy whose table is
    // padded to 256 entries with that same 0: every pixel() value it sees is
    // unchanged, without a warning. The transforms get the image as it is.
    QImage referenceImage = image;
    if (format == QImage::Format_Indexed8) {
        QVector<QRgb> padded = image.colorTable();
        padded.resize(256);
        referenceImage.setColorTable(padded);
    }

    // Direct transform: null when the image is smaller than one step.
    const QImage expectedDirect = width >= step && height >= step
        ? referenceDirectFTransform(referenceImage, step, kernel)
        : QImage();
    // Inverse transform of the image itself as components: null when the
    // table is shorter than the lookups need.
    const bool tableLongEnough = weights.size() >= needed;
    const QImage expectedInverse = tableLongEnough
        ? referenceInverseFTransform(referenceImage, outWidth, outHeight, step, radius, weights)
        : QImage();

    for (SimdLevel level : supported) {
        setTransformSimdLevel(level);
        const QImage direct = directFTransform(image, step, kernel);
        if (direct.isNull() != expectedDirect.isNull())
            fail("direct (%s), %s: null %d, expected null %d", simdLevelName(level), parameters.c_str(),
                 int(direct.isNull()), int(expectedDirect.isNull()));
        if (!direct.isNull()) {
            const QString difference = firstPixelDifference(direct, expectedDirect);
            if (!difference.isEmpty())
                fail("direct (%s), %s: %s", simdLevelName(level), parameters.c_str(), qPrintable(difference));
        }
        QString error;
        const QImage inverse = inverseFTransform(image, outWidth, outHeight, step, radius, weights, &error);
        if (inverse.isNull() != expectedInverse.isNull())
            fail("inverse (%s), %s, %d weights for %d: null %d (%s)", simdLevelName(level), parameters.c_str(),
                 weights.size(), needed, int(inverse.isNull()), qPrintable(error));
        if (inverse.isNull() && error.isEmpty())
            fail("inverse (%s), %s: refused without a message", simdLevelName(level), parameters.c_str());
        if (!inverse.isNull()) {
            const QString difference = firstPixelDifference(inverse, expectedInverse);
            if (!difference.isEmpty())
                fail("inverse (%s), %s: %s", simdLevelName(level), parameters.c_str(), qPrintable(difference));
        }
    }
    setTransformSimdLevel(detectedSimdLevel());
    return 0;
}
