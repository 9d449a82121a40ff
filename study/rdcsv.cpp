#include "study/rdcsv.h"

#include "study/rdpointfields.h"
#include "study/rdsummary.h"

#include <QHash>
#include <QMap>

#include <algorithm>
#include <charconv>
#include <limits>
#include <cmath>
#include <system_error>

namespace veltrano {

namespace RdCsv {

namespace {

// The image's own columns, then the fields of rdpointfields.h: the first ones
// must be in a table, those added later may be missing.
const QStringList imageColumns{QStringLiteral("image_index"), QStringLiteral("image"), QStringLiteral("width"),
                               QStringLiteral("height")};

QStringList pointColumns(bool added)
{
    QStringList columns = added ? QStringList() : imageColumns;
    for (const RdPointField &field : rdPointFields())
        if (field.added == added)
            columns.append(field.column);
    return columns;
}

const QStringList pointsColumns = pointColumns(false);
const QStringList addedPointsColumns = pointColumns(true);
const QStringList skippedColumns{QStringLiteral("image_index"), QStringLiteral("image"), QStringLiteral("reason")};
const QString skippedSchemeColumn = QStringLiteral("scheme");
const QStringList shardsColumns{QStringLiteral("shard_index"), QStringLiteral("shard_count"),
                                QStringLiteral("input_images")};
const QStringList fittedColumns{QStringLiteral("scheme"), QStringLiteral("image_index"), QStringLiteral("image")};
const QStringList summaryColumns{QStringLiteral("image_index"), QStringLiteral("image"),
                                 QStringLiteral("bd_rate_percent"), QStringLiteral("bd_psnr_db"),
                                 QStringLiteral("bpp_low"),        QStringLiteral("bpp_high"),
                                 QStringLiteral("psnr_low"),       QStringLiteral("psnr_high")};
// The columns of each anchor, after the ones above, each name prefixed by the
// anchor's name and "_".
const QStringList anchorColumns{QStringLiteral("bd_rate_percent"), QStringLiteral("bd_psnr_db"),
                                QStringLiteral("bpp_low"),         QStringLiteral("bpp_high"),
                                QStringLiteral("psnr_low"),        QStringLiteral("psnr_high"),
                                QStringLiteral("crossover_bpp"),   QStringLiteral("bd_rate_ssim_percent"),
                                QStringLiteral("bd_ssim_db"),      QStringLiteral("ssim_bpp_low"),
                                QStringLiteral("ssim_bpp_high"),   QStringLiteral("ssim_db_low"),
                                QStringLiteral("ssim_db_high"),    QStringLiteral("ssim_crossover_bpp")};

// Columns added later, after all of the above: the bootstrap interval and
// spread of a mean BD-rate (average row only), after the hybrid/JPEG columns'
// names and each anchor's name and "_"; then for each tested scheme T the
// columns of T against the hull of its JPEG-compatible anchors ("T_hull_")
// and of T with jpeg-opt against it ("T_with_jpeg_opt_hull_").
const QStringList intervalColumns{QStringLiteral("bd_rate_ci_low"), QStringLiteral("bd_rate_ci_high"),
                                  QStringLiteral("bd_rate_min"), QStringLiteral("bd_rate_max")};
const QStringList hullColumns = QStringList{QStringLiteral("bd_rate_percent"), QStringLiteral("bd_psnr_db"),
                                            QStringLiteral("bpp_low"),         QStringLiteral("bpp_high"),
                                            QStringLiteral("psnr_low"),        QStringLiteral("psnr_high")}
                                + intervalColumns;

template <typename T>
QString shortest(T value)
{
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    char buffer[64];
    const std::to_chars_result result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, int(result.ptr - buffer));
}

// An empty field for a value that could not be computed.
QString optionalNumber(double value)
{
    return std::isnan(value) ? QString() : formatNumber(value);
}

void appendRecord(QByteArray &data, const QStringList &fields)
{
    QStringList quoted;
    for (const QString &field : fields)
        quoted.append(quoteField(field));
    data += quoted.join(QLatin1Char(',')).toUtf8();
    data += '\n';
}

template <typename T>
bool parseNumber(const QString &text, T *value)
{
    if (text == QLatin1String("nan")) {
        *value = std::numeric_limits<T>::quiet_NaN();
        return true;
    }
    if (text == QLatin1String("inf") || text == QLatin1String("-inf")) {
        *value = text.startsWith(QLatin1Char('-')) ? -std::numeric_limits<T>::infinity()
                                                   : std::numeric_limits<T>::infinity();
        return true;
    }
    const QByteArray bytes = text.toLatin1();
    const char *end = bytes.constData() + bytes.size();
    const std::from_chars_result result = std::from_chars(bytes.constData(), end, *value);
    return !bytes.isEmpty() && result.ec == std::errc() && result.ptr == end;
}

// A CSV table read with its header: the rows as fields by column name.
class Table
{
public:
    Table(const QByteArray &data, const QString &fileName, const QStringList &required)
        : name(fileName)
    {
        const QString text = QString::fromUtf8(data);
        QVector<QStringList> records;
        QVector<int> lines;
        if (!splitRecords(text, &records, &lines))
            return;
        if (records.isEmpty()) {
            problem = QStringLiteral("%1: no header line").arg(name);
            return;
        }
        const QStringList header = records.front();
        headerNames = header;
        for (int i = 0; i < header.size(); ++i)
            present.insert(header[i], i);
        for (const QString &column : required) {
            const int position = header.indexOf(column);
            if (position < 0) {
                problem = QStringLiteral("%1: no column '%2' in the header").arg(name, column);
                return;
            }
            columns.insert(column, position);
        }
        for (int i = 1; i < records.size(); ++i) {
            if (records[i].size() != header.size()) {
                problem = QStringLiteral("%1, line %2: %3 fields where the header has %4")
                              .arg(name)
                              .arg(lines[i])
                              .arg(records[i].size())
                              .arg(header.size());
                return;
            }
        }
        rows = records.mid(1);
        rowLines = lines.mid(1);
        valid = true;
    }

