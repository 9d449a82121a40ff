// ftjpeg rd: the rate-distortion study of the hybrid scheme against plain
// JPEG and the other anchors over a set of images, and the merge of the
// outputs of shards.

#include "tools/ftjpeg/cli.h"
#include "tools/ftjpeg/imageinputs.h"
#include "tools/ftjpeg/subcommand.h"
#include "tools/ftjpeg/subcommandparser.h"

#include "study/rdcommandscheme.h"
#include "study/rdoutput.h"
#include "study/rdoutputfolder.h"
#include "study/rdprogress.h"
#include "study/rdresamplescheme.h"
#include "study/rdrunner.h"
#include "study/rdscheme.h"
#include "study/rdvariantscheme.h"
#include "study/rdviewer.h"
#include "study/rdsummary.h"
#include "study/codecs/module/studycodecs.h"
#include "codec/qimage/weightfit.h"
#include "codec/transform/weightsfile.h"
#include "experiments/workdirgenerator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace veltrano {

namespace {

bool parseShard(const QString &text, int *index, int *count)
{
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("^([0-9]{1,6})/([0-9]{1,6})$")).match(text);
    if (!match.hasMatch())
        return false;
    *index = match.captured(1).toInt();
    *count = match.captured(2).toInt();
    return *count >= 1 && *index < *count;
}

QString percentText(double value, const QString &unit)
{
    if (!std::isfinite(value))
        return QStringLiteral("not computable");
    return (value > 0 ? QStringLiteral("+") : QString()) + QString::number(value, 'f', 2) + unit;
}

// Writes the outputs and says on standard output where they are.
// The folder is written whole in a new folder and then swapped in.
int finish(const RdStudy &study, const QString &outDirectory, RdOutputFolder &folder, bool viewer)
{
    QString error;
    if (!RdOutput::writeStudy(study, folder.stagingPath(), &error, viewer) || !folder.commit(&error))
        return failure(error);
    const RdSummary summary = summarizeStudy(study);
    std::printf("%s: %d image%s measured, %d skipped; hybrid against JPEG: BD-rate %s, BD-PSNR %s\n",
                qPrintable(QDir::toNativeSeparators(QDir(outDirectory).filePath(QStringLiteral("report.html")))),
                int(study.images.size()), study.images.size() == 1 ? "" : "s", int(study.skipped.size()),
                qPrintable(percentText(summary.meanRatePercent, QStringLiteral(" %"))),
                qPrintable(percentText(summary.meanPsnr, QStringLiteral(" dB"))));
    for (int t = 0; t < summary.tested.size(); ++t) {
        const MeanInterval &rate = summary.hullMeans[t].schemeRate;
        std::printf("%s against the hull of jpeg-opt and its matched ablations: BD-rate %s (95 %% interval %s to "
                    "%s over %d image%s)\n",
                    qPrintable(summary.tested[t]), qPrintable(percentText(rate.mean, QStringLiteral(" %"))),
                    qPrintable(percentText(rate.low, QStringLiteral(" %"))),
                    qPrintable(percentText(rate.high, QStringLiteral(" %"))), rate.count, rate.count == 1 ? "" : "s");
    }
    std::fflush(stdout);
    if (study.images.isEmpty())
        return failure(QStringLiteral("no image could be measured"));
    return ExitSuccess;
}

