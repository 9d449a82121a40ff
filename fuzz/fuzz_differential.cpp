// Arbitrary bytes as the input of "ftjpeg direct", "compress" and
// "decompress", through both of their paths: the streamed one (rows read by
// the PPM, PNG and JPEG row readers, decoded ahead for decompress) and the
// in-memory one (readImageFile and the QImage codec). Where the streamed
// path takes the input on, the two either both refuse it, with the same
// message, or both succeed with byte-identical files; a refusal leaves no
// file behind. Where it leaves the input to the in-memory path, it must have
// written nothing. Images whose header claims more than a few megapixels are
// skipped, so that every input decodes within the time limit.

#include "fuzzsupport.h"
#include "codec/qimage/directtransform.h"
#include "codec/qimage/hybridjpeg.h"
#include "codec/format/hybridmarker.h"
#include "codec/qimage/imagefile.h"
#include "codec/transform/kernel.h"
#include "codec/streaming/streamingcodec.h"
#include "codec/format/variantsegment.h"

#include <QFile>
#include <QImage>
#include <QList>
#include <QSize>

#include <cstdint>

using namespace veltrano;

using fuzzsupport::fail;

namespace {

const char *outcomeName(StreamOutcome outcome)
{
    switch (outcome) {
    case StreamOutcome::Done:
        return "done";
    case StreamOutcome::Failed:
        return "failed";
    case StreamOutcome::NotStreamed:
        break;
    }
    return "not streamed";
}

// The in-memory path's result: the file's bytes, or its error.
struct Result
{
    QByteArray bytes;
    QString error;
    bool ok() const { return error.isEmpty(); }
};

// Refusals only the in-memory path makes: its pixel limit and the memory
// a whole image needs. The streamed path is not bound by them.
bool inMemoryLimit(const QString &error)
{
    return error.contains(QLatin1String("is too large (at most")) || error.contains(QLatin1String("not enough memory"))
        || error.contains(QLatin1String("would expand to"));
}

void compare(const char *command, StreamOutcome streamed, const QString &streamError, const QString &streamOutput,
             const Result &inMemory)
{
    const bool written = QFile::exists(streamOutput);
    if (streamed != StreamOutcome::Done && written)
        fail("%s: the streamed path answered '%s' and left %s", command, outcomeName(streamed),
             qPrintable(streamOutput));
    if (streamed == StreamOutcome::NotStreamed)
        return;
    if (!inMemory.ok() && inMemoryLimit(inMemory.error))
        return;
    if (streamed == StreamOutcome::Done) {
        if (!inMemory.ok())
            fail("%s: streamed accepted what the in-memory path refuses: %s", command, qPrintable(inMemory.error));
        if (fuzzsupport::readFile(streamOutput) != inMemory.bytes)
            fail("%s: the streamed and in-memory outputs differ", command);
        return;
    }
    if (inMemory.ok())
        fail("%s: streamed refused what the in-memory path accepts: %s", command, qPrintable(streamError));
    if (streamError != inMemory.error)
        fail("%s: streamed refused with \"%s\", in memory with \"%s\"", command, qPrintable(streamError),
             qPrintable(inMemory.error));
}

Result directInMemory(const QString &input, const QString &output)
{
    Result result;
    QImage image;
    if (!readImageFile(input, image, &result.error))
        return result;
    if (image.width() < 2 || image.height() < 2) {
        result.error = QStringLiteral("too small");
        return result;
    }
    const QImage components = directFTransform(image, 2, makeRaisedCosineKernel(2));
    if (!writeImageFile(output, components, "ppm", -1, &result.error))
        return result;
    result.bytes = fuzzsupport::readFile(output);
    return result;
}

Result compressInMemory(const QString &input, const QList<float> &weights)
{
    Result result;
    QImage image;
    if (!readImageFile(input, image, &result.error))
        return result;
    if (!hybridWeightsSuffice(weights, image.width(), image.height(), &result.error))
        return result;
    result.bytes = encodeHybridJpeg(image, 70, &result.error);
    if (result.bytes.isEmpty() && result.error.isEmpty())
        result.error = QStringLiteral("no file");
    return result;
}

Result decompressInMemory(const QString &input, const QString &output, const QList<float> &weights)
{
    Result result;
    const QImage decoded = decompressHybrid(input, weights, &result.error);
    if (decoded.isNull()) {
        if (result.error.isEmpty())
            result.error = QStringLiteral("no image");
        return result;
    }
    if (!writeImageFile(output, decoded, "ppm", -1, &result.error))
        return result;
    result.bytes = fuzzsupport::readFile(output);
    return result;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzsupport::initialise(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    static const QList<float> weights = fuzzsupport::fixedWeights(64);
    const QByteArray data(reinterpret_cast<const char *>(bytes), int(size));
    const QString input = fuzzsupport::scratchFile("input");
    const QString streamed = fuzzsupport::scratchFile("streamed.out");
    const QString inMemory = fuzzsupport::scratchFile("inmemory.ppm");
    fuzzsupport::writeFile(input, data);
    const QSize declared = readImageSize(input);
    if (declared.isValid() && qint64(declared.width()) * declared.height() > (qint64(1) << 22))
        return 0;

    QString error;
    QFile::remove(streamed);
    StreamOutcome outcome = streamDirectTransform(input, streamed, "ppm", 2, makeRaisedCosineKernel(2), &error);
    compare("direct", outcome, error, streamed, directInMemory(input, inMemory));

    error.clear();
    QFile::remove(streamed);
    qint64 pixels = 0;
    qint64 written = 0;
    outcome = streamHybridCompress(input, streamed, 70, weights, &pixels, &written, &error);
    compare("compress", outcome, error, streamed, compressInMemory(input, weights));

    // decompress takes marked classic files only (a variant file has its own
    // decoder, in memory).
    QFile file(input);
    if (file.open(QIODevice::ReadOnly) && isHybridJpegData(readFirstLine(file))
        && !isHybridVariantFile(input)) {
        error.clear();
        QFile::remove(streamed);
        outcome = streamHybridDecompress(input, streamed, "ppm", weights, &error);
        compare("decompress", outcome, error, streamed, decompressInMemory(input, inMemory, weights));
    }
    QFile::remove(streamed);
    QFile::remove(inMemory);
    return 0;
}
