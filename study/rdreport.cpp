#include "study/rdreport.h"

#include "study/rdcsv.h"
#include "study/rdpointfields.h"
#include "study/rdsummary.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>
#include <cstring>

namespace veltrano {

namespace {

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString number(double value, int decimals)
{
    return std::isfinite(value) ? QString::number(value, 'f', decimals)
                                : (std::isnan(value) ? QStringLiteral("&ndash;") : QStringLiteral("&infin;"));
}

QString signedNumber(double value, int decimals)
{
    if (!std::isfinite(value))
        return number(value, decimals);
    return (value > 0 ? QStringLiteral("+") : QString()) + QString::number(value, 'f', decimals);
}

QString plotFigure(const RdReportPlot &plot)
{
    const QString image = QStringLiteral("<img src=\"data:image/png;base64,%1\" alt=\"%2\" width=\"1400\" height=\"620\">")
                              .arg(QString::fromLatin1(plot.png.toBase64()), escaped(plot.heading));
    if (plot.links.isEmpty())
        return QStringLiteral("<figure>%1<figcaption>%2 (%3)</figcaption></figure>\n")
            .arg(image, escaped(plot.heading), escaped(plot.fileName));
    // Links over the markers, placed in percent of the plot so that they stay
    // on their points however wide the page shows it.
    QString links;
    for (const RdReportLink &link : plot.links)
        links += QStringLiteral("<a href=\"%1\" title=\"%2\" style=\"position:absolute;left:%3%;top:%4%;width:14px;"
                                "height:14px;margin:-7px 0 0 -7px;border-radius:7px\"></a>\n")
                     .arg(escaped(link.href), escaped(link.title), QString::number(link.x * 100.0 / 1400.0, 'f', 3),
                          QString::number(link.y * 100.0 / 620.0, 'f', 3));
    return QStringLiteral("<figure><div style=\"position:relative;display:inline-block;max-width:100%\">%1\n%2</div>"
                          "<figcaption>%3 (%4); a click on a point opens it in the viewer</figcaption></figure>\n")
        .arg(image, links, escaped(plot.heading), escaped(plot.fileName));
}

QString pointsTable(const RdImageResult &image, const QVector<RdPointField> &fields)
{
    QString html = QStringLiteral("<details><summary>Points</summary>\n<table class=\"points\"><tr>");
    for (const RdPointField &field : fields)
        if (!field.heading.isEmpty())
            html += QStringLiteral("<th>%1</th>").arg(escaped(field.heading));
    html += QStringLiteral("</tr>\n");
    for (const RdPoint &point : image.points) {
        html += QStringLiteral("<tr>");
        for (const RdPointField &field : fields)
            if (!field.heading.isEmpty())
                html += QStringLiteral("<td>%1</td>").arg(rdShowField(field, point));
        html += QStringLiteral("</tr>\n");
    }
    return html + QStringLiteral("</table></details>\n");
}

QString interval(const MeanInterval &value)
{
    return QStringLiteral("%1 &ndash; %2").arg(signedNumber(value.low, 2), signedNumber(value.high, 2));
}

QString spread(const MeanInterval &value)
{
    return QStringLiteral("%1 &ndash; %2").arg(signedNumber(value.minimum, 2), signedNumber(value.maximum, 2));
}

QString range(double low, double high, int decimals)
{
    return QStringLiteral("%1 &ndash; %2").arg(number(low, decimals), number(high, decimals));
}

// An image's name, marked when the scheme's weights were fitted on it.
QString imageCell(const RdStudy &study, const QString &scheme, const RdImageSummary &image)
{
    for (const RdFittedImage &fitted : study.fitted)
        if (fitted.scheme == scheme && fitted.index == image.index)
            return escaped(image.image) + QStringLiteral(" <b title=\"weights fitted on this image\">(fitted)</b>");
    return escaped(image.image);
}

// Which measured images the schemes' weights were fitted on.
QString fittedNote(const RdStudy &study)
{
    if (study.fitted.isEmpty())
        return QString();
    QString html = QStringLiteral(
        "<p><b>Fitted weights.</b> The weights tables of these schemes were fitted (ftjpeg fit-weights) on images "
        "of this study, marked (fitted) below: their figures there are not held-out results. Quote a fitted "
        "scheme on images left out of the fit (fit-weights --holdout).</p>\n<ul>\n");
    QStringList schemes;
    for (const RdFittedImage &fitted : study.fitted)
        if (!schemes.contains(fitted.scheme))
            schemes.append(fitted.scheme);
    for (const QString &scheme : schemes) {
        QStringList images;
        for (const RdFittedImage &fitted : study.fitted)
            if (fitted.scheme == scheme)
                images.append(escaped(fitted.image));
        html += QStringLiteral("<li>%1: %2</li>\n").arg(escaped(scheme), images.join(QStringLiteral(", ")));
    }
    return html + QStringLiteral("</ul>\n");
}

// The verdict first: each F-transform scheme against the hull of the
// JPEG-compatible anchors matched to it.
QString hullTables(const RdStudy &study, const RdSummary &summary)
{
    QString html = QStringLiteral(
        "<h2>F-transform schemes against resampling and JPEG</h2>\n"
        "<p>Each F-transform scheme against the <em>hull of its JPEG-compatible anchors</em>: at each bit rate the "
        "best of jpeg-opt and its matched ablations, the same pipeline (node spacing, JPEG writer and settings, grey "
        "handling) with the F-transform reduction and expansion replaced by standard resampling. The second line "
        "of each scheme is the hull of the scheme with jpeg-opt against the same hull: a JPEG coder free to choose "
        "the F-transform or plain jpeg-opt at each rate against one free to choose resampling or jpeg-opt "
        "(negative: the F-transform adds what resampling does not; positive: resampling adds more). "
        "BD-rate on PSNR (negative: fewer bits than the hull), mean over the images with a 95&nbsp;% bootstrap "
        "interval over the images (4000 resamples, fixed seed) and the smallest and largest per-image value; with "
        "few images the interval is wide and says little. BD-PSNR: mean over the images.</p>\n"
        "<table><tr><th class=\"name\">scheme</th><th class=\"name\">hull of</th><th>BD-rate (%)</th>"
        "<th>95&nbsp;% interval</th><th>per-image range</th><th>BD-PSNR (dB)</th><th>images</th></tr>\n");
    for (int t = 0; t < summary.tested.size(); ++t) {
        const RdHullMean &mean = summary.hullMeans[t];
        const QString members = summary.hullMembers[t].join(QStringLiteral(", "));
        for (int which = 0; which < 2; ++which) {
            const MeanInterval &rate = which == 0 ? mean.schemeRate : mean.withJpegOptRate;
            html += QStringLiteral("<tr><td class=\"name\">%1</td><td class=\"name\">%2</td><td>%3</td><td>%4</td>"
                                   "<td>%5</td><td>%6</td><td>%7</td></tr>\n")
                        .arg(escaped(which == 0 ? summary.tested[t] : summary.tested[t] + QStringLiteral(" + jpeg-opt")),
                             escaped(members), signedNumber(rate.mean, 2), interval(rate), spread(rate),
                             signedNumber(which == 0 ? mean.schemePsnr : mean.withJpegOptPsnr, 3),
                             QString::number(rate.count));
        }
    }
    html += QStringLiteral("</table>\n<h3>Per image, against the hull</h3>\n<table><tr><th class=\"name\">image</th>"
                           "<th class=\"name\">scheme</th><th>BD-rate (%)</th><th>BD-PSNR (dB)</th><th>bpp range</th>"
                           "<th>PSNR range (dB)</th><th>with jpeg-opt: BD-rate (%)</th><th>BD-PSNR (dB)</th></tr>\n");
    for (const RdImageSummary &image : summary.images)
        for (int t = 0; t < summary.tested.size(); ++t) {
            const RdHullDelta &delta = image.hulls[t];
            html += QStringLiteral("<tr><td class=\"name\">%1</td><td class=\"name\">%2</td><td>%3</td><td>%4</td>"
                                   "<td>%5</td><td>%6</td><td>%7</td><td>%8</td></tr>\n")
                        .arg(imageCell(study, summary.tested[t], image), escaped(summary.tested[t]),
                             signedNumber(delta.scheme.ratePercent, 2),
                             signedNumber(delta.scheme.quality, 3), range(delta.scheme.rateLow, delta.scheme.rateHigh, 3),
                             range(delta.scheme.qualityLow, delta.scheme.qualityHigh, 2),
                             signedNumber(delta.withJpegOpt.ratePercent, 2), signedNumber(delta.withJpegOpt.quality, 3));
        }
    return html + QStringLiteral("</table>\n");
}

QString anchorTables(const RdStudy &study, const RdSummary &summary)
{
    QString html = QStringLiteral(
        "<h2>Hybrid against every scheme</h2>\n"
        "<p>Bj&oslash;ntegaard deltas of the hybrid scheme with each other scheme as the reference, mean over the "
        "images: BD-rate (negative: the hybrid scheme needs fewer bits for the same quality) and BD-quality "
        "(positive: the hybrid scheme is better at the same rate), on PSNR and on the windowed SSIM in dB, "
        "&minus;10&nbsp;log<sub>10</sub>(1&nbsp;&minus;&nbsp;SSIM). Crossover: the bit rate of the average curves "
        "from which that scheme is ahead of the hybrid scheme (the low end of the shared range when it is ahead "
        "throughout; &ndash; when it never gets ahead).</p>\n"
        "<table><tr><th class=\"name\">scheme</th><th>BD-rate, PSNR (%)</th><th>BD-PSNR (dB)</th>"
        "<th>BD-rate, SSIM (%)</th><th>BD-SSIM (dB)</th><th>crossover, PSNR (bpp)</th>"
        "<th>crossover, SSIM (bpp)</th><th>images</th><th>BD-rate, PSNR: 95&nbsp;% interval</th>"
        "<th>per-image range</th></tr>\n");
    for (int a = 0; a < summary.anchors.size(); ++a) {
        const RdAnchorMean &mean = summary.anchorMeans[a];
        html += QStringLiteral("<tr><td class=\"name\">%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</td>"
                               "<td>%7</td><td>%8</td></tr>\n")
                    .arg(escaped(summary.anchors[a]), signedNumber(mean.psnrRatePercent, 2),
                         signedNumber(mean.psnrDelta, 3), signedNumber(mean.ssimRatePercent, 2),
                         signedNumber(mean.ssimDelta, 3), number(mean.crossoverPsnr, 3),
                         number(mean.crossoverSsim, 3), QString::number(mean.images));
        html.chop(int(std::strlen("</tr>\n")));
        html += QStringLiteral("<td>%1</td><td>%2</td></tr>\n")
                    .arg(interval(summary.anchorRateIntervals[a]), spread(summary.anchorRateIntervals[a]));
    }
    html += QStringLiteral("</table>\n<h3>BD-rate on PSNR (%) per image</h3>\n<table><tr><th class=\"name\">image</th>");
    for (const QString &anchor : summary.anchors)
        html += QStringLiteral("<th>%1</th>").arg(escaped(anchor));
    html += QStringLiteral("</tr>\n");
    for (const RdImageSummary &image : summary.images) {
        html += QStringLiteral("<tr><td class=\"name\">%1</td>").arg(imageCell(study, hybridScheme(), image));
        for (const RdAnchorDelta &delta : image.anchors)
            html += QStringLiteral("<td>%1</td>").arg(signedNumber(delta.psnr.ratePercent, 2));
        html += QStringLiteral("</tr>\n");
    }
    return html + QStringLiteral("</table>\n");
}

} // namespace

QByteArray rdReportHtml(const RdStudy &study, const RdSummary &summary, const RdReportPlot &average,
                        const QVector<RdReportPlot> &imagePlots, const QString &viewerSection)
{
    QString html = QStringLiteral(
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>Rate-distortion study: hybrid JPEG against JPEG and other anchors</title>\n<style>\n"
        "body { font-family: sans-serif; margin: 2em; max-width: 1450px; color: #222; }\n"
        "table { border-collapse: collapse; margin: 1em 0; }\n"
        "th, td { border: 1px solid #bbb; padding: 0.25em 0.6em; text-align: right; }\n"
        "th { background: #eee; } td.name, th.name { text-align: left; }\n"
        "tr.average td { font-weight: bold; background: #f6f6f6; }\n"
        "figure { margin: 1em 0; } img { max-width: 100%; height: auto; border: 1px solid #ddd; }\n"
        "figcaption { color: #555; font-size: 0.9em; }\n"
        "</style>\n</head>\n<body>\n<h1>Rate-distortion study: hybrid JPEG against plain JPEG and other anchors</h1>\n");

    int inputImages = 0;
    QStringList shards;
    for (const RdShard &shard : study.shards) {
        inputImages = std::max(inputImages, shard.inputImages);
        if (shard.count > 1)
            shards.append(QStringLiteral("%1/%2").arg(shard.index).arg(shard.count));
    }
    html += QStringLiteral("<p>%1 images measured, %2 skipped")
                .arg(study.images.size())
                .arg(study.skipped.size());
    if (!shards.isEmpty())
        html += QStringLiteral(", merged from shards %1 of %2 input images").arg(shards.join(QStringLiteral(", ")))
                    .arg(inputImages);
    html += QStringLiteral(". Plain JPEG at qualities 0, 5, &hellip;, 100 and the hybrid scheme (F-transform "
                           "components, node spacing 2, as JPEG) at component qualities 0, 5, &hellip;, 100; bits "
                           "per pixel relative to the full image.</p>\n");
    const QStringList schemes = studySchemes(study);
    html += QStringLiteral("<p>Schemes: %1.</p>\n").arg(escaped(schemes.join(QStringLiteral(", "))));
    html += viewerSection;
    html += fittedNote(study);
    if (!summary.tested.isEmpty())
        html += hullTables(study, summary);
    if (!summary.anchors.isEmpty())
        html += anchorTables(study, summary);

    html += QStringLiteral(
        "<h2>Bj&oslash;ntegaard deltas of hybrid against plain JPEG</h2>\n"
        "<p>BD-rate: the mean difference in bit rate at equal PSNR (negative: the hybrid scheme needs fewer bits). "
        "BD-PSNR: the mean difference in PSNR at equal bit rate (positive: the hybrid scheme is better). Both over "
        "the range both curves cover, on log<sub>10</sub> bpp, with the curves interpolated by monotone piecewise "
        "cubic Hermite polynomials through the points that no other point of the same scheme beats. The two "
        "ranges differ, so where the curves cross the two deltas can differ in sign: BD-rate weighs the qualities "
        "both schemes reach, BD-PSNR the bit rates both spend. The average is the arithmetic mean over the "
        "images.</p>\n"
        "<table><tr><th class=\"name\">image</th><th>BD-rate (%)</th><th>BD-PSNR (dB)</th>"
        "<th>bpp range</th><th>PSNR range (dB)</th></tr>\n");
    for (const RdImageSummary &image : summary.images)
        html += QStringLiteral("<tr><td class=\"name\">%1</td><td>%2</td><td>%3</td><td>%4 &ndash; %5</td>"
                               "<td>%6 &ndash; %7</td></tr>\n")
                    .arg(escaped(image.image), signedNumber(image.delta.ratePercent, 2),
                         signedNumber(image.delta.quality, 3), number(image.delta.rateLow, 3),
                         number(image.delta.rateHigh, 3), number(image.delta.qualityLow, 2),
                         number(image.delta.qualityHigh, 2));
    html += QStringLiteral("<tr class=\"average\"><td class=\"name\">average (%1 images)</td><td>%2</td><td>%3</td>"
                           "<td></td><td></td></tr>\n</table>\n")
                .arg(summary.rateImages)
                .arg(signedNumber(summary.meanRatePercent, 2), signedNumber(summary.meanPsnr, 3));

    html += QStringLiteral("<h2>Average over the images</h2>\n<p>At each quality, the mean bpp, PSNR and SSIM "
                           "over the images.</p>\n");
    html += plotFigure(average);

    html += QStringLiteral("<h2>Images</h2>\n");
    const QVector<RdPointField> fields = rdStudyPointFields(study.extraColumns);
    for (int i = 0; i < study.images.size() && i < imagePlots.size(); ++i) {
        const RdImageResult &image = study.images[i];
        html += QStringLiteral("<h3>%1 <small>(%2&times;%3)</small></h3>\n")
                    .arg(escaped(image.image), QString::number(image.width), QString::number(image.height));
        html += plotFigure(imagePlots[i]);
        html += pointsTable(image, fields);
    }

    if (!study.skipped.isEmpty()) {
        html += QStringLiteral("<h2>Skipped images</h2>\n<table><tr><th class=\"name\">image</th>"
                               "<th class=\"name\">reason</th></tr>\n");
        for (const RdSkippedImage &skipped : study.skipped)
            html += QStringLiteral("<tr><td class=\"name\">%1</td><td class=\"name\">%2</td></tr>\n")
                        .arg(escaped(skipped.image), escaped(skipped.reason));
        html += QStringLiteral("</table>\n");
    }
    html += QStringLiteral("<p>Tables: points.csv, summary.csv, skipped.csv beside this page.</p>\n</body>\n</html>\n");
    return html.toUtf8();
}

} // namespace veltrano
