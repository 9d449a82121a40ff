// ftjpeg rd-compare: one scheme of a finished study against others, with
// the BD-rate below the crossover and the PSNR ceilings, per image and on
// average.

#include "cli.h"
#include "subcommand.h"
#include "subcommandparser.h"

#include "rdcompare.h"
#include "rdoutput.h"
#include "rdsummary.h"

#include <QFileInfo>

#include <climits>
#include <cmath>
#include <cstdio>

namespace {

QString number(double value, int decimals)
{
    return std::isfinite(value) ? QString::number(value, 'f', decimals) : QStringLiteral("nan");
}

void printRow(const QString &image, const QString &anchor, const RdComparison &c)
{
    std::printf("%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", qPrintable(image), qPrintable(anchor),
                qPrintable(number(c.whole.ratePercent, 2)), qPrintable(number(c.whole.quality, 3)),
                qPrintable(number(c.crossoverRate, 4)), qPrintable(number(c.belowRatePercent, 2)),
                qPrintable(number(c.belowQualityHigh, 2)), qPrintable(number(c.testCeiling, 2)),
                qPrintable(number(c.anchorCeiling, 2)));
}

int runRdCompare(const QStringList &arguments)
{
    SubcommandParser parser(
        arguments,
        QStringLiteral("Compares one scheme of a study (an output folder of ftjpeg rd) with others on PSNR: per "
                       "image, the BD-rate and BD-PSNR against each anchor, the bit rate from which the anchor "
                       "overtakes it, the BD-rate below that crossover (up to the PSNR given), and the highest "
                       "PSNR of both; then the means over the images and the same on the average curves. "
                       "Tab-separated, one header line."));
    parser.addPositional(QStringLiteral("DIR"), QStringLiteral("The output folder of ftjpeg rd."));
    const QCommandLineOption testOption =
        parser.addOption(QStringLiteral("test"), QStringLiteral("The scheme compared (default hybrid)."),
                         QStringLiteral("NAME"), QStringLiteral("hybrid"));
    const QCommandLineOption anchorOption =
        parser.addOption(QStringLiteral("anchor"),
                         QStringLiteral("A scheme to compare with (repeatable; default every other scheme)."),
                         QStringLiteral("NAME"));
    int status = ExitSuccess;
    if (!parser.parse(1, 1, &status))
        return status;
    RdStudy study;
    QString error;
    if (!RdOutput::readStudy(parser.positional().at(0), &study, &error))
        return failure(error);
    const QStringList schemes = studySchemes(study);
    const QString test = parser.value(testOption);
    QStringList anchors = parser.values(anchorOption);
    if (anchors.isEmpty())
        for (const QString &scheme : schemes)
            if (scheme != test)
                anchors.append(scheme);
    QStringList named = anchors;
    named.append(test);
    for (const QString &scheme : named)
        if (!schemes.contains(scheme))
            return failure(QStringLiteral("the study has no scheme '%1'; it has %2")
                               .arg(scheme, schemes.join(QStringLiteral(", "))));

    std::printf("image\tanchor\tbd_rate_percent\tbd_psnr_db\tcrossover_bpp\tbd_rate_below_crossover_percent\t"
                "below_up_to_db\ttest_ceiling_db\tanchor_ceiling_db\n");
    const QVector<RdPoint> testAverage = averageCurve(study, test);
    for (const QString &anchor : anchors) {
        RdComparison sum;
        int counts[7] = {};
        double *fields[7] = {&sum.whole.ratePercent, &sum.whole.quality, &sum.crossoverRate, &sum.belowRatePercent,
                             &sum.belowQualityHigh, &sum.testCeiling, &sum.anchorCeiling};
        for (double *field : fields)
            *field = 0;
        for (const RdImageResult &image : study.images) {
            const RdComparison c =
                compareRateQuality(rateQualityPoints(image, anchor), rateQualityPoints(image, test));
            printRow(QFileInfo(image.image).fileName(), anchor, c);
            const double values[7] = {c.whole.ratePercent, c.whole.quality, c.crossoverRate, c.belowRatePercent,
                                      c.belowQualityHigh, c.testCeiling, c.anchorCeiling};
            for (int f = 0; f < 7; ++f)
                if (std::isfinite(values[f])) {
                    *fields[f] += values[f];
                    ++counts[f];
                }
        }
        for (int f = 0; f < 7; ++f)
            *fields[f] = counts[f] > 0 ? *fields[f] / counts[f] : NAN;
        printRow(QStringLiteral("mean"), anchor, sum);
        printRow(QStringLiteral("average-curve"), anchor,
                 compareRateQuality(rateQualityPoints(averageCurve(study, anchor), anchor),
                                    rateQualityPoints(testAverage, test)));
    }
    std::fflush(stdout);
    return ExitSuccess;
}

} // namespace

// The name has a hyphen, so it is registered without the macro.
static const SubcommandRegistration registration_rdCompare(
    Subcommand{"rd-compare", "one scheme of a study against others: BD-rate below the crossover, PSNR ceilings",
               runRdCompare, false});
