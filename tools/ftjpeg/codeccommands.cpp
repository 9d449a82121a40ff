// The codec subcommands of ftjpeg: direct, inverse, compress and
// decompress. Each writes every output through a temporary file that
// replaces the target only when complete, so a failed run leaves no partial
// file and keeps earlier ones. They stream the images row by row where the
// formats allow (streamingcodec.h), in memory that grows with the width
// only, and otherwise leave the work to their in-memory halves
// (inmemorycodec.h). This file needs QtCore only: the front end that starts
// ftjpeg runs it too.

#include "tools/ftjpeg/cli.h"
#include "tools/ftjpeg/inmemorycodec.h"
#include "tools/ftjpeg/outputfiles.h"
#include "tools/ftjpeg/subcommand.h"
#include "tools/ftjpeg/subcommandparser.h"
#include "tools/ftjpeg/variantoptions.h"

#include "codec/format/bitrate.h"
#include "codec/format/hybridmarker.h"
#include "codec/format/imageheader.h"
#include "codec/rowio/imagerowwriter.h"
#include "codec/transform/kernel.h"
#include "codec/transform/rowtransforms.h"
#include "codec/streaming/streamingcodec.h"
#include "codec/format/variantsegment.h"
#include "codec/transform/weightsfile.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/stat.h>
#include <cstdio>

namespace veltrano {

// The image format of an output file, from its suffix; empty when the
// suffix names no format ftjpeg writes.
QByteArray outputFormat(const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("png") || suffix == QLatin1String("bmp") || suffix == QLatin1String("ppm"))
        return suffix.toLatin1();
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return QByteArrayLiteral("jpg");
    return QByteArray();
}

bool knownOutputFormat(const QString &fileName, const SubcommandParser &parser, QByteArray *format, int *status)
{
    *format = outputFormat(fileName);
    if (format->isEmpty()) {
        *status = parser.usageError(QStringLiteral("cannot tell the image format of %1 from its suffix "
                                                   "(use .png, .bmp, .ppm or .jpg)")
                                        .arg(displayName(fileName)));
        return false;
    }
    return true;
}