    bool isValid() const { return valid; }
    QString error() const { return problem; }
    int rowCount() const { return rows.size(); }
    bool hasColumn(const QString &column) const { return present.contains(column); }
    QStringList header() const { return headerNames; }
    // The field; empty in a column the table does not have.
    QString text(int row, const QString &column) const
    {
        const auto it = present.constFind(column);
        return it == present.constEnd() ? QString() : rows[row][it.value()];
    }

    // Sets the error and returns false when the field is not a number.
    template <typename T>
    bool number(int row, const QString &column, T *value, bool emptyAllowed = false)
    {
        const QString field = text(row, column);
        if (emptyAllowed && field.isEmpty()) {
            *value = std::numeric_limits<T>::quiet_NaN();
            return true;
        }
        if (parseNumber(field, value))
            return true;
        return fail(row, QStringLiteral("'%1' in column %2 is not a number").arg(field, column));
    }

    bool integer(int row, const QString &column, qint64 *value)
    {
        bool ok = false;
        *value = text(row, column).toLongLong(&ok);
        if (ok)
            return true;
        return fail(row, QStringLiteral("'%1' in column %2 is not an integer").arg(text(row, column), column));
    }

    // The field of the row into the point, as rdWriteField wrote it.
    bool field(int row, const RdPointField &field, RdPoint *point)
    {
        using Format = RdPointField::Format;
        const QString value = text(row, field.column);
        if (field.format == Format::Text) {
            field.setText(point, value);
            return true;
        }
        const bool optional = field.added || field.format == Format::OptionalInteger
            || field.format == Format::OptionalNumber;
        if (optional && value.isEmpty()) {
            field.setValue(point, field.format == Format::OptionalInteger ? -1.0
                                                                          : std::numeric_limits<double>::quiet_NaN());
            return true;
        }
        if (field.format == Format::Integer || field.format == Format::OptionalInteger) {
            qint64 integerValue = 0;
            if (!integer(row, field.column, &integerValue))
                return false;
            field.setValue(point, double(integerValue));
            return true;
        }
        if (field.format == Format::SinglePrecision) {
            float single = 0.0f;
            if (!number(row, field.column, &single))
                return false;
            field.setValue(point, double(single));
            return true;
        }
        double real = 0.0;
        if (!number(row, field.column, &real))
            return false;
        field.setValue(point, real);
        return true;
    }

