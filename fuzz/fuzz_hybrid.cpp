// Arbitrary bytes as the file that Open image and "ftjpeg decompress" read:
// first line and hybrid recognition, the declared size, reading the image
// within the pixel limit, hybrid decoding with a fixed weights table (checked
// pixel for pixel against the slow inverse transform for small images), and
// marking in memory and on disk, which may change byte 12 only.

#include "fuzzsupport.h"
#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/imagefile.h"
#include "referencetransforms.h"
#include "codec/format/variantsegment.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QList>
#include <QSize>

#include <sanitizer/allocator_interface.h>

#include <atomic>
#include <cstdint>

using namespace veltrano;

using fuzzsupport::fail;

namespace {

// The largest single allocation while `watching` is set.
std::atomic<bool> watching{false};
std::atomic<size_t> largestAllocation{0};

void mallocHook(const volatile void *, size_t size)
{
    if (!watching.load(std::memory_order_relaxed))
        return;
    size_t largest = largestAllocation.load(std::memory_order_relaxed);
    while (size > largest && !largestAllocation.compare_exchange_weak(largest, size))
    {
    }
}

void freeHook(const volatile void *)
{
}

// Bytes up to and including the first line feed, or all of them.
QByteArray firstLineOf(const QByteArray &data)
{
    const int end = data.indexOf('\n');
    return end < 0 ? data : data.left(end + 1);
}

// Marking may set byte 12 to the marker and must leave every other byte,
// and the length, as they were; it marks exactly when the first line holds
// at least 13 bytes.
void checkMarked(const char *what, const QByteArray &before, const QByteArray &after, bool marked)
{
    const bool reachable = firstLineOf(before).size() > hybridMarkerOffset;
    if (marked != reachable)
        fail("%s: marked %d, but the first line has %d bytes", what, int(marked), int(firstLineOf(before).size()));
    if (after.size() != before.size())
        fail("%s: %d bytes became %d", what, int(before.size()), int(after.size()));
    for (int i = 0; i < before.size(); ++i) {
        const char expected = i == hybridMarkerOffset && reachable ? hybridMarker : before.at(i);
        if (after.at(i) != expected)
            fail("%s: byte %d changed from 0x%02x to 0x%02x", what, i, unsigned(uchar(before.at(i))),
                 unsigned(uchar(after.at(i))));
    }
}

// A limit small enough that anything the readers may allocate for an image
// within it stays far below the allocation bound checked around it.
constexpr qint64 smallLimit = 64 * 64;
constexpr size_t smallLimitAllocationBound = size_t(64) << 20;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzsupport::initialise(argc, argv);
    __sanitizer_install_malloc_and_free_hooks(&mallocHook, &freeHook);
    // No weights file: a null image and a message, whatever the image.
    QString error;
    const QImage none = decompressHybrid(fuzzsupport::scratchFile("missing.jpg"), &error,
                                         fuzzsupport::scratchFile("missing_weights.txt"));
    std::fputc('\n', stdout);
    if (!none.isNull() || error.isEmpty())
        fail("decompressHybrid without a weights file gave an image or no message");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    static const QList<float> weights = fuzzsupport::fixedWeights(64);
    const QByteArray data(reinterpret_cast<const char *>(bytes), int(size));
    const QString fileName = fuzzsupport::scratchFile("input.jpg");
    fuzzsupport::writeFile(fileName, data);