// Whether two names are one file: the same device and inode when both
// exist (a hard link, a symbolic link or another spelling of the path), the
// same absolute path otherwise.
bool sameFile(const QString &a, const QString &b)
{
    struct stat first;
    struct stat second;
    if (::stat(QFile::encodeName(a).constData(), &first) == 0
        && ::stat(QFile::encodeName(b).constData(), &second) == 0)
        return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

// Refuses, as a usage error, an output that is one of the run's inputs: it
// would be replaced by what was made from it.
bool outputIsNoInput(const SubcommandParser &parser, const QString &output, const QStringList &inputs, int *status)
{
    for (const QString &input : inputs) {
        if (sameFile(output, input)) {
            *status = parser.usageError(QStringLiteral("the output %1 is the input %2 of this run")
                                            .arg(displayName(output), displayName(input)));
            return false;
        }
    }
    return true;
}

namespace {

// Whether a streamed operation settled the command, with *status its exit
// status (a failure reported); false when it left the work to the in-memory
// path.
bool streamSettled(StreamOutcome outcome, const QString &error, int *status)
{
    switch (outcome) {
    case StreamOutcome::Done:
        *status = ExitSuccess;
        return true;
    case StreamOutcome::Failed:
        *status = failure(error);
        return true;
    case StreamOutcome::NotStreamed:
        break;
    }
    return false;
}

// Node spacings and radii beyond this are refused as usage errors: they make
// no sense for any image that can be read, and a kernel of that many
// coefficients would not fit in memory.
constexpr int maxGeometry = maxTransformStep;

const char defaultWeightsFile[] = "weights_out.txt";


// The weights table of a file, quietly: the caller reports a failure.
bool readWeights(const QString &fileName, QList<float> &weights, QString *error)
{
    return loadWeightsTable(fileName, weights, error);
}

QCommandLineOption addWeightsOption(SubcommandParser &parser)
{
    return parser.addOption(QStringLiteral("weights"), QStringLiteral("Weights file (default weights_out.txt)."),
                            QStringLiteral("FILE"), QString::fromLatin1(defaultWeightsFile));
}

// Whether the file holds a JPEG stream marked as hybrid.
bool isHybridFile(const QString &fileName, QString *error)
{
    if (!isRegularFile(fileName, error))
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open %1: %2").arg(displayName(fileName), file.errorString());
        return false;
    }
    return isHybridJpegData(readFirstLine(file));
}

int runDirect(const QStringList &arguments)
{
    SubcommandParser parser(
        arguments,
        QStringLiteral("Writes the component image of IN (the direct F-transform with a raised-cosine kernel) "
                       "to OUT, in the format of OUT's suffix (png, bmp, ppm, jpg)."));
    parser.addPositional(QStringLiteral("IN"), QStringLiteral("The image to transform."));
    parser.addPositional(QStringLiteral("OUT"), QStringLiteral("The component image to write."));
    const QCommandLineOption stepOption =
        parser.addOption(QStringLiteral("step"), QStringLiteral("Node spacing (default 2)."), QStringLiteral("H"));
    const QCommandLineOption radiusOption =
        parser.addOption(QStringLiteral("radius"), QStringLiteral("Kernel radius (default 2)."), QStringLiteral("N"));

    int status = ExitSuccess;
    if (!parser.parse(2, 2, &status))
        return status;
    int step = 2;
    int radius = 2;
    if (!parser.integer(stepOption, 1, maxGeometry, &step, &status)
        || !parser.integer(radiusOption, 1, maxGeometry, &radius, &status))
        return status;
    const QString input = parser.positional().at(0);
    const QString output = parser.positional().at(1);
    QByteArray format;
    if (!knownOutputFormat(output, parser, &format, &status))
        return status;

    if (!outputIsNoInput(parser, output, QStringList{input}, &status))
        return status;
    QString error;
    if (streamSettled(streamDirectTransform(input, output, format, step, makeRaisedCosineKernel(radius), &error),
                      error, &status))
        return status;
    return directInMemory(input, output, format, step, radius);
}

int runInverse(const QStringList &arguments)
{
    SubcommandParser parser(
        arguments,
        QStringLiteral("Expands the component image IN by the inverse F-transform to an image of the given size "
                       "and writes it to OUT, in the format of OUT's suffix (png, bmp, ppm, jpg)."));
    parser.addPositional(QStringLiteral("IN"), QStringLiteral("The component image."));
    parser.addPositional(QStringLiteral("OUT"), QStringLiteral("The expanded image to write."));
    const QCommandLineOption sizeOption = parser.addOption(
        QStringLiteral("size"), QStringLiteral("Size of the output (required)."), QStringLiteral("WxH"));
    const QCommandLineOption stepOption =
        parser.addOption(QStringLiteral("step"), QStringLiteral("Node spacing (default 2)."), QStringLiteral("H"));
    const QCommandLineOption radiusOption = parser.addOption(
        QStringLiteral("radius"), QStringLiteral("Reconstruction radius (default 1)."), QStringLiteral("R"));
    const QCommandLineOption weightsOption = addWeightsOption(parser);

    int status = ExitSuccess;
    if (!parser.parse(2, 2, &status))
        return status;
    int step = 2;
    int radius = 1;
    if (!parser.integer(stepOption, 1, maxGeometry, &step, &status)
        || !parser.integer(radiusOption, 0, maxGeometry, &radius, &status))
        return status;
    if (!parser.isSet(sizeOption))
        return parser.usageError(QStringLiteral("--size WxH is required"));
    const QString sizeValue = parser.value(sizeOption);
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^([0-9]+)x([0-9]+)$")).match(sizeValue);
    bool widthOk = false;
    bool heightOk = false;
    const int width = match.hasMatch() ? match.captured(1).toInt(&widthOk) : 0;
    const int height = match.hasMatch() ? match.captured(2).toInt(&heightOk) : 0;
    const QString input = parser.positional().at(0);
    const QString output = parser.positional().at(1);
    QByteArray format;
    if (!knownOutputFormat(output, parser, &format, &status))
        return status;
    // Formats written row by row take any size the format holds; the others
    // are made in memory, within its limit.
    const bool withinMemoryLimit = qint64(width) * qint64(height) <= maxDecodedPixels;
    if (!widthOk || !heightOk || width < 1 || height < 1 || (!withinMemoryLimit && !ImageRowWriter::handles(format)))
        return parser.usageError(QStringLiteral("--size must be WIDTHxHEIGHT, both positive and at most %1 "
                                                "pixels in all, not '%2'")
                                     .arg(maxDecodedPixels)
                                     .arg(sizeValue));

    if (!outputIsNoInput(parser, output, QStringList{input, parser.value(weightsOption)}, &status))
        return status;
    const QString weightsFile = parser.value(weightsOption);
    QList<float> weights;
    QString error;
    if (!readWeights(weightsFile, weights, &error))
        return failure(error);
    const int needed = requiredWeightCount(width, height, step, radius);
    if (weights.size() < needed)
        return failure(shortWeightsTableMessage(weightsFile, weights.size(), needed, step, radius));
    if (streamSettled(streamInverseTransform(input, output, format, width, height, step, radius, weights, &error),
                      error, &status))
        return status;
    return inverseInMemory(input, output, format, width, height, step, radius, weights, withinMemoryLimit);
}

int runCompress(const QStringList &arguments)
{
    SubcommandParser parser(
        arguments,
        QStringLiteral("Writes the hybrid JPEG file of IN: its component image (node spacing 2, kernel radius 2) "
                       "as a JPEG at the given quality, marked as hybrid. Prints the file's bits per pixel "
                       "relative to IN. Any of --step, --kernel-radius, --reconstruct-radius, --optimize, "
                       "--progressive, --chroma and --clamp makes a variant file instead, which records the source size, "
                       "its parameters and weights, and decodes without a weights file."));
    parser.addPositional(QStringLiteral("IN"), QStringLiteral("The image to compress."));
    parser.addPositional(QStringLiteral("OUT.jpg"), QStringLiteral("The hybrid JPEG file to write."));
    const QCommandLineOption qualityOption =
        parser.addOption(QStringLiteral("quality"),
                         QStringLiteral("JPEG quality of the components, 0 to 100 (default 70)."), QStringLiteral("Q"));
    const QCommandLineOption weightsOption = addWeightsOption(parser);
    const QCommandLineOption decodedOption = parser.addOption(
        QStringLiteral("decoded"),
        QStringLiteral("Also write the image decoded back at IN's size, in the format of FILE's suffix."),
        QStringLiteral("FILE"));
    const VariantOptions variantOptions(parser);

    int status = ExitSuccess;
    if (!parser.parse(2, 2, &status))
        return status;
    int quality = 70;
    if (!parser.integer(qualityOption, 0, 100, &quality, &status))
        return status;
    const QString input = parser.positional().at(0);
    const QString output = parser.positional().at(1);
    if (outputFormat(output) != "jpg")
        return parser.usageError(
            QStringLiteral("the hybrid file %1 must be named .jpg or .jpeg").arg(displayName(output)));
    const QString decodedFile = parser.value(decodedOption);
    QByteArray decodedFormat;
    if (parser.isSet(decodedOption)) {
        if (!knownOutputFormat(decodedFile, parser, &decodedFormat, &status))
            return status;
        if (sameFile(decodedFile, output))
            return parser.usageError(
                QStringLiteral("--decoded names the hybrid file %1 itself").arg(displayName(output)));
    }
    if (variantOptions.requested(parser))
        return compressVariantInMemory(parser, variantOptions, input, output, quality, parser.value(weightsOption),
                                       decodedFile, decodedFormat);

    if (!outputIsNoInput(parser, output, QStringList{input, parser.value(weightsOption)}, &status))
        return status;
    if (parser.isSet(decodedOption)
        && !outputIsNoInput(parser, decodedFile, QStringList{input, parser.value(weightsOption)}, &status))
        return status;
    const QString weightsFile = parser.value(weightsOption);
    QList<float> weights;
    QString error;
    if (!readWeights(weightsFile, weights, &error))
        return failure(error);
    if (!parser.isSet(decodedOption)) {
        qint64 pixels = 0;
        qint64 bytes = 0;
        const StreamOutcome outcome = streamHybridCompress(input, output, quality, weights, &pixels, &bytes, &error);
        if (outcome == StreamOutcome::Done)
            std::printf("%s\n", qPrintable(QString::number(bitsPerPixel(bytes, pixels), 'g', 6)));
        if (streamSettled(outcome, error, &status))
            return status;
    }
    return compressInMemory(input, output, quality, weights, weightsFile, decodedFile, decodedFormat);
}

int runDecompress(const QStringList &arguments)
{
    SubcommandParser parser(
        arguments,
        QStringLiteral("Decodes the hybrid JPEG file IN to twice its component size (a variant file to its "
                       "source size, with the weights it records) and writes the image to OUT, "
                       "in the format of OUT's suffix (png, bmp, ppm, jpg)."));
    parser.addPositional(QStringLiteral("IN.jpg"), QStringLiteral("The hybrid JPEG file."));
    parser.addPositional(QStringLiteral("OUT"), QStringLiteral("The decoded image to write."));
    const QCommandLineOption weightsOption = addWeightsOption(parser);

    int status = ExitSuccess;
    if (!parser.parse(2, 2, &status))
        return status;
    const QString input = parser.positional().at(0);
    const QString output = parser.positional().at(1);
    QByteArray format;
    if (!knownOutputFormat(output, parser, &format, &status))
        return status;

    if (!outputIsNoInput(parser, output, QStringList{input, parser.value(weightsOption)}, &status))
        return status;
    QString error;
    if (!isHybridFile(input, &error))
        return failure(error.isEmpty() ? QStringLiteral("%1 is not a hybrid JPEG file (open it as a plain image)")
                                             .arg(displayName(input))
                                       : error);
    // A variant file records its weights; a classic one needs the table.
    if (isHybridVariantFile(input))
        return decompressVariantInMemory(input, output, format);
    const QString weightsFile = parser.value(weightsOption);
    QList<float> weights;
    if (!readWeights(weightsFile, weights, &error))
        return failure(error);
    if (streamSettled(streamHybridDecompress(input, output, format, weights, &error), error, &status))
        return status;
    return decompressInMemory(input, output, format, weights, weightsFile);
}

} // namespace

REGISTER_SUBCOMMAND(direct, "component image of an image (direct F-transform)", runDirect);
REGISTER_SUBCOMMAND(inverse, "expand a component image (inverse F-transform)", runInverse);
REGISTER_SUBCOMMAND(compress, "write the hybrid JPEG file of an image", runCompress);
REGISTER_SUBCOMMAND(decompress, "decode a hybrid JPEG file", runDecompress);

} // namespace veltrano

