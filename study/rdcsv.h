#ifndef RDCSV_H
#define RDCSV_H

#include "study/rdpoint.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

namespace veltrano {

struct RdSummary;

// The CSV files of the study: comma-separated, a header line, "\n" line
// ends, "." decimals, fields with a comma, quote or line break quoted (RFC
// 4180). Numbers are written in the shortest form that reads back to the
// same value ("inf" and "nan" where a value is not finite), times in
// milliseconds with three decimals; a value that cannot be computed is an
// empty field.
namespace RdCsv {

QString formatNumber(double value);
QString formatNumber(float value);

QByteArray pointsCsv(const RdStudy &study);
QByteArray skippedCsv(const RdStudy &study);
QByteArray shardsCsv(const RdStudy &study);
QByteArray summaryCsv(const RdSummary &summary);
// fitted.csv: scheme, image_index, image of every RdFittedImage.
QByteArray fittedCsv(const RdStudy &study);

// Readers of the files written above, for merging the outputs of shards.
// On failure *error names the file, the line and what is wrong.
// parsePoints gives the names of the columns after the known ones (metrics of
// the study's own) in *extraColumns.
bool parsePoints(const QByteArray &data, const QString &fileName, QVector<RdImageResult> *images, QString *error,
                 QStringList *extraColumns = nullptr);
bool parseSkipped(const QByteArray &data, const QString &fileName, QVector<RdSkippedImage> *skipped,
                  QString *error);
bool parseShards(const QByteArray &data, const QString &fileName, QVector<RdShard> *shards, QString *error);
bool parseFitted(const QByteArray &data, const QString &fileName, QVector<RdFittedImage> *fitted, QString *error);

// A field as written: quoted when it holds a comma, a quote or a line break.
QString quoteField(const QString &field);

} // namespace RdCsv

} // namespace veltrano

#endif // RDCSV_H
