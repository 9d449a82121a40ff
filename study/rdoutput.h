#ifndef RDOUTPUT_H
#define RDOUTPUT_H

#include "study/rdpoint.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace veltrano {

// The output folder of a study: points.csv, summary.csv, skipped.csv,
// shards.csv, fitted.csv (when a scheme's weights were fitted on measured
// images), a plot per image (plot-NAME.png), plot-average.png and
// report.html. Each file is written to a temporary file and replaces the
// old one only when complete.
namespace RdOutput {

// The plot file names of the images, in order: "plot-" + the file's base
// name (characters other than letters, digits, ".", "-" and "_" replaced
// by "_") + ".png", with "-" + the image index before ".png" when an
// earlier image took the name already.
QStringList plotFileNames(const RdStudy &study);

// Writes everything; creates the folder when needed. Plots need a
// QGuiApplication. On failure *error names the file and the reason. With
// viewer, also the viewer's files (rdviewer.h; the decoded images are in
// the folder already), and the report links the plots' points to it.
bool writeStudy(const RdStudy &study, const QString &directory, QString *error, bool viewer = false);

// Reads points.csv, skipped.csv, shards.csv and (when there) fitted.csv of
// an output folder.
bool readStudy(const QString &directory, RdStudy *study, QString *error);

// Combines the studies of shards into one, images and skipped images in
// input order. Fails when an image index occurs twice. Adds a warning for
// shards of a partition that are missing or given twice and for shards of
// different partitions.
bool mergeStudies(const QVector<RdStudy> &parts, RdStudy *merged, QStringList *warnings, QString *error);

} // namespace RdOutput

} // namespace veltrano

#endif // RDOUTPUT_H
