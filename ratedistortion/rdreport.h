#ifndef RDREPORT_H
#define RDREPORT_H

#include "rdpoint.h"

#include <QByteArray>
#include <QString>
#include <QVector>

struct RdSummary;

// A plot of the report: its heading and the PNG data, embedded in the page
// as a data: URI so that report.html stands alone.
struct RdReportPlot
{
    QString heading;
    QString fileName;
    QByteArray png;
};

// report.html: the delta table, the average plot, one section per image
// with its plot and points, and the skipped images. One self-contained
// page (no scripts, no external resources).
QByteArray rdReportHtml(const RdStudy &study, const RdSummary &summary, const RdReportPlot &average,
                        const QVector<RdReportPlot> &imagePlots);

#endif // RDREPORT_H