    bool fail(int row, const QString &message)
    {
        problem = QStringLiteral("%1, line %2: %3").arg(name).arg(rowLines[row]).arg(message);
        return false;
    }

private:
    bool splitRecords(const QString &text, QVector<QStringList> *records, QVector<int> *lines)
    {
        QStringList fields;
        QString field;
        bool quoted = false;
        bool fieldStarted = false;
        int line = 1;
        int recordLine = 1;
        for (int i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (quoted) {
                if (c == QLatin1Char('"')) {
                    if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                        field += c;
                        ++i;
                    } else {
                        quoted = false;
                    }
                } else {
                    if (c == QLatin1Char('\n'))
                        ++line;
                    field += c;
                }
                continue;
            }
            if (c == QLatin1Char('"') && !fieldStarted) {
                quoted = true;
                fieldStarted = true;
            } else if (c == QLatin1Char(',')) {
                fields.append(field);
                field.clear();
                fieldStarted = false;
            } else if (c == QLatin1Char('\n')) {
                if (field.endsWith(QLatin1Char('\r')))
                    field.chop(1);
                fields.append(field);
                records->append(fields);
                lines->append(recordLine);
                fields.clear();
                field.clear();
                fieldStarted = false;
                recordLine = ++line;
            } else {
                field += c;
                fieldStarted = true;
            }
        }
        if (quoted) {
            problem = QStringLiteral("%1, line %2: a quoted field does not end").arg(name).arg(recordLine);
            return false;
        }
        if (fieldStarted || !fields.isEmpty()) {
            fields.append(field);
            records->append(fields);
            lines->append(recordLine);
        }
        return true;
    }

    QString name;
    QString problem;
    bool valid = false;
    QHash<QString, int> columns;
    QHash<QString, int> present;
    QStringList headerNames;
    QVector<QStringList> rows;
    QVector<int> rowLines;
};

// The rows of a table with an image_index column, each made by make(table,
// row, index).
template <typename Row, typename Make>
bool parseIndexedRows(const QByteArray &data, const QString &fileName, const QStringList &columns, QVector<Row> *rows,
                      QString *error, Make make)
{
    Table table(data, fileName, columns);
    if (!table.isValid()) {
        *error = table.error();
        return false;
    }
    for (int row = 0; row < table.rowCount(); ++row) {
        qint64 index = 0;
        if (!table.integer(row, QStringLiteral("image_index"), &index)) {
            *error = table.error();
            return false;
        }
        rows->append(make(table, row, int(index)));
    }
    return true;
}

} // namespace

QString formatNumber(double value)
{
    return shortest(value);
}

QString formatNumber(float value)
{
    return shortest(value);
}

QString quoteField(const QString &field)
{
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')) && !field.contains(QLatin1Char('\n'))
        && !field.contains(QLatin1Char('\r')))
        return field;
    QString quoted = field;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QByteArray pointsCsv(const RdStudy &study)
{
    QByteArray data;
    const QVector<RdPointField> fields = rdStudyPointFields(study.extraColumns);
    QStringList header = imageColumns;
    for (const RdPointField &field : fields)
        header.append(field.column);
    appendRecord(data, header);
    for (const RdImageResult &image : study.images)
        for (const RdPoint &point : image.points) {
            QStringList record{QString::number(image.index), image.image, QString::number(image.width),
                               QString::number(image.height)};
            for (const RdPointField &field : fields)
                record.append(rdWriteField(field, point));
            appendRecord(data, record);
        }
    return data;
}

QByteArray skippedCsv(const RdStudy &study)
{
    QByteArray data;
    appendRecord(data, skippedColumns + QStringList{skippedSchemeColumn});
    // Skipped images and failed schemes together, in image order.
    QVector<RdSkippedImage> rows = study.skipped + study.failures;
    std::stable_sort(rows.begin(), rows.end(),
                     [](const RdSkippedImage &a, const RdSkippedImage &b) { return a.index < b.index; });
    for (const RdSkippedImage &skipped : rows)
        appendRecord(data, {QString::number(skipped.index), skipped.image, skipped.reason, skipped.scheme});
    return data;
}

QByteArray shardsCsv(const RdStudy &study)
{
    QByteArray data;
    appendRecord(data, shardsColumns);
    for (const RdShard &shard : study.shards)
        appendRecord(data, {QString::number(shard.index), QString::number(shard.count),
                            QString::number(shard.inputImages)});
    return data;
}