// The measured images each scheme's weights table was fitted on, as the
// table's provenance sidecar records them (by the SHA-256 of the file), in
// image order, then scheme order; says on standard error how many.
bool markFittedImages(RdStudy *study, const QVector<RdInput> &inputs, const QVector<RdScheme> &schemes,
                      const QVector<RdVariantSpec> &variants, const QString &studyWeightsFile, QString *error)
{
    error->clear();
    QHash<QString, QSet<QString>> fittedDigests; // scheme -> digests
    for (const RdScheme &scheme : schemes) {
        QString table;
        if (scheme.name == hybridScheme())
            table = studyWeightsFile;
        for (const RdVariantSpec &variant : variants)
            if (variant.name == scheme.name)
                table = variant.weightsFile.isEmpty() ? studyWeightsFile : variant.weightsFile;
        WeightFitProvenance provenance;
        if (table.isEmpty() || !readWeightFitProvenance(table, &provenance, error)) {
            if (!error->isEmpty())
                return false;
            continue;
        }
        for (const WeightFitImage &image : provenance.fitted)
            fittedDigests[scheme.name].insert(image.digest);
    }
    if (fittedDigests.isEmpty())
        return true;
    QHash<QString, int> counts;
    for (const RdImageResult &image : study->images) {
        QString digest;
        for (const RdInput &input : inputs)
            if (input.index == image.index)
                digest = fileDigest(input.fileName);
        for (const RdScheme &scheme : schemes)
            if (fittedDigests.value(scheme.name).contains(digest)) {
                study->fitted.append(RdFittedImage{scheme.name, image.index, image.image});
                ++counts[scheme.name];
            }
    }
    for (const RdScheme &scheme : schemes)
        if (counts.value(scheme.name) > 0)
            printError(QStringLiteral("note: the weights of %1 were fitted on %2 of the images measured (marked in "
                                      "the report); quote fitted results on images held out of the fit")
                           .arg(scheme.name)
                           .arg(counts.value(scheme.name)));
    return true;
}