    // Recognition, from the file as Open image reads it.
    {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly))
            fail("cannot open the input file");
        const QByteArray line = readFirstLine(file);
        if (line != firstLineOf(data))
            fail("readFirstLine gave %d bytes, the first line has %d", int(line.size()),
                 int(firstLineOf(data).size()));
        const bool hybrid = line.size() >= 13 && line.at(12) == '\x04';
        if (isHybridJpeg(line) != hybrid)
            fail("isHybridJpeg says %d of a first line of %d bytes", int(!hybrid), int(line.size()));
    }

    // Marking in memory.
    {
        QByteArray marked = data;
        const bool done = markHybridJpegData(marked);
        checkMarked("markHybridJpegData", data, marked, done);
        if (done != isHybridJpeg(firstLineOf(marked)))
            fail("markHybridJpegData: marked %d, recognised %d", int(done), int(!done));
    }

    const QSize declared = readImageSize(fileName);

    // Within a small limit no reader may allocate an image beyond it.
    {
        QImage image;
        QString error;
        largestAllocation.store(0);
        watching.store(true);
        const bool read = readImageFile(fileName, image, &error, smallLimit);
        watching.store(false);
        if (largestAllocation.load() > smallLimitAllocationBound)
            fail("reading with a limit of %lld pixels allocated %zu bytes at once (declared %dx%d)",
                 (long long)smallLimit, largestAllocation.load(), declared.width(), declared.height());
        if (read && (image.isNull() || qint64(image.width()) * image.height() > smallLimit))
            fail("readImageFile with a limit of %lld pixels gave %dx%d", (long long)smallLimit, image.width(),
                 image.height());
        if (!read && (!image.isNull() || error.isEmpty()))
            fail("readImageFile failed without a message or left an image");
    }

    // The default limit.
    QImage image;
    QString error;
    const bool read = readImageFile(fileName, image, &error);
    if (read) {
        if (image.isNull() || qint64(image.width()) * image.height() > maxDecodedPixels)
            fail("readImageFile gave %dx%d", image.width(), image.height());
        if (data.startsWith("\xFF\xD8") && declared.isValid() && image.size() != declared)
            fail("a JPEG stream declaring %dx%d read as %dx%d", declared.width(), declared.height(), image.width(),
                 image.height());
    } else if (!image.isNull() || error.isEmpty()) {
        fail("readImageFile failed without a message or left an image");
    }

    // Hybrid decoding: twice the stored size, the stored image expanded as
    // the slow transform does it; a variant file to the source size its
    // segment records, with its parameters and weights, and only when the
    // segment passes its checks.
    const bool variant = hasVariantSegment(data);
    VariantSegment segment;
    QString segmentError;
    const bool validVariant = variant && parseVariantSegment(data, &segment, &segmentError);
    QList<float> table = weights;
    if (validVariant) {
        table.clear();
        for (const QPair<int, float> &entry : segment.entries) {
            while (table.size() <= entry.first)
                table.append(0.0f);
            table[entry.first] = entry.second;
        }
    }
    const QSize expectedSize = validVariant ? QSize(segment.sourceWidth, segment.sourceHeight) : image.size() * 2;
    QString decodeError;
    const QImage decoded = decompressHybrid(fileName, weights, &decodeError);
    if (decoded.isNull()) {
        if (decodeError.isEmpty())
            fail("decompressHybrid failed without a message");
    } else {
        if (!read)
            fail("decompressHybrid decoded a file that readImageFile refused: %s", qPrintable(error));
        if (variant && !validVariant)
            fail("decompressHybrid decoded a file whose variant segment is refused: %s", qPrintable(segmentError));
        if (decoded.size() != expectedSize)
            fail("decompressHybrid gave %dx%d for a stored %dx%d", decoded.width(), decoded.height(), image.width(),
                 image.height());
        if (qint64(decoded.width()) * decoded.height() > maxDecodedPixels)
            fail("decompressHybrid gave %dx%d, beyond the limit", decoded.width(), decoded.height());
        if (qint64(decoded.width()) * decoded.height() <= 96 * 96) {
            const QImage expected = validVariant
                ? referenceInverseFTransform(image, decoded.width(), decoded.height(), segment.step,
                                             segment.reconstructRadius, table)
                : referenceInverseFTransform(image, decoded.width(), decoded.height(), 2, 1, weights);
            const QString difference = firstPixelDifference(decoded.convertToFormat(QImage::Format_ARGB32), expected);
            if (!difference.isEmpty() || decoded.format() != QImage::Format_ARGB32)
                fail("decompressHybrid of a %dx%d image (format %d) differs from the reference at %s",
                     image.width(), image.height(), int(image.format()), qPrintable(difference));
        }
    }

    // Marking the file on disk.
    markHybridJpeg(fileName);
    const QByteArray after = fuzzsupport::readFile(fileName);
    checkMarked("markHybridJpeg", data, after, firstLineOf(data).size() > hybridMarkerOffset);
    return 0;
}
