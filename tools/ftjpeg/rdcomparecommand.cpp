// ftjpeg rd-compare: one scheme of a finished study against others, with
// the BD-rate below the crossover and the PSNR ceilings, per image and on
// average.

#include "tools/ftjpeg/cli.h"
#include "tools/ftjpeg/subcommand.h"
#include "tools/ftjpeg/subcommandparser.h"

#include "study/rdcompare.h"
#include "study/rdoutput.h"
#include "study/rdsummary.h"

#include <QFileInfo>

#include <climits>
#include <cmath>
#include <cstdio>
#include <functional>

namespace veltrano {

namespace {

QString number(double value, int decimals)
{
    return std::isfinite(value) ? QString::number(value, 'f', decimals) : QStringLiteral("nan");
}

void printRow(const QString &image, const QString &anchor, const RdComparison &c,
              const MeanInterval *interval = nullptr)
{
    std::printf("%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", qPrintable(image), qPrintable(anchor),
                qPrintable(number(c.whole.ratePercent, 2)), qPrintable(number(c.whole.quality, 3)),
                qPrintable(number(c.crossoverRate, 4)), qPrintable(number(c.belowRatePercent, 2)),
                qPrintable(number(c.belowQualityHigh, 2)), qPrintable(number(c.testCeiling, 2)),
                qPrintable(number(c.anchorCeiling, 2)), qPrintable(number(interval ? interval->low : NAN, 2)),
                qPrintable(number(interval ? interval->high : NAN, 2)));
}

using Curve = std::function<QVector<RateQualityPoint>(const QVector<RdPoint> &points)>;

// The rows of one comparison: per image, the mean over the images (with the
// bootstrap interval of the mean BD-rate) and on the average curves.
void printComparison(const RdStudy &study, const QStringList &schemes, const QString &anchorName,
                     const Curve &anchorCurve, const Curve &testCurve)
{
    RdComparison sum;
    int counts[7] = {};
    double *fields[7] = {&sum.whole.ratePercent, &sum.whole.quality, &sum.crossoverRate, &sum.belowRatePercent,
                         &sum.belowQualityHigh, &sum.testCeiling, &sum.anchorCeiling};
    for (double *field : fields)
        *field = 0;
    QVector<double> rates;
    for (const RdImageResult &image : study.images) {
        const RdComparison c = compareRateQuality(anchorCurve(image.points), testCurve(image.points));
        printRow(QFileInfo(image.image).fileName(), anchorName, c);
        rates.append(c.whole.ratePercent);
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
    const MeanInterval interval = bootstrapMean(rates);
    printRow(QStringLiteral("mean"), anchorName, sum, &interval);
    QVector<RdPoint> averages;
    for (const QString &scheme : schemes)
        averages += averageCurve(study, scheme);
    printRow(QStringLiteral("average-curve"), anchorName,
             compareRateQuality(anchorCurve(averages), testCurve(averages)));
}

int runRdCompare(const QStringList &arguments)
{
    SubcommandParser parser(
        arguments,
        QStringLiteral("Compares one scheme of a study (an output folder of ftjpeg rd) with others on PSNR: per "
                       "image, the BD-rate and BD-PSNR against each anchor, the bit rate from which the anchor "
                       "overtakes it, the BD-rate below that crossover (up to the PSNR given), and the highest "
                       "PSNR of both; then the means over the images (with a 95 % bootstrap interval of the mean "
                       "BD-rate) and the same on the average curves. A scheme with matched ablations is also "
                       "compared with the hull of its JPEG-compatible anchors (at each rate the best of jpeg-opt "
                       "and its ablations), alone and as the hull of it with jpeg-opt. "
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
                "below_up_to_db\ttest_ceiling_db\tanchor_ceiling_db\tbd_rate_ci_low\tbd_rate_ci_high\n");
    const auto pointsOf = [](const QString &scheme) {
        return Curve([scheme](const QVector<RdPoint> &points) { return rateQualityPoints(points, scheme); });
    };
    for (const QString &anchor : anchors)
        printComparison(study, schemes, anchor, pointsOf(anchor), pointsOf(test));
    // A scheme with matched ablations against the hull of its JPEG-compatible
    // anchors, alone and with jpeg-opt.
    const RdSummary summary = summarizeStudy(study);
    const int tested = summary.tested.indexOf(test);
    if (tested >= 0) {
        const QStringList members = summary.hullMembers[tested];
        const Curve hull = [members](const QVector<RdPoint> &points) {
            QVector<QVector<RateQualityPoint>> curves;
            for (const QString &member : members)
                curves.append(rateQualityPoints(points, member));
            return rateQualityHull(curves);
        };
        const QString hullName = QStringLiteral("hull(%1)").arg(members.join(QLatin1Char('|')));
        printComparison(study, schemes, hullName, hull, pointsOf(test));
        printComparison(study, schemes, hullName + QStringLiteral(" vs test+jpeg-opt"), hull,
                        [test](const QVector<RdPoint> &points) {
                            return rateQualityHull(
                                {rateQualityPoints(points, test), rateQualityPoints(points, QStringLiteral("jpeg-opt"))});
                        });
    }
    std::fflush(stdout);
    return ExitSuccess;
}

} // namespace

// The name has a hyphen, so it is registered without the macro.
static const SubcommandRegistration registration_rdCompare(
    Subcommand{"rd-compare", "one scheme of a study against others: BD-rate below the crossover, PSNR ceilings",
               runRdCompare, false});

} // namespace veltrano
