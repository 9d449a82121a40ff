#include "study/rdoutput.h"

#include "codec/qimage/imagefile.h"
#include "study/rdcsv.h"
#include "study/rdplot.h"
#include "study/rdreport.h"
#include "study/rdsummary.h"
#include "study/rdviewer.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <limits>

namespace veltrano {

namespace RdOutput {

namespace {

QByteArray pngData(const QImage &image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return data;
}

bool readFile(const QString &fileName, QByteArray *data, QString *error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(QDir::toNativeSeparators(fileName), file.errorString());
        return false;
    }
    *data = file.readAll();
    return true;
}

QString plotTitle(const RdImageResult &image)
{
    return QStringLiteral("%1  (%2 x %3)").arg(QFileInfo(image.image).fileName(), QString::number(image.width),
                                                QString::number(image.height));
}

// Links from every point of an image's plot to the viewer.
QVector<RdReportLink> viewerLinks(const RdPlot &plot, int image)
{
    QVector<RdReportLink> links;
    for (const RdPlotMark &mark : plot.marks())
        links.append(RdReportLink{mark.position.x(), mark.position.y(),
                                  RdViewer::pointLink(image, mark.scheme, mark.bpp)
                                      + QStringLiteral("&setting=%1").arg(mark.quality),
                                  QStringLiteral("%1 at %2: %3 bpp")
                                      .arg(mark.scheme, QString::number(mark.quality),
                                           QString::number(mark.bpp, 'f', 4))});
    return links;
}

// The report's paragraph on the viewer, with the images whose schemes do
// not share enough bit rates for a comparison at one rate.
QString viewerSection(const RdStudy &study)
{
    QString html = QStringLiteral("<p>Decoded images: <a href=\"viewer.html\">viewer.html</a> shows every scheme's "
                                  "image at a chosen bit rate, side by side; a click on a point of a plot opens "
                                  "it there.</p>\n");
    const QStringList schemes = studySchemes(study);
    QString notes;
    for (const RdImageResult &image : study.images) {
        const RdViewer::SharedRates rates = RdViewer::sharedRates(image, schemes, study.failures);
        if (image.viewFolder.isEmpty())
            notes += QStringLiteral("<li>%1: its decoded images were not kept (its shard ran without --view)</li>\n")
                         .arg(image.image.toHtmlEscaped());
        for (const QString &note : rates.notes)
            notes += QStringLiteral("<li>%1: %2</li>\n").arg(image.image.toHtmlEscaped(), note.toHtmlEscaped());
    }
    if (!notes.isEmpty())
        html += QStringLiteral("<p>Not every scheme can be compared at one rate:</p>\n<ul>\n%1</ul>\n").arg(notes);
    return html;
}

} // namespace

QStringList plotFileNames(const RdStudy &study)
{
    QStringList names;
    QSet<QString> taken{QStringLiteral("plot-average.png")};
    for (const RdImageResult &image : study.images) {
        QString base = QFileInfo(image.image).completeBaseName();
        base.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
        QString name = QStringLiteral("plot-%1.png").arg(base);
        if (taken.contains(name))
            name = QStringLiteral("plot-%1-%2.png").arg(base).arg(image.index);
        taken.insert(name);
        names.append(name);
    }
    return names;
}

bool writeStudy(const RdStudy &study, const QString &directory, QString *error, bool viewer)
{
    if (!QDir().mkpath(directory)) {
        *error = QStringLiteral("cannot create the folder %1").arg(QDir::toNativeSeparators(directory));
        return false;
    }
    const QDir out(directory);
    const RdSummary summary = summarizeStudy(study);
    const struct
    {
        const char *name;
        QByteArray data;
    } tables[] = {{"points.csv", RdCsv::pointsCsv(study)},
                  {"summary.csv", RdCsv::summaryCsv(summary)},
                  {"skipped.csv", RdCsv::skippedCsv(study)},
                  {"shards.csv", RdCsv::shardsCsv(study)},
                  {"fitted.csv", study.fitted.isEmpty() ? QByteArray() : RdCsv::fittedCsv(study)}};
    // fitted.csv only when a scheme's table was fitted on measured images.
    for (const auto &table : tables)
        if (!table.data.isEmpty()
            && !writeFileAtomically(out.filePath(QString::fromLatin1(table.name)), table.data, error))
            return false;

    const QStringList names = plotFileNames(study);
    const QStringList schemes = studySchemes(study);
    QVector<RdReportPlot> plots;
    for (int i = 0; i < study.images.size(); ++i) {
        const RdImageResult &image = study.images[i];
        QVector<RdCurve> curves;
        for (const QString &scheme : schemes) {
            RdCurve curve{scheme, {}};
            for (const RdPoint &point : image.points)
                if (point.scheme == scheme)
                    curve.points.append(point);
            if (!curve.points.isEmpty())
                curves.append(curve);
        }
        const RdPlot imagePlot(plotTitle(image), curves);
        RdReportPlot plot{plotTitle(image), names[i], pngData(imagePlot.render()), {}};
        if (viewer)
            plot.links = viewerLinks(imagePlot, i);
        if (!writeFileAtomically(out.filePath(plot.fileName), plot.png, error))
            return false;
        plots.append(plot);
    }
    const QString averageTitle = QStringLiteral("Average over %1 image%2")
                                     .arg(study.images.size())
                                     .arg(study.images.size() == 1 ? QString() : QStringLiteral("s"));
    QVector<RdCurve> averages;
    for (const QString &scheme : schemes)
        averages.append(RdCurve{scheme, averageCurve(study, scheme)});
    const RdReportPlot average{averageTitle, QStringLiteral("plot-average.png"),
                               pngData(RdPlot(averageTitle, averages).render()), {}};
    if (!writeFileAtomically(out.filePath(average.fileName), average.png, error))
        return false;
    if (viewer && !RdViewer::writeViewer(study, directory, error))
        return false;
    return writeFileAtomically(out.filePath(QStringLiteral("report.html")),
                               rdReportHtml(study, summary, average, plots,
                                            viewer ? viewerSection(study) : QString()),
                               error);
}

bool readStudy(const QString &directory, RdStudy *study, QString *error)
{
    const QDir in(directory);
    QByteArray data;
    const QString points = in.filePath(QStringLiteral("points.csv"));
    if (!readFile(points, &data, error)
        || !RdCsv::parsePoints(data, points, &study->images, error, &study->extraColumns))
        return false;
    const QString skipped = in.filePath(QStringLiteral("skipped.csv"));
    QVector<RdSkippedImage> rows;
    if (!readFile(skipped, &data, error) || !RdCsv::parseSkipped(data, skipped, &rows, error))
        return false;
    for (const RdSkippedImage &row : rows)
        (row.scheme.isEmpty() ? study->skipped : study->failures).append(row);
    const QString shards = in.filePath(QStringLiteral("shards.csv"));
    if (!readFile(shards, &data, error) || !RdCsv::parseShards(data, shards, &study->shards, error))
        return false;
    // Written since weights tables record what they were fitted on; an
    // older folder has none.
    const QString fitted = in.filePath(QStringLiteral("fitted.csv"));
    if (!QFileInfo::exists(fitted))
        return true;
    return readFile(fitted, &data, error) && RdCsv::parseFitted(data, fitted, &study->fitted, error);
}

bool mergeStudies(const QVector<RdStudy> &parts, RdStudy *merged, QStringList *warnings, QString *error)
{
    QMap<int, QString> seen;
    RdStudy result;
    // The metrics of the study's own of every part, in order of appearance;
    // a part without one has no value there.
    for (const RdStudy &part : parts)
        for (const QString &column : part.extraColumns)
            if (!result.extraColumns.contains(column))
                result.extraColumns.append(column);
    for (const RdStudy &part : parts) {
        for (RdImageResult image : part.images) {
            for (RdPoint &point : image.points) {
                QVector<double> extra(result.extraColumns.size(), std::numeric_limits<double>::quiet_NaN());
                for (int i = 0; i < part.extraColumns.size() && i < point.extra.size(); ++i)
                    extra[result.extraColumns.indexOf(part.extraColumns[i])] = point.extra[i];
                point.extra = extra;
            }
            if (seen.contains(image.index)) {
                *error = QStringLiteral("image %1 (%2) is in more than one of the folders")
                             .arg(QString::number(image.index), image.image);
                return false;
            }
            seen.insert(image.index, image.image);
            result.images.append(image);
        }
        for (const RdSkippedImage &skipped : part.skipped) {
            if (seen.contains(skipped.index)) {
                *error = QStringLiteral("image %1 (%2) is in more than one of the folders")
                             .arg(QString::number(skipped.index), skipped.image);
                return false;
            }
            seen.insert(skipped.index, skipped.image);
            result.skipped.append(skipped);
        }
        result.failures += part.failures;
        result.fitted += part.fitted;
        result.shards += part.shards;
    }
    std::sort(result.images.begin(), result.images.end(),
              [](const RdImageResult &a, const RdImageResult &b) { return a.index < b.index; });
    std::sort(result.skipped.begin(), result.skipped.end(),
              [](const RdSkippedImage &a, const RdSkippedImage &b) { return a.index < b.index; });
    std::stable_sort(result.failures.begin(), result.failures.end(),
                     [](const RdSkippedImage &a, const RdSkippedImage &b) { return a.index < b.index; });
    std::stable_sort(result.fitted.begin(), result.fitted.end(),
                     [](const RdFittedImage &a, const RdFittedImage &b) { return a.index < b.index; });
    std::sort(result.shards.begin(), result.shards.end(), [](const RdShard &a, const RdShard &b) {
        return a.count < b.count || (a.count == b.count && a.index < b.index);
    });

    // Every shard of one partition of one input list, once each.
    QSet<QPair<int, int>> partitions;
    for (const RdShard &shard : result.shards)
        partitions.insert(qMakePair(shard.count, shard.inputImages));
    if (partitions.size() > 1)
        warnings->append(QStringLiteral("the folders come from different partitions or input lists"));
    for (const QPair<int, int> &partition : partitions) {
        QMap<int, int> counts;
        for (const RdShard &shard : result.shards)
            if (shard.count == partition.first && shard.inputImages == partition.second)
                ++counts[shard.index];
        QStringList missing;
        QStringList twice;
        for (int index = 0; index < partition.first; ++index) {
            if (counts.value(index) == 0)
                missing.append(QStringLiteral("%1/%2").arg(index).arg(partition.first));
            else if (counts.value(index) > 1)
                twice.append(QStringLiteral("%1/%2").arg(index).arg(partition.first));
        }
        if (!missing.isEmpty())
            warnings->append(QStringLiteral("shards missing: %1").arg(missing.join(QStringLiteral(", "))));
        if (!twice.isEmpty())
            warnings->append(QStringLiteral("shards given more than once: %1").arg(twice.join(QStringLiteral(", "))));
    }
    *merged = result;
    return true;
}

} // namespace RdOutput

} // namespace veltrano
