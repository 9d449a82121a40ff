// ftjpeg fit-weights: the reconstruction weights that minimise the error of
// the decoded images of a corpus, for one variant of the hybrid scheme.

#include "tools/ftjpeg/cli.h"
#include "tools/ftjpeg/imageinputs.h"
#include "tools/ftjpeg/subcommand.h"
#include "tools/ftjpeg/subcommandparser.h"
#include "tools/ftjpeg/variantcommands.h"

#include "codec/qimage/hybridvariant.h"
#include "metrics/imagemetrics.h"
#include "codec/qimage/imagefile.h"
#include "codec/qimage/inversetransform.h"
#include "codec/qimage/weightfit.h"
#include "codec/transform/weightsfile.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>

#include <climits>
#include <cmath>
#include <cstdio>

namespace veltrano {

namespace {

QString decibels(double value)
{
    return std::isfinite(value) ? QString::number(value, 'f', 3) + QStringLiteral(" dB") : QStringLiteral("inf");
}

// The components of a variant file as the decoder reads them.
bool decodedComponents(const QByteArray &data, QImage *components)
{
    QByteArray copy = data;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    return reader.read(components);
}

int runFitWeights(const QStringList &arguments)
{
    SubcommandParser parser(
        arguments,
        QStringLiteral("Fits the reconstruction weights of a hybrid variant to a corpus: the table entries the "
                       "expansion uses that minimise the mean squared error of the decoded images (components "
                       "through JPEG at the given quality), starting from the weights file. Writes the whole "
                       "table, fitted entries in place, to --out and prints the PSNR with the start and the "
                       "fitted table, on the images fitted and on the last K images of the corpus, which "
                       "--holdout leaves out of the fit. Beside the table, FILE.provenance records the options and "
                       "the images (SHA-256 and path) fitted on and held out; ftjpeg rd reads it and marks the "
                       "images a scheme's table was fitted on. Quote a fitted result on held-out images only."));
    parser.addPositional(QStringLiteral("CORPUS"), QStringLiteral("Images, or folders of images."),
                         QStringLiteral("CORPUS..."));
    // --optimize and --progressive are taken too, so that a variant's
    // options can be given unchanged; they do not change decoded pixels.
    const VariantOptions variantOptions(parser);
    const QCommandLineOption qualityOption = parser.addOption(
        QStringLiteral("quality"), QStringLiteral("JPEG quality of the components (default 70)."), QStringLiteral("Q"));
    const QCommandLineOption holdoutOption =
        parser.addOption(QStringLiteral("holdout"), QStringLiteral("Leave the last K images out of the fit (default 0)."),
                         QStringLiteral("K"));
    const QCommandLineOption weightsOption =
        parser.addOption(QStringLiteral("weights"), QStringLiteral("Start table (default weights_out.txt)."),
                         QStringLiteral("FILE"), QStringLiteral("weights_out.txt"));
    const QCommandLineOption outOption =
        parser.addOption(QStringLiteral("out"), QStringLiteral("The weights file to write (required)."),
                         QStringLiteral("FILE"));

    int status = ExitSuccess;
    if (!parser.parse(1, INT_MAX, &status))
        return status;
    HybridVariant variant;
    if (!readVariantOptions(variantOptions, parser, &variant, &status))
        return status;
    int quality = 70;
    int holdout = 0;
    if (!parser.integer(qualityOption, 0, 100, &quality, &status)
        || !parser.integer(holdoutOption, 0, INT_MAX, &holdout, &status))
        return status;
    if (!parser.isSet(outOption))
        return parser.usageError(QStringLiteral("--out FILE is required"));
    const QString outFile = parser.value(outOption);
    const QStringList files = imageInputs(parser.positional());
    if (files.size() <= holdout)
        return parser.usageError(QStringLiteral("the corpus has %1 image%2, so --holdout %3 leaves none to fit")
                                       .arg(files.size())
                                       .arg(files.size() == 1 ? QString() : QStringLiteral("s"))
                                       .arg(holdout));

    const QString weightsFile = parser.value(weightsOption);
    QList<float> start;
    QString error;
    if (!loadWeightsTable(weightsFile, start, &error))
        return failure(error);

    QList<WeightFitSample> fitted;
    QList<WeightFitSample> held;
    for (int i = 0; i < files.size(); ++i) {
        QImage source;
        if (!readImageFile(files.at(i), source, &error))
            return failure(error);
        const int needed =
            requiredWeightCount(source.width(), source.height(), variant.step, variant.reconstructRadius);
        if (start.size() < needed)
            return failure(shortWeightsTableMessage(weightsFile, start.size(), needed, variant.step,
                                                    variant.reconstructRadius));
        const QByteArray data = encodeHybridVariant(source, quality, variant, start, &error);
        QImage components;
        if (data.isEmpty() || !decodedComponents(data, &components))
            return failure(QStringLiteral("cannot compress %1: %2").arg(displayName(files.at(i)), error));
        (i < files.size() - holdout ? fitted : held).append({components, source});
    }

    const WeightFitResult result =
        fitReconstructionWeights(fitted, variant.step, variant.reconstructRadius, start, 1500, &error, variant.clamp);
    if (result.startMse < 0)
        return failure(error);
    QByteArray text;
    for (float weight : result.weights)
        text += QByteArray::number(double(weight), 'g', 9) + '\n';
    if (!writeFileAtomically(outFile, text, &error))
        return failure(error);
    WeightFitProvenance provenance;
    provenance.options = QStringLiteral("--step %1 --kernel-radius %2 --reconstruct-radius %3 --chroma %4%5 "
                                        "--quality %6 --holdout %7 --weights %8")
                             .arg(variant.step)
                             .arg(variant.kernelRadius)
                             .arg(variant.reconstructRadius)
                             .arg(variant.chroma444 ? 444 : 420)
                             .arg(variant.clamp ? QStringLiteral(" --clamp") : QString())
                             .arg(quality)
                             .arg(holdout)
                             .arg(weightsFile);
    for (int i = 0; i < files.size(); ++i)
        (i < files.size() - holdout ? provenance.fitted : provenance.heldOut)
            .append({fileDigest(files.at(i)), files.at(i)});
    if (!writeFileAtomically(weightFitProvenanceFile(outFile), serializeWeightFitProvenance(provenance), &error))
        return failure(error);

    const double startPsnr = psnrFromMse(result.startMse);
    const double fittedPsnr = psnrFromMse(result.fittedMse);
    std::printf("fitted on %d image%s: PSNR %s with %s, %s fitted (%+.3f dB), %d expansions of the corpus\n",
                int(fitted.size()), fitted.size() == 1 ? "" : "s", qPrintable(decibels(startPsnr)),
                qPrintable(displayName(weightsFile)), qPrintable(decibels(fittedPsnr)), fittedPsnr - startPsnr,
                result.evaluations);
    if (!held.isEmpty()) {
        const double before = psnrFromMse(
            reconstructionMse(held, variant.step, variant.reconstructRadius, start, nullptr, variant.clamp));
        const double after = psnrFromMse(
            reconstructionMse(held, variant.step, variant.reconstructRadius, result.weights, nullptr, variant.clamp));
        std::printf("held out %d image%s: PSNR %s with %s, %s fitted (%+.3f dB)\n", int(held.size()),
                    held.size() == 1 ? "" : "s", qPrintable(decibels(before)), qPrintable(displayName(weightsFile)),
                    qPrintable(decibels(after)), after - before);
    }
    QStringList entries;
    for (int index : result.fittedIndexes)
        entries << QStringLiteral("%1=%2").arg(index).arg(double(result.weights.at(index)), 0, 'g', 9);
    if (result.fittedIndexes.size() == result.heldIndexes.size())
        std::printf("nothing to fit: with step %d and radius %d each entry is the only one of its "
                    "distance class, and its value cancels in the normalised sum\n",
                    variant.step, variant.reconstructRadius);
    std::printf("entries: %s\n", qPrintable(entries.join(QLatin1Char(' '))));
    std::fflush(stdout);
    return ExitSuccess;
}

} // namespace

// The name has a hyphen, so it is registered without the macro.
static const SubcommandRegistration registration_fitWeights(
    Subcommand{"fit-weights", "fit the reconstruction weights of a hybrid variant to a corpus", runFitWeights, false});

} // namespace veltrano