int runRd(const QStringList &arguments)
{
    SubcommandParser parser(arguments, QStringLiteral(
        "Rate-distortion study of the hybrid scheme against plain JPEG and other anchors: each image with every "
        "scheme at each of its settings (JPEG and hybrid qualities 0, 5, ..., 100), with size, bits per pixel, "
        "PSNR, SSIM, windowed SSIM, MS-SSIM, Butteraugli, times and header bytes per point. Every F-transform "
        "scheme is measured beside its matched ablations (the same node spacing and JPEG coding with "
        "resampling in place of the F-transform) and against the hull of jpeg-opt and those. Writes points.csv, "
        "summary.csv (BD-rate and BD-PSNR of hybrid against every other scheme, on PSNR and SSIM, crossovers, "
        "bootstrap intervals, and each F-transform scheme against its hull), "
        "skipped.csv, shards.csv, a plot per image, plot-average.png and report.html to the output folder; with "
        "--view also viewer.html and the decoded images in view/.\n"
        "With --merge, the arguments are output folders of shards, combined into one report."));
    parser.addPositional(QStringLiteral("IMAGE_OR_DIR"),
                         QStringLiteral("Image files, or folders whose images (png, jpg, jpeg, bmp, ppm, pgm), "
                                        "subfolders included, are taken in path order; output folders with "
                                        "--merge."),
                         QStringLiteral("IMAGE_OR_DIR..."));
    const QCommandLineOption outOption =
        parser.addOption(QStringLiteral("out"), QStringLiteral("Output folder (default rd)."), QStringLiteral("DIR"),
                         QStringLiteral("rd"));
    const QCommandLineOption jobsOption =
        parser.addOption(QStringLiteral("jobs"),
                         QStringLiteral("Points measured at the same time (default: the number of "
                                        "cores)."),
                         QStringLiteral("N"));
    const QCommandLineOption shardOption =
        parser.addOption(QStringLiteral("shard"),
                         QStringLiteral("Measure only every N-th image of the input list, starting "
                                        "at image K (0 <= K < N)."),
                         QStringLiteral("K/N"));
    const QCommandLineOption mergeOption =
        parser.addOption(QStringLiteral("merge"), QStringLiteral("Merge the output folders given as arguments."));
    const QCommandLineOption weightsOption =
        parser.addOption(QStringLiteral("weights"),
                         QStringLiteral("Weights file (default weights_out.txt, or the table "
                                        "'ftjpeg workdir' writes when there is none here)."),
                         QStringLiteral("FILE"));
    const QCommandLineOption schemesOption =
        parser.addOption(QStringLiteral("schemes"),
                         QStringLiteral("Comma-separated schemes to measure, in this order (default all: %1).")
                             .arg(rdStandardSchemeNames().join(QStringLiteral(", "))),
                         QStringLiteral("LIST"));
    const QCommandLineOption hybridOption =
        parser.addOption(QStringLiteral("hybrid"),
                         QStringLiteral("Add a hybrid variant as a scheme named hybrid:SPEC (repeatable); SPEC is "
                                        "comma-separated step=H, kradius=N, rradius=R, weights=FILE, "
                                        "chroma=420|444, optimize, progressive, clamp."),
                         QStringLiteral("SPEC"));
    const QCommandLineOption resampleOption =
        parser.addOption(QStringLiteral("resample"),
                         QStringLiteral("Add a resampling scheme named resample:SPEC (repeatable): the image reduced, "
                                        "stored as JPEG and expanded back, pixel centres aligned; SPEC is "
                                        "comma-separated down=box|lanczos, up=bilinear|bicubic|lanczos, step=H, "
                                        "optimize, progressive, chroma=420|444."),
                         QStringLiteral("SPEC"));
    const QCommandLineOption commandOption =
        parser.addOption(QStringLiteral("command"),
                         QStringLiteral("Add a scheme of an encoder and a decoder program (repeatable), run without a "
                                        "shell in a private temporary folder; SPEC is comma-separated name=NAME, "
                                        "encode=TEMPLATE, decode=TEMPLATE, settings=FROM:TO:STEP or A+B+..., "
                                        "input=ppm|png, suffix=EXT. Templates name {in}, {out}, {setting} (encoder "
                                        "only), {width}, {height}; quotes group words, and a comma inside quotes "
                                        "belongs to the template."),
                         QStringLiteral("SPEC"));
    const QCommandLineOption schemeFileOption =
        parser.addOption(QStringLiteral("scheme-file"),
                         QStringLiteral("Add the command schemes of FILE (repeatable): one --command SPEC a line, "
                                        "blank lines and lines starting with # left out."),
                         QStringLiteral("FILE"));
    const QCommandLineOption commandTimeoutOption =
        parser.addOption(QStringLiteral("command-timeout"),
                         QStringLiteral("Seconds each encoder or decoder program of a command scheme may run before "
                                        "it is killed with its process group and the point skipped (default 300)."),
                         QStringLiteral("SECONDS"));
    const QCommandLineOption ablationOption =
        parser.addOption(QStringLiteral("ablation"),
                         QStringLiteral("The matched ablations of every F-transform scheme (hybrid, each --hybrid): "
                                        "the same node spacing and JPEG coding with the F-transform replaced by the "
                                        "filter pairs of LIST, comma-separated down-up (box or lanczos, bilinear, "
                                        "bicubic or lanczos), or all (default box-bilinear,lanczos-lanczos); each "
                                        "is named resample:down=D,up=U@SCHEME. With them the study measures "
                                        "jpeg-opt too."),
                         QStringLiteral("LIST"));
    const QCommandLineOption noAblationOption = parser.addOption(
        QStringLiteral("no-ablation"), QStringLiteral("Measure no matched ablations (nor jpeg-opt unless listed)."));
    const QCommandLineOption keepOption =
        parser.addOption(QStringLiteral("keep"),
                         QStringLiteral("Keep every encoded file as DIR/<image stem>/<scheme>_<setting>."
                                        "<jpg|webp|avif|jxl>, named in points.csv."),
                         QStringLiteral("DIR"));
    const QCommandLineOption viewOption =
        parser.addOption(QStringLiteral("view"),
                         QStringLiteral("Also write viewer.html, a viewer of every scheme's decoded image at a "
                                        "chosen bit rate, with the decoded images as PNG in view/<image stem>/ "
                                        "(with --merge: taken from the shards' view/ folders)."));
    int status = ExitSuccess;
    if (!parser.parse(0, INT_MAX, &status))
        return status;
    const QStringList positional = parser.positional();
    if (positional.isEmpty())
        return parser.usageError(parser.isSet(mergeOption) ? QStringLiteral("no folders to merge")
                                                           : QStringLiteral("no images given"));
    const QString outDirectory = parser.value(outOption);

    if (parser.isSet(mergeOption)) {
        if (parser.isSet(jobsOption) || parser.isSet(shardOption) || parser.isSet(weightsOption)
            || parser.isSet(schemesOption) || parser.isSet(keepOption) || parser.isSet(hybridOption)
            || parser.isSet(resampleOption) || parser.isSet(ablationOption) || parser.isSet(noAblationOption)
            || parser.isSet(commandOption) || parser.isSet(schemeFileOption) || parser.isSet(commandTimeoutOption))
            return parser.usageError(QStringLiteral("--merge takes no --jobs, --shard, --weights, --schemes, "
                                                    "--hybrid, --resample, --command, --scheme-file, "
                                                    "--command-timeout, --ablation, --no-ablation or --keep"));
        QVector<RdStudy> parts;
        RdOutputFolder folder(outDirectory);
        QString lockError;
        if (!folder.begin(&lockError))
            return failure(lockError);
        for (const QString &directory : positional) {
            RdStudy part;
            QString error;
            if (!RdOutput::readStudy(directory, &part, &error))
                return failure(error);
            parts.append(part);
        }
        RdStudy merged;
        QStringList warnings;
        QString error;
        if (!RdOutput::mergeStudies(parts, &merged, &warnings, &error))
            return failure(error);
        for (const QString &warning : warnings)
            printError(QStringLiteral("warning: ") + warning);
        if (parser.isSet(viewOption)) {
            QStringList missing;
            if (!RdViewer::mergeImages(&merged, positional, folder.stagingPath(), &missing, &error))
                return failure(error);
            if (!missing.isEmpty())
                printError(QStringLiteral("warning: the viewer has no decoded images of %1 of %2 images, whose "
                                          "shards ran without --view: %3")
                               .arg(missing.size())
                               .arg(merged.images.size())
                               .arg(missing.join(QStringLiteral(", "))));
        }
        if (!merged.skipped.isEmpty())
            printError(QStringLiteral("%1 of %2 images were skipped")
                           .arg(merged.skipped.size())
                           .arg(merged.skipped.size() + merged.images.size()));
        return finish(merged, outDirectory, folder, parser.isSet(viewOption));
    }

    int jobs = QThread::idealThreadCount();
    if (!parser.integer(jobsOption, 1, 1024, &jobs, &status))
        return status;
    jobs = std::max(1, jobs);
    RdShard shard;
    if (parser.isSet(shardOption) && !parseShard(parser.value(shardOption), &shard.index, &shard.count))
        return parser.usageError(
            QStringLiteral("--shard must be K/N with 0 <= K < N, not '%1'").arg(parser.value(shardOption)));

    QStringList schemeNames = rdStandardSchemeNames();
    if (parser.isSet(schemesOption))
        schemeNames = parser.value(schemesOption).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (QString &name : schemeNames)
        name = name.trimmed();
    QVector<RdScheme> schemes;
    QString schemeError;
    if (!selectRdSchemes(schemeNames, QList<float>(), &schemes, &schemeError))
        return parser.usageError(QStringLiteral("--schemes: %1").arg(schemeError));
    QVector<RdVariantSpec> variants;
    for (const QString &spec : parser.values(hybridOption)) {
        RdVariantSpec variant;
        if (!parseRdVariantSpec(spec, &variant, &schemeError))
            return parser.usageError(QStringLiteral("--hybrid: %1").arg(schemeError));
        for (const RdVariantSpec &other : variants)
            if (other.name == variant.name)
                return parser.usageError(QStringLiteral("--hybrid: scheme '%1' is given twice").arg(variant.name));
        variants.append(variant);
    }
    QVector<RdResampleSpec> resamplings;
    for (const QString &spec : parser.values(resampleOption)) {
        RdResampleSpec resampling;
        if (!parseRdResampleSpec(spec, &resampling, &schemeError))
            return parser.usageError(QStringLiteral("--resample: %1").arg(schemeError));
        for (const RdResampleSpec &other : resamplings)
            if (rdResampleSchemeName(other) == rdResampleSchemeName(resampling))
                return parser.usageError(QStringLiteral("--resample: scheme '%1' is given twice")
                                             .arg(rdResampleSchemeName(resampling)));
        resamplings.append(resampling);
    }
    QVector<RdCommandSpec> commands;
    for (const QString &file : parser.values(schemeFileOption))
        if (!readRdSchemeFile(file, &commands, &schemeError))
            return parser.usageError(QStringLiteral("--scheme-file: %1").arg(schemeError));
    for (const QString &spec : parser.values(commandOption)) {
        RdCommandSpec command;
        if (!parseRdCommandSpec(spec, &command, &schemeError))
            return parser.usageError(QStringLiteral("--command: %1").arg(schemeError));
        commands.append(command);
    }
    for (int i = 0; i < commands.size(); ++i)
        for (int j = 0; j < i; ++j)
            if (commands[i].name == commands[j].name)
                return parser.usageError(QStringLiteral("--command: scheme '%1' is given twice").arg(commands[i].name));
    double commandTimeout = 300.0;
    if (parser.isSet(commandTimeoutOption)) {
        bool ok = false;
        commandTimeout = parser.value(commandTimeoutOption).toDouble(&ok);
        if (!ok || !(commandTimeout > 0.0) || commandTimeout > 1e6)
            return parser.usageError(QStringLiteral("--command-timeout must be a number of seconds above 0 and at "
                                                    "most 1000000, not '%1'")
                                         .arg(parser.value(commandTimeoutOption)));
    }
    QVector<QPair<ResampleFilter, ResampleFilter>> ablationPairs = rdDefaultAblationPairs();
    if (parser.isSet(noAblationOption)) {
        if (parser.isSet(ablationOption))
            return parser.usageError(QStringLiteral("--ablation and --no-ablation exclude each other"));
        ablationPairs.clear();
    } else if (parser.isSet(ablationOption)
               && !parseRdAblationPairs(parser.value(ablationOption), &ablationPairs, &schemeError)) {
        return parser.usageError(QStringLiteral("--ablation: %1").arg(schemeError));
    }
    if (parser.isSet(keepOption) && parser.value(keepOption).isEmpty())
        return parser.usageError(QStringLiteral("--keep needs a folder"));

    const QString defaultWeightsFile = QStringLiteral("weights_out.txt");
    QList<float> weights;
    QString error;
    QString studyWeightsFile = parser.isSet(weightsOption) ? parser.value(weightsOption) : defaultWeightsFile;
    if (!parser.isSet(weightsOption) && !QFileInfo::exists(defaultWeightsFile)) {
        studyWeightsFile.clear();
        weights = workingDirectoryWeights();
        printError(QStringLiteral("note: no %1 here; using the table 'ftjpeg workdir' writes, entry i = "
                                  "1 / (1 + (i/20)^2)")
                       .arg(defaultWeightsFile));
    } else if (!loadWeightsTable(studyWeightsFile, weights, &error)) {
        return failure(error);
    }

    // Neither the output folder nor the kept files of an earlier run are inputs.
    QStringList excluded{outDirectory};
    if (parser.isSet(keepOption))
        excluded.append(parser.value(keepOption));
    const QStringList files = imageInputs(positional, excluded);
    if (files.isEmpty())
        return failure(QStringLiteral("no images in %1").arg(positional.join(QStringLiteral(", "))));
    shard.inputImages = files.size();
    QVector<RdInput> inputs;
    for (int index = shard.index; index < files.size(); index += shard.count)
        inputs.append(RdInput{index, files[index], QImage()});
    // The output folder is replaced as a whole at the end: nothing the run
    // reads or keeps may lie in it.
    RdOutputFolder folder(outDirectory);
    for (const QString &file : files)
        if (folder.contains(file))
            return parser.usageError(QStringLiteral("the image %1 lies in the output folder %2, which the run replaces")
                                         .arg(QDir::toNativeSeparators(file), QDir::toNativeSeparators(outDirectory)));
    if (parser.isSet(keepOption) && (folder.contains(parser.value(keepOption))
                                     || QFileInfo(parser.value(keepOption)).absoluteFilePath()
                                            == QFileInfo(outDirectory).absoluteFilePath()))
        return parser.usageError(QStringLiteral("--keep must name a folder outside the output folder %1, which the "
                                                "run replaces")
                                     .arg(QDir::toNativeSeparators(outDirectory)));
    // Every point has its Butteraugli distance: without the module that
    // computes it, nothing is measured.
    if (!studyCodecs(&error))
        return failure(error);
    if (!folder.begin(&error))
        return failure(error);

    selectRdSchemes(schemeNames, weights, &schemes, &schemeError);
    for (const RdVariantSpec &variant : variants) {
        QList<float> table = weights;
        if (!variant.weightsFile.isEmpty()) {
            table.clear();
            if (!loadWeightsTable(variant.weightsFile, table, &error))
                return failure(error);
        }
        schemes.append(rdVariantScheme(variant, table));
    }
    for (const RdResampleSpec &resampling : resamplings)
        schemes.append(rdResampleScheme(resampling));
    for (const RdCommandSpec &command : commands)
        schemes.append(rdCommandScheme(command, commandTimeout));
    // Every F-transform scheme beside its matched ablations, and jpeg-opt,
    // which the hull of the JPEG-compatible anchors always holds.
    QVector<RdResampleSpec> ablations;
    for (const RdScheme &scheme : schemes)
        ablations += rdMatchedAblations(scheme, ablationPairs);
    if (!ablations.isEmpty() && !schemeNames.contains(QStringLiteral("jpeg-opt"))) {
        QVector<RdScheme> optimised;
        selectRdSchemes({QStringLiteral("jpeg-opt")}, weights, &optimised, &schemeError);
        schemes += optimised;
    }
    for (const RdResampleSpec &ablation : ablations)
        schemes.append(rdResampleScheme(ablation));
    RdRunner runner(inputs, schemes, jobs);
    if (parser.isSet(keepOption))
        runner.setKeepDirectory(parser.value(keepOption));
    if (parser.isSet(viewOption))
        runner.setViewDirectory(QDir(folder.stagingPath()).filePath(RdViewer::folderName()));
    RdProgress progress(inputs.size() * runner.pointsPerImage(), isatty(fileno(stderr)) != 0);
    runner.setPointDone([&progress] { progress.advance(); });
    runner.setImageSkipped([&progress](const RdSkippedImage &skipped) {
        const QString line = skipped.scheme.isEmpty()
                                 ? QStringLiteral("ftjpeg: skipped: %1").arg(skipped.reason)
                                 : QStringLiteral("ftjpeg: %1 failed on %2: %3")
                                       .arg(skipped.scheme, QDir::toNativeSeparators(skipped.image), skipped.reason);
        progress.printLine(line.toLocal8Bit());
    });
    RdStudy study = runner.run();
    progress.finish();
    study.shards.append(shard);
    if (!markFittedImages(&study, inputs, schemes, variants, studyWeightsFile, &error))
        return failure(error);
    if (!study.skipped.isEmpty())
        printError(QStringLiteral("%1 of %2 images were skipped").arg(study.skipped.size()).arg(inputs.size()));
    return finish(study, outDirectory, folder, parser.isSet(viewOption));
}

} // namespace

REGISTER_GUI_SUBCOMMAND(rd, "rate-distortion study of hybrid against plain JPEG, with BD-rate, plots and a report",
                        runRd);

} // namespace veltrano
