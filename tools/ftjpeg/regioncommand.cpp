// ftjpeg region: the quadtree region codec on the command line. One
// subcommand with actions: compress, decompress, text, study and sim.

#include "tools/ftjpeg/cli.h"
#include "tools/ftjpeg/imageinputs.h"
#include "tools/ftjpeg/outputfiles.h"
#include "tools/ftjpeg/subcommand.h"
#include "tools/ftjpeg/subcommandparser.h"

#include "codec/format/bitrate.h"
#include "codec/format/hybridmarker.h"
#include "codec/qimage/imagefile.h"
#include "metrics/imagemetrics.h"
#include "codec/qimage/regionimagefile.h"
#include "codec/region/gridsimilarity.h"
#include "codec/region/regionencoder.h"
#include "codec/region/regionfile.h"
#include "codec/region/regiontext.h"
#include "codec/streaming/streamingcodec.h"
#include "metrics/windowedssim.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <climits>
#include <unistd.h>
#include <cstdio>

namespace veltrano {

namespace {

const char actionsHelp[] =
    "Actions:\n"
    "  compress IN OUT      code an image as a compressed block file (prints its bits per pixel)\n"
    "  decompress IN OUT    decode a compressed or text block file to an image\n"
    "  text IN OUT          a compressed block file to the text block file, or back\n"
    "  study IMAGE_OR_DIR.. sweep the parameters; one CSV row per image and setting\n"
    "  sim A B              the component-grid distance of two images' luma grids\n";

struct ParameterOptions
{
    QCommandLineOption minArea{QStringLiteral("min-area"), QString(), QStringLiteral("A")};
    QCommandLineOption maxDiff{QStringLiteral("max-diff"), QString(), QStringLiteral("D")};
    QCommandLineOption backRejoin{QStringLiteral("back-rejoin"), QString(), QStringLiteral("B")};
    QCommandLineOption edge{QStringLiteral("edge"), QString(), QStringLiteral("E")};
    QCommandLineOption sim{QStringLiteral("sim"), QString(), QStringLiteral("S")};
};

ParameterOptions addParameterOptions(SubcommandParser &parser, bool lists)
{
    const RegionParameters defaults;
    const QString many = lists ? QStringLiteral(" (a comma-separated list to sweep)") : QString();
    ParameterOptions options;
    options.minArea = parser.addOption(QStringLiteral("min-area"),
                                       QStringLiteral("The smallest block, in pixels (1 to 4096)") + many,
                                       QStringLiteral("A"), QString::number(defaults.minArea));
    options.maxDiff = parser.addOption(QStringLiteral("max-diff"),
                                       QStringLiteral("The split criterion: the largest root mean square error of "
                                                      "a block over Y, Cb, Cr, in grey levels (0.1 to 1000); it "
                                                      "sets the quantiser too") + many,
                                       QStringLiteral("D"), QString::number(double(defaults.maxDiff)));
    options.backRejoin = parser.addOption(QStringLiteral("back-rejoin"),
                                          QStringLiteral("1: rejoin four sibling leaves whose parent meets max "
                                                         "diff with fewer components; 0: do not") + many,
                                          QStringLiteral("B"), QString::number(defaults.backRejoin));
    options.edge = parser.addOption(QStringLiteral("edge"),
                                    QStringLiteral("Split blocks holding a luma step above E grey levels down to "
                                                   "the smallest side (0: off)") + many,
                                    QStringLiteral("E"), QString::number(double(defaults.edge)));
    options.sim = parser.addOption(QStringLiteral("sim"),
                                   QStringLiteral("Code a leaf as a copy of the previous one when their grids "
                                                  "are within this component-grid distance (0: exact repeats)")
                                       + many,
                                   QStringLiteral("S"), QString::number(double(defaults.sim)));
    return options;
}

// The values of one option, as a list of numbers; a usage error for text.
bool numberList(const SubcommandParser &parser, const QCommandLineOption &option, QList<double> *values,
                int *status)
{
    values->clear();
    for (const QString &word : parser.value(option).split(QLatin1Char(','))) {
        bool ok = false;
        const double value = word.toDouble(&ok);
        if (!ok) {
            *status = parser.usageError(QStringLiteral("--%1 takes numbers, not '%2'")
                                            .arg(option.names().constFirst(), word));
            return false;
        }
        values->append(value);
    }
    return true;
}

RegionParameters makeParameters(double minArea, double maxDiff, double backRejoin, double edge, double sim)
{
    RegionParameters parameters;
    parameters.minArea = minArea >= 0 && minArea < 1e9 && minArea == int(minArea) ? int(minArea) : -1;
    parameters.maxDiff = float(maxDiff);
    parameters.backRejoin = backRejoin == 0 || backRejoin == 1 ? int(backRejoin) : -1;
    parameters.edge = float(edge);
    parameters.sim = float(sim);
    return parameters;
}

bool singleParameters(const SubcommandParser &parser, const ParameterOptions &options, RegionParameters *parameters,
                      int *status)
{
    QList<double> a, d, b, e, s;
    if (!numberList(parser, options.minArea, &a, status) || !numberList(parser, options.maxDiff, &d, status)
        || !numberList(parser, options.backRejoin, &b, status) || !numberList(parser, options.edge, &e, status)
        || !numberList(parser, options.sim, &s, status))
        return false;
    if (a.size() + d.size() + b.size() + e.size() + s.size() != 5) {
        *status = parser.usageError(QStringLiteral("each parameter takes one value here (lists are for 'study')"));
        return false;
    }
    *parameters = makeParameters(a.at(0), d.at(0), b.at(0), e.at(0), s.at(0));
    QString error;
    if (!checkRegionParameters(*parameters, &error)) {
        *status = parser.usageError(error);
        return false;
    }
    return true;
}

int runCompress(SubcommandParser &parser, const ParameterOptions &options)
{
    const QCommandLineOption decodedOption = parser.addOption(
        QStringLiteral("decoded"), QStringLiteral("Also write the decoded image to FILE."), QStringLiteral("FILE"));
    const QCommandLineOption textOption = parser.addOption(
        QStringLiteral("text"), QStringLiteral("Also write the text block file to FILE."), QStringLiteral("FILE"));
    int status = ExitSuccess;
    if (!parser.parse(3, 3, &status))
        return status;
    RegionParameters parameters;
    if (!singleParameters(parser, options, &parameters, &status))
        return status;
    const QString input = parser.positional().at(1);
    const QString output = parser.positional().at(2);
    QByteArray decodedFormat;
    if (parser.isSet(decodedOption) && !knownOutputFormat(parser.value(decodedOption), parser, &decodedFormat, &status))
        return status;
    for (const QString &out : {output, parser.value(decodedOption), parser.value(textOption)})
        if (!out.isEmpty() && !outputIsNoInput(parser, out, QStringList{input}, &status))
            return status;
    QString error;
    if (!parser.isSet(decodedOption) && !parser.isSet(textOption)) {
        qint64 pixels = 0, bytes = 0;
        const StreamOutcome streamed = streamRegionCompress(input, output, parameters, &pixels, &bytes, &error);
        if (streamed == StreamOutcome::Failed)
            return failure(error);
        if (streamed == StreamOutcome::Done) {
            std::printf("%s\n", qPrintable(QString::number(bitsPerPixel(bytes, pixels), 'g', 6)));
            return ExitSuccess;
        }
        error.clear();
    }
    QImage source;
    if (!readImageFile(input, source, &error))
        return failure(error);
    RegionImage blocks;
    if (!encodeRegionQImage(source, parameters, &blocks, &error))
        return failure(QStringLiteral("cannot compress %1: %2").arg(displayName(input), error));
    const QByteArray data = writeRegionFile(blocks);
    if (parser.isSet(decodedOption)) {
        const QImage decoded = expandRegionQImage(blocks, &error);
        if (decoded.isNull() || !writeImageFile(parser.value(decodedOption), decoded, decodedFormat, -1, &error))
            return failure(error);
    }
    if (parser.isSet(textOption) && !writeFileAtomically(parser.value(textOption), writeRegionText(blocks), &error))
        return failure(error);
    if (!writeFileAtomically(output, data, &error))
        return failure(error);
    std::printf("%s\n", qPrintable(QString::number(bitsPerPixel(data.size(), qint64(source.width()) * source.height()),
                                                   'g', 6)));
    return ExitSuccess;
}

int runDecompress(SubcommandParser &parser)
{
    int status = ExitSuccess;
    if (!parser.parse(3, 3, &status))
        return status;
    const QString input = parser.positional().at(1);
    const QString output = parser.positional().at(2);
    QByteArray format;
    if (!knownOutputFormat(output, parser, &format, &status) || !outputIsNoInput(parser, output, {input}, &status))
        return status;
    QString error;
    const StreamOutcome streamed = streamRegionDecompress(input, output, format, &error);
    if (streamed == StreamOutcome::Failed)
        return failure(error);
    if (streamed == StreamOutcome::Done)
        return ExitSuccess;
    error.clear();
    const QImage decoded = decodeRegionBlockFile(input, &error);
    if (decoded.isNull() || !writeImageFile(output, decoded, format, -1, &error))
        return failure(error);
    return ExitSuccess;
}

int runText(SubcommandParser &parser)
{
    int status = ExitSuccess;
    if (!parser.parse(3, 3, &status))
        return status;
    const QString input = parser.positional().at(1);
    const QString output = parser.positional().at(2);
    if (!outputIsNoInput(parser, output, {input}, &status))
        return status;
    RegionImage blocks;
    QString error;
    if (!readRegionBlockFile(input, &blocks, &error))
        return failure(error);
    QFile file(input);
    QByteArray start;
    if (file.open(QIODevice::ReadOnly))
        start = file.read(16);
    const QByteArray data = isRegionTextFile(start) ? writeRegionFile(blocks) : writeRegionText(blocks);
    if (!writeFileAtomically(output, data, &error))
        return failure(error);
    return ExitSuccess;
}

QString csvNumber(double value) { return QString::number(value, 'g', 6); }

int runStudy(SubcommandParser &parser, const ParameterOptions &options)
{
    const QCommandLineOption outOption = parser.addOption(
        QStringLiteral("out"), QStringLiteral("Write the rows to FILE (through a temporary file) instead of "
                                              "standard output."), QStringLiteral("FILE"));
    int status = ExitSuccess;
    if (!parser.parse(2, INT_MAX, &status))
        return status;
    QList<double> a, d, b, e, s;
    if (!numberList(parser, options.minArea, &a, &status) || !numberList(parser, options.maxDiff, &d, &status)
        || !numberList(parser, options.backRejoin, &b, &status) || !numberList(parser, options.edge, &e, &status)
        || !numberList(parser, options.sim, &s, &status))
        return status;
    QList<RegionParameters> settings;
    for (double area : a)
        for (double diff : d)
            for (double rejoin : b)
                for (double edge : e)
                    for (double sim : s) {
                        const RegionParameters parameters = makeParameters(area, diff, rejoin, edge, sim);
                        QString error;
                        if (!checkRegionParameters(parameters, &error))
                            return parser.usageError(error);
                        settings.append(parameters);
                    }
    const QStringList inputs = imageInputs(parser.positional().mid(1));
    if (inputs.isEmpty())
        return parser.usageError(QStringLiteral("no image files among the inputs"));
    const bool progress = isatty(fileno(stderr));
    QByteArray rows = "name,min_area,max_diff,back_rejoin,edge,sim,bpp,psnr_db,ssim,windowed_ssim,blocks,"
                      "encode_ms,decode_ms\n";
    auto writeRow = [&](const QByteArray &row) {
        if (parser.isSet(outOption))
            rows += row;
        else {
            std::fputs(row.constData(), stdout);
            std::fflush(stdout);
        }
    };
    if (!parser.isSet(outOption)) {
        writeRow(rows);
        rows.clear();
    }
    int index = 0;
    for (const QString &input : inputs) {
        QImage source;
        QString error;
        if (!readImageFile(input, source, &error)) {
            printError(error);
            status = ExitFailure;
            continue;
        }
        source = source.convertToFormat(QImage::Format_ARGB32);
        for (const RegionParameters &p : settings) {
            ++index;
            if (progress)
                std::fprintf(stderr, "\r%d of %lld", index, (long long)(inputs.size()) * settings.size());
            QElapsedTimer timer;
            timer.start();
            RegionImage blocks;
            if (!encodeRegionQImage(source, p, &blocks, &error))
                return failure(error);
            const QByteArray data = writeRegionFile(blocks);
            const double encodeMs = timer.nsecsElapsed() / 1e6;
            timer.restart();
            RegionImage decodedBlocks;
            if (!readRegionFile(data, &decodedBlocks, &error, maxDecodedPixels))
                return failure(error);
            const QImage decoded = expandRegionQImage(decodedBlocks, &error);
            if (decoded.isNull())
                return failure(error);
            const double decodeMs = timer.nsecsElapsed() / 1e6;
            const double rate = bitsPerPixel(data.size(), qint64(source.width()) * source.height());
            const QStringList fields{
                QFileInfo(input).fileName(), QString::number(p.minArea), csvNumber(p.maxDiff),
                QString::number(p.backRejoin), csvNumber(p.edge), csvNumber(p.sim), csvNumber(rate),
                csvNumber(psnr(source, decoded)), csvNumber(ssim(source, decoded)),
                csvNumber(windowedSsimRgbMean(source, decoded)), QString::number(blocks.blocks.size()),
                csvNumber(encodeMs), csvNumber(decodeMs)};
            writeRow(fields.join(QLatin1Char(',')).toUtf8() + '\n');
        }
    }
    if (progress)
        std::fputs("\n", stderr);
    if (parser.isSet(outOption)) {
        QString error;
        if (!writeFileAtomically(parser.value(outOption), rows, &error))
            return failure(error);
    }
    return status;
}

int runSim(SubcommandParser &parser)
{
    const QCommandLineOption stepA = parser.addOption(QStringLiteral("step-a"),
                                                      QStringLiteral("Node spacing of A's grid (a power of two)."),
                                                      QStringLiteral("H"), QStringLiteral("1"));
    const QCommandLineOption stepB = parser.addOption(QStringLiteral("step-b"),
                                                      QStringLiteral("Node spacing of B's grid (a power of two)."),
                                                      QStringLiteral("H"), QStringLiteral("1"));
    int status = ExitSuccess;
    if (!parser.parse(3, 3, &status))
        return status;
    int spacingA = 1, spacingB = 1;
    if (!parser.integer(stepA, 1, 1024, &spacingA, &status) || !parser.integer(stepB, 1, 1024, &spacingB, &status))
        return status;
    if ((spacingA & (spacingA - 1)) || (spacingB & (spacingB - 1)))
        return parser.usageError(QStringLiteral("--step-a and --step-b must be powers of two"));
    QImage images[2];
    QString error;
    for (int k = 0; k < 2; ++k)
        if (!readImageFile(parser.positional().at(1 + k), images[k], &error))
            return failure(error);
    if (images[0].size() != images[1].size())
        return failure(QStringLiteral("the images are %1 and %2 pixels; their grids must cover the same extent")
                           .arg(sizeText(images[0].size()), sizeText(images[1].size())));
    const int width = images[0].width();
    const int height = images[0].height();
    std::vector<float> grids[2];
    const int spacings[2] = {spacingA, spacingB};
    for (int k = 0; k < 2; ++k) {
        const QImage rgb = images[k].convertToFormat(QImage::Format_RGB32);
        std::vector<float> luma(size_t(width) * height);
        for (int y = 0; y < height; ++y) {
            const QRgb *row = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
            for (int x = 0; x < width; ++x)
                luma[size_t(y) * width + x] = 0.299f * float(qRed(row[x])) + 0.587f * float(qGreen(row[x]))
                    + 0.114f * float(qBlue(row[x]));
        }
        const int nodes = regionNodeCount(width, spacings[k]) * regionNodeCount(height, spacings[k]);
        std::vector<int32_t> indexes(static_cast<size_t>(nodes));
        // Components to 1/64 of a grey level, the finest step of the files.
        directRegionGrid(luma.data(), width, width, height, spacings[k], 1.0f / 64, indexes.data());
        grids[k].resize(size_t(nodes));
        for (int n = 0; n < nodes; ++n)
            grids[k][size_t(n)] = float(indexes[size_t(n)]) / 64.0f;
    }
    const double distance = componentGridDistance(grids[0].data(), spacingA, grids[1].data(), spacingB, width, height);
    std::printf("%s\n", qPrintable(QString::number(distance, 'g', 6)));
    return ExitSuccess;
}

int runRegion(const QStringList &arguments)
{
    const QString action = arguments.size() > 1 ? arguments.at(1) : QString();
    SubcommandParser parser(arguments,
                            QStringLiteral("The quadtree region codec: square blocks, each holding the direct "
                                           "F-transform of its pixels on a grid of its own spacing.\n\n")
                                + QLatin1String(actionsHelp));
    parser.addPositional(QStringLiteral("ACTION"), QStringLiteral("compress, decompress, text, study or sim."));
    if (action == QLatin1String("compress")) {
        parser.addPositional(QStringLiteral("IN"), QStringLiteral("The image."));
        parser.addPositional(QStringLiteral("OUT"), QStringLiteral("The compressed block file to write."));
        return runCompress(parser, addParameterOptions(parser, false));
    }
    if (action == QLatin1String("decompress")) {
        parser.addPositional(QStringLiteral("IN"), QStringLiteral("A compressed or text block file."));
        parser.addPositional(QStringLiteral("OUT"), QStringLiteral("The image (png, bmp, ppm, jpg)."));
        return runDecompress(parser);
    }
    if (action == QLatin1String("text")) {
        parser.addPositional(QStringLiteral("IN"), QStringLiteral("A compressed or text block file."));
        parser.addPositional(QStringLiteral("OUT"), QStringLiteral("The other kind of block file."));
        return runText(parser);
    }
    if (action == QLatin1String("study")) {
        parser.addPositional(QStringLiteral("IMAGE_OR_DIR"), QStringLiteral("Images, or folders of them."),
                             QStringLiteral("IMAGE_OR_DIR..."));
        return runStudy(parser, addParameterOptions(parser, true));
    }
    if (action == QLatin1String("sim")) {
        parser.addPositional(QStringLiteral("A"), QStringLiteral("An image."));
        parser.addPositional(QStringLiteral("B"), QStringLiteral("An image of the same size."));
        return runSim(parser);
    }
    int status = ExitSuccess;
    if (!parser.parse(1, INT_MAX, &status))
        return status;
    return parser.usageError(action.isEmpty() ? QStringLiteral("an action is needed")
                                              : QStringLiteral("unknown action '%1'").arg(action));
}

} // namespace

REGISTER_SUBCOMMAND(region, "the quadtree region codec: compress, decompress, text, study, sim", runRegion);

} // namespace veltrano
