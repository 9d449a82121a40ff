#ifndef RDPOINTFIELDS_H
#define RDPOINTFIELDS_H

#include "study/rdpoint.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

namespace veltrano {

// The measured columns of a point, each defined once: its points.csv column,
// how it is written and read, its heading and decimals in the report's
// points table, and how the average curve combines it. points.csv, its
// reader, the report, the average curves and Python's rows are driven by this
// table, so that a new metric is one entry here (and its value in
// measurePoint). A study's own metrics (RdStudy::extraColumns) follow the
// fixed fields as fields of the same kind.
struct RdPointField
{
    enum class Format {
        Text,            // as it is
        Integer,         // decimal
        Number,          // shortest form that reads back (RdCsv::formatNumber), inf and nan written
        SinglePrecision, // the same of a float
        Milliseconds,    // three decimals
        OptionalInteger, // empty for a negative value
        OptionalNumber   // empty for NaN
    };
    enum class Average {
        None,       // not averaged (left at the point's default)
        Mean,       // the mean over the images
        IntegerMean, // the mean, rounded toward zero
        FiniteMean  // the mean of the finite values; infinity when there is none (PSNR of exact images)
    };

    QString column;
    // Empty: not in the report's points table.
    QString heading;
    int decimals = 0;
    Format format = Format::Number;
    Average average = Average::Mean;
    // A column added after the first ones: a table without it still reads,
    // the value then unknown (empty).
    bool added = false;
    std::function<double(const RdPoint &)> value;
    std::function<void(RdPoint *, double)> setValue;
    // Text fields.
    std::function<QString(const RdPoint &)> text;
    std::function<void(RdPoint *, const QString &)> setText;
};

// The fixed fields in points.csv order, from scheme on (the image's own
// columns image_index, image, width and height come first).
const QVector<RdPointField> &rdPointFields();

// The fixed fields and then one Number field for each of the study's own
// metrics, reading RdPoint::extra.
QVector<RdPointField> rdStudyPointFields(const QStringList &extraColumns);

// The field as points.csv writes it.
QString rdWriteField(const RdPointField &field, const RdPoint &point);

// The field as the report's points table shows it.
QString rdShowField(const RdPointField &field, const RdPoint &point);

} // namespace veltrano

#endif // RDPOINTFIELDS_H
