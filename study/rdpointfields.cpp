#include "study/rdpointfields.h"

#include "study/rdcsv.h"

#include <cmath>
#include <limits>

namespace veltrano {

namespace {

using Format = RdPointField::Format;
using Average = RdPointField::Average;

template <typename T>
RdPointField numeric(const char *column, const char *heading, int decimals, Format format, Average average,
                     bool added, T RdPoint::*member)
{
    RdPointField field;
    field.column = QString::fromLatin1(column);
    field.heading = QString::fromUtf8(heading);
    field.decimals = decimals;
    field.format = format;
    field.average = average;
    field.added = added;
    field.value = [member](const RdPoint &point) { return double(point.*member); };
    field.setValue = [member](RdPoint *point, double value) { point->*member = T(value); };
    return field;
}

RdPointField textField(const char *column, const char *heading, bool added, QString RdPoint::*member)
{
    RdPointField field;
    field.column = QString::fromLatin1(column);
    field.heading = QString::fromUtf8(heading);
    field.format = Format::Text;
    field.average = Average::None;
    field.added = added;
    field.text = [member](const RdPoint &point) { return point.*member; };
    field.setText = [member](RdPoint *point, const QString &value) { point->*member = value; };
    return field;
}

QVector<RdPointField> makeFields()
{
    return {
        textField("scheme", "scheme", false, &RdPoint::scheme),
        numeric("quality", "quality", 0, Format::Integer, Average::None, false, &RdPoint::quality),
        numeric("size_bytes", "bytes", 0, Format::Integer, Average::IntegerMean, false, &RdPoint::sizeBytes),
        numeric("bpp", "bpp", 4, Format::Number, Average::Mean, false, &RdPoint::bpp),
        numeric("psnr_db", "PSNR (dB)", 2, Format::Number, Average::FiniteMean, false, &RdPoint::psnr),
        numeric("ssim", "SSIM", 4, Format::SinglePrecision, Average::Mean, false, &RdPoint::ssim),
        numeric("windowed_ssim", "windowed SSIM", 4, Format::Number, Average::Mean, false, &RdPoint::windowedSsim),
        numeric("encode_ms", "encode (ms)", 1, Format::Milliseconds, Average::Mean, false, &RdPoint::encodeMs),
        numeric("decode_ms", "decode (ms)", 1, Format::Milliseconds, Average::Mean, false, &RdPoint::decodeMs),
        numeric("ms_ssim", "MS-SSIM", 4, Format::Number, Average::Mean, true, &RdPoint::msSsim),
        numeric("butteraugli", "Butteraugli", 3, Format::Number, Average::Mean, true, &RdPoint::butteraugli),
        numeric("butteraugli_max", "Butteraugli max", 3, Format::Number, Average::Mean, true,
                &RdPoint::butteraugliMax),
        textField("file", "", true, &RdPoint::file),
        numeric("header_bytes", "header bytes", 0, Format::OptionalInteger, Average::None, true,
                &RdPoint::headerBytes),
        numeric("payload_bpp", "", 4, Format::OptionalNumber, Average::None, true, &RdPoint::payloadBpp),
    };
}

} // namespace

const QVector<RdPointField> &rdPointFields()
{
    static const QVector<RdPointField> fields = makeFields();
    return fields;
}

QVector<RdPointField> rdStudyPointFields(const QStringList &extraColumns)
{
    QVector<RdPointField> fields = rdPointFields();
    for (int i = 0; i < extraColumns.size(); ++i) {
        RdPointField field;
        field.column = extraColumns[i];
        field.heading = extraColumns[i];
        field.decimals = 4;
        field.format = Format::Number;
        field.average = Average::Mean;
        field.added = true;
        field.value = [i](const RdPoint &point) {
            return i < point.extra.size() ? point.extra[i] : std::numeric_limits<double>::quiet_NaN();
        };
        field.setValue = [i](RdPoint *point, double value) {
            if (point->extra.size() <= i)
                point->extra.resize(i + 1);
            point->extra[i] = value;
        };
        fields.append(field);
    }
    return fields;
}

QString rdWriteField(const RdPointField &field, const RdPoint &point)
{
    if (field.format == Format::Text)
        return field.text(point);
    const double value = field.value(point);
    switch (field.format) {
    case Format::Integer:
        return QString::number(qint64(value));
    case Format::SinglePrecision:
        return RdCsv::formatNumber(float(value));
    case Format::Milliseconds:
        return QString::number(value, 'f', 3);
    case Format::OptionalInteger:
        return value < 0 ? QString() : QString::number(qint64(value));
    case Format::OptionalNumber:
        return std::isnan(value) ? QString() : RdCsv::formatNumber(value);
    case Format::Number:
    case Format::Text:
        break;
    }
    return RdCsv::formatNumber(value);
}

QString rdShowField(const RdPointField &field, const RdPoint &point)
{
    if (field.format == Format::Text)
        return field.text(point).toHtmlEscaped();
    const double value = field.value(point);
    if ((field.format == Format::OptionalInteger && value < 0) || (field.format == Format::OptionalNumber && std::isnan(value)))
        return QStringLiteral("&ndash;");
    if (field.format == Format::Integer || field.format == Format::OptionalInteger)
        return QString::number(qint64(value));
    if (std::isfinite(value))
        return QString::number(value, 'f', field.decimals);
    return std::isnan(value) ? QStringLiteral("&ndash;") : QStringLiteral("&infin;");
}

} // namespace veltrano
