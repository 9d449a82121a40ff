// The experiment subcommands of ftjpeg: "batch" runs the window's batch
// experiments in a working directory, "workdir" lays such a directory out.

#include "tools/ftjpeg/cli.h"
#include "tools/ftjpeg/subcommand.h"
#include "tools/ftjpeg/subcommandparser.h"

#include "experiments/colorbatch.h"
#include "experiments/experimentoutput.h"
#include "experiments/hdrevaluation.h"
#include "experiments/jpegqualitysweep.h"
#include "experiments/workdirgenerator.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

#include <unistd.h>

namespace veltrano {

namespace {

// The range of the window's quality spin box.
constexpr int minimumQuality = 0;
constexpr int maximumQuality = 30;
constexpr int defaultQuality = 20;

int runBatch(const QStringList &arguments)
{
    SubcommandParser parser(
        arguments,
        QStringLiteral(
            "Runs one of the window's batch experiments in the working directory (see 'ftjpeg workdir'):\n"
            "  color      the colour compress/decompress batch over in/fireworks.ppm (\"C/D adjoint color\")\n"
            "  evaluate   mse and ssim of out/hdr.ppm against its 97 reconstructions, written to\n"
            "             out_hdr_test_ftih.csv (\"Evaluate\")\n"
            "  jpeg-stat  bits per pixel of temp/texture_bic_sm_<q>.jpg, q = 0, 10, ..., 100 (\"jpeg stat\")\n"
            "The rows go to standard output, each completed by ssimdiff_cygwin (looked for on the search\n"
            "path, then beside ftjpeg). Problems are told on standard error; the exit status is then 1."));
    parser.addPositional(QStringLiteral("experiment"), QStringLiteral("color, evaluate or jpeg-stat."));
    const QCommandLineOption qualityOption = parser.addOption(
        {QStringLiteral("q"), QStringLiteral("quality")},
        QStringLiteral("color only: the window's quality setting, %1 to %2; above 20 plain JPEG at that quality, "
                       "otherwise the F-transform scheme with components at quality + 50 (default %3).")
            .arg(minimumQuality)
            .arg(maximumQuality)
            .arg(defaultQuality),
        QStringLiteral("Q"), QString::number(defaultQuality));
    const QCommandLineOption directoryOption =
        parser.addOption({QStringLiteral("C"), QStringLiteral("directory")},
                         QStringLiteral("Run in DIR instead of the current directory."), QStringLiteral("DIR"));
    int status = ExitSuccess;
    if (!parser.parse(1, 1, &status))
        return status;

    const QString experiment = parser.positional().first();
    const bool color = experiment == QLatin1String("color");
    if (!color && experiment != QLatin1String("evaluate") && experiment != QLatin1String("jpeg-stat"))
        return parser.usageError(QStringLiteral("unknown experiment '%1'").arg(experiment));
    int quality = defaultQuality;
    if (parser.isSet(qualityOption)) {
        if (!color)
            return parser.usageError(QStringLiteral("--quality applies to the color experiment only"));
        bool ok = false;
        quality = parser.value(qualityOption).toInt(&ok);
        if (!ok || quality < minimumQuality || quality > maximumQuality)
            return parser.usageError(QStringLiteral("the quality must be an integer from %1 to %2, not '%3'")
                                         .arg(minimumQuality)
                                         .arg(maximumQuality)
                                         .arg(parser.value(qualityOption)));
    }
    if (parser.isSet(directoryOption) && !QDir::setCurrent(parser.value(directoryOption))) {
        printError(QStringLiteral("cannot change to the folder %1")
                       .arg(QDir::toNativeSeparators(parser.value(directoryOption))));
        return ExitFailure;
    }

    // ssimdiff_cygwin is built beside ftjpeg: it is found there too, after
    // every folder of the user's search path.
    const QByteArray path = qgetenv("PATH");
    if (!path.isEmpty())
        qputenv("PATH", path + ':' + QFile::encodeName(QCoreApplication::applicationDirPath()));

    bool started = false;
    if (color)
        started = startColorBatch([quality] { return quality; });
    else if (experiment == QLatin1String("evaluate"))
        started = startHdrEvaluation();
    else
        started = startJpegQualitySweep();
    flushStandardOutput();
    // The experiments' own messages ("cannot open weights file!" without a
    // line end) are on standard output; standard error gets a full line.
    if (!started) {
        printError(color ? QStringLiteral("cannot read weights_out.txt; nothing was done")
                         : QStringLiteral("cannot write the output file; nothing was measured"));
        return ExitFailure;
    }
    // Rows with missing figures have been written and explained above.
    if (experimentProblemCount() > 0) {
        printError(QStringLiteral("%1 problem%2 (see above); some figures are missing")
                       .arg(experimentProblemCount())
                       .arg(experimentProblemCount() == 1 ? QString() : QStringLiteral("s")));
        return ExitFailure;
    }
    return ExitSuccess;
}

int runWorkdir(const QStringList &arguments)
{
    SubcommandParser parser(
        arguments,
        QStringLiteral(
            "Writes every input file of the window's commands and batch experiments into DIR, made from the\n"
            "photographs of the data folder: weights_out.txt, pattern.png, hdr_triang_4.png, in/fireworks.ppm,\n"
            "in/texture.ppm, temp/texture_bic_sm_<q>.jpg and .ppm, out/hdr.ppm and its 97 reconstructions\n"
            "out/hdr_decompressed_ftih_4_0_<i>_70.png, and a copy of the photographs under photos/.\n"
            "Existing files of these names are replaced; two runs write identical files."));
    parser.addPositional(QStringLiteral("DIR"), QStringLiteral("The working directory to lay out."));
    const QCommandLineOption dataOption = parser.addOption(
        QStringLiteral("data"),
        QStringLiteral("The data folder (default: share/veltrano of the installation this program belongs to, "
                       "else data/ of the source tree it was built from)."),
        QStringLiteral("DIR"));
    int status = ExitSuccess;
    if (!parser.parse(1, 1, &status))
        return status;

    const QString data = parser.isSet(dataOption) ? parser.value(dataOption) : defaultDataDirectory();
    const QString target = parser.positional().first();
    const bool showProgress = isatty(STDERR_FILENO);
    QElapsedTimer timer;
    timer.start();
    QString error;
    const bool written = generateWorkingDirectory(data, target, &error, [showProgress](int done, int total) {
        if (showProgress)
            std::fprintf(stderr, "\rftjpeg workdir: %d of %d files", done, total);
    });
    if (showProgress)
        std::fputs("\n", stderr);
    if (!written) {
        printError(error);
        return ExitFailure;
    }
    if (showProgress)
        std::fprintf(stderr, "ftjpeg workdir: %s ready in %.1f s\n",
                     QDir::toNativeSeparators(target).toLocal8Bit().constData(), timer.elapsed() / 1000.0);
    return ExitSuccess;
}

} // namespace

REGISTER_SUBCOMMAND(batch, "run a batch experiment (color, evaluate, jpeg-stat) in the working directory", runBatch);
REGISTER_SUBCOMMAND(workdir, "lay out a working directory with every input file of the experiments", runWorkdir);

} // namespace veltrano
