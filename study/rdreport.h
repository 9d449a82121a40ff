#ifndef RDREPORT_H
#define RDREPORT_H

#include "study/rdpoint.h"

#include <QByteArray>
#include <QString>
#include <QVector>

namespace veltrano {

struct RdSummary;

// A link over a point of a plot: the point's marker centre in the plot's
// pixels, where it leads, and its tooltip.
struct RdReportLink
{
    double x = 0.0;
    double y = 0.0;
    QString href;
    QString title;
};

// A plot of the report: its heading and the PNG data, embedded in the page
// as a data: URI so that report.html stands alone; links over its points
// when the study has a viewer.
struct RdReportPlot
{
    QString heading;
    QString fileName;
    QByteArray png;
    QVector<RdReportLink> links;
};

// report.html: the delta table, the average plot, one section per image
// with its plot and points, and the skipped images. One self-contained
// page (no scripts, no external resources). viewerSection, HTML, follows
// the list of schemes when the study has a viewer.
QByteArray rdReportHtml(const RdStudy &study, const RdSummary &summary, const RdReportPlot &average,
                        const QVector<RdReportPlot> &imagePlots, const QString &viewerSection = QString());

} // namespace veltrano

#endif // RDREPORT_H