namespace {

QStringList intervalFields(const MeanInterval &interval)
{
    return {optionalNumber(interval.low), optionalNumber(interval.high), optionalNumber(interval.minimum),
            optionalNumber(interval.maximum)};
}

QStringList deltaFields(const BdResult &delta)
{
    return {optionalNumber(delta.ratePercent), optionalNumber(delta.quality), optionalNumber(delta.rateLow),
            optionalNumber(delta.rateHigh),    optionalNumber(delta.qualityLow), optionalNumber(delta.qualityHigh)};
}

// The fields added later of one image's row (empty intervals), or of the
// average row (empty ranges).
QStringList addedSummaryFields(const RdSummary &summary, const RdImageSummary *image)
{
    const QStringList noInterval{QString(), QString(), QString(), QString()};
    QStringList fields = image ? noInterval : intervalFields(summary.rateInterval);
    for (int a = 0; a < summary.anchors.size(); ++a)
        fields += image ? noInterval : intervalFields(summary.anchorRateIntervals[a]);
    for (int t = 0; t < summary.tested.size(); ++t) {
        if (image) {
            fields += deltaFields(image->hulls[t].scheme) + noInterval;
            fields += deltaFields(image->hulls[t].withJpegOpt) + noInterval;
            continue;
        }
        const RdHullMean &mean = summary.hullMeans[t];
        for (const auto &pair : {qMakePair(mean.schemeRate, mean.schemePsnr),
                                 qMakePair(mean.withJpegOptRate, mean.withJpegOptPsnr)})
            fields += QStringList{optionalNumber(pair.first.mean), optionalNumber(pair.second), QString(), QString(),
                                  QString(), QString()}
                      + intervalFields(pair.first);
    }
    return fields;
}

} // namespace

QByteArray summaryCsv(const RdSummary &summary)
{
    QByteArray data;
    QStringList header = summaryColumns;
    for (const QString &anchor : summary.anchors)
        for (const QString &column : anchorColumns)
            header.append(anchor + QLatin1Char('_') + column);
    header += intervalColumns;
    for (const QString &anchor : summary.anchors)
        for (const QString &column : intervalColumns)
            header.append(anchor + QLatin1Char('_') + column);
    for (const QString &tested : summary.tested)
        for (const QString &which : {QStringLiteral("_hull_"), QStringLiteral("_with_jpeg_opt_hull_")})
            for (const QString &column : hullColumns)
                header.append(tested + which + column);
    appendRecord(data, header);
    for (const RdImageSummary &image : summary.images) {
        QStringList fields{QString::number(image.index),           image.image,
                           optionalNumber(image.delta.ratePercent), optionalNumber(image.delta.quality),
                           optionalNumber(image.delta.rateLow),     optionalNumber(image.delta.rateHigh),
                           optionalNumber(image.delta.qualityLow),  optionalNumber(image.delta.qualityHigh)};
        for (const RdAnchorDelta &delta : image.anchors)
            fields += QStringList{optionalNumber(delta.psnr.ratePercent),   optionalNumber(delta.psnr.quality),
                                  optionalNumber(delta.psnr.rateLow),       optionalNumber(delta.psnr.rateHigh),
                                  optionalNumber(delta.psnr.qualityLow),    optionalNumber(delta.psnr.qualityHigh),
                                  optionalNumber(delta.crossoverPsnr),      optionalNumber(delta.ssimDb.ratePercent),
                                  optionalNumber(delta.ssimDb.quality),     optionalNumber(delta.ssimDb.rateLow),
                                  optionalNumber(delta.ssimDb.rateHigh),    optionalNumber(delta.ssimDb.qualityLow),
                                  optionalNumber(delta.ssimDb.qualityHigh), optionalNumber(delta.crossoverSsim)};
        appendRecord(data, fields + addedSummaryFields(summary, &image));
    }
    QStringList average{QString(), QStringLiteral("average"), optionalNumber(summary.meanRatePercent),
                        optionalNumber(summary.meanPsnr), QString(), QString(), QString(), QString()};
    for (const RdAnchorMean &mean : summary.anchorMeans)
        average += QStringList{optionalNumber(mean.psnrRatePercent), optionalNumber(mean.psnrDelta),
                               QString(), QString(), QString(), QString(), optionalNumber(mean.crossoverPsnr),
                               optionalNumber(mean.ssimRatePercent), optionalNumber(mean.ssimDelta),
                               QString(), QString(), QString(), QString(), optionalNumber(mean.crossoverSsim)};
    appendRecord(data, average + addedSummaryFields(summary, nullptr));
    return data;
}

bool parsePoints(const QByteArray &data, const QString &fileName, QVector<RdImageResult> *images, QString *error,
                 QStringList *extraColumns)
{
    Table table(data, fileName, pointsColumns);
    if (!table.isValid()) {
        *error = table.error();
        return false;
    }
    // Every column after the known ones is a metric of the study's own.
    QStringList extra;
    for (const QString &column : table.header())
        if (!pointsColumns.contains(column) && !addedPointsColumns.contains(column))
            extra.append(column);
    if (extraColumns)
        *extraColumns = extra;
    const QVector<RdPointField> fields = rdStudyPointFields(extra);
    QMap<int, RdImageResult> byIndex;
    for (int row = 0; row < table.rowCount(); ++row) {
        qint64 index = 0;
        qint64 width = 0;
        qint64 height = 0;
        RdPoint point;
        if (!table.integer(row, QStringLiteral("image_index"), &index)
            || !table.integer(row, QStringLiteral("width"), &width)
            || !table.integer(row, QStringLiteral("height"), &height)) {
            *error = table.error();
            return false;
        }
        for (const RdPointField &field : fields)
            if (!table.field(row, field, &point)) {
                *error = table.error();
                return false;
            }
        if (point.scheme.isEmpty()) {
            table.fail(row, QStringLiteral("no scheme"));
            *error = table.error();
            return false;
        }
        const QString name = table.text(row, QStringLiteral("image"));
        auto it = byIndex.find(int(index));
        if (it == byIndex.end()) {
            RdImageResult image;
            image.index = int(index);
            image.image = name;
            image.width = int(width);
            image.height = int(height);
            it = byIndex.insert(int(index), image);
        } else if (it->image != name || it->width != width || it->height != height) {
            table.fail(row, QStringLiteral("image %1 is %2 here but %3 before").arg(index).arg(name, it->image));
            *error = table.error();
            return false;
        }
        it->points.append(point);
    }
    for (const RdImageResult &image : byIndex)
        images->append(image);
    return true;
}

QByteArray fittedCsv(const RdStudy &study)
{
    QByteArray data;
    appendRecord(data, fittedColumns);
    for (const RdFittedImage &fitted : study.fitted)
        appendRecord(data, {fitted.scheme, QString::number(fitted.index), fitted.image});
    return data;
}

bool parseFitted(const QByteArray &data, const QString &fileName, QVector<RdFittedImage> *fitted, QString *error)
{
    return parseIndexedRows(data, fileName, fittedColumns, fitted, error, [](const Table &table, int row, int index) {
        return RdFittedImage{table.text(row, QStringLiteral("scheme")), index, table.text(row, QStringLiteral("image"))};
    });
}

bool parseSkipped(const QByteArray &data, const QString &fileName, QVector<RdSkippedImage> *skipped, QString *error)
{
    return parseIndexedRows(data, fileName, skippedColumns, skipped, error, [](const Table &table, int row, int index) {
        return RdSkippedImage{index, table.text(row, QStringLiteral("image")), table.text(row, QStringLiteral("reason")),
                              table.text(row, skippedSchemeColumn)};
    });
}

bool parseShards(const QByteArray &data, const QString &fileName, QVector<RdShard> *shards, QString *error)
{
    Table table(data, fileName, shardsColumns);
    if (!table.isValid()) {
        *error = table.error();
        return false;
    }
    for (int row = 0; row < table.rowCount(); ++row) {
        qint64 index = 0;
        qint64 count = 0;
        qint64 inputImages = 0;
        if (!table.integer(row, QStringLiteral("shard_index"), &index)
            || !table.integer(row, QStringLiteral("shard_count"), &count)
            || !table.integer(row, QStringLiteral("input_images"), &inputImages)) {
            *error = table.error();
            return false;
        }
        shards->append(RdShard{int(index), int(count), int(inputImages)});
    }
    return true;
}

} // namespace RdCsv

} // namespace veltrano
