#include "study/rdscheme.h"

#include "study/codecs/avifcodec.h"
#include "codec/qimage/hybridjpeg.h"
#include "study/rdregionscheme.h"
#include "study/codecs/jpegcodec.h"
#include "study/codecs/jxlcodec.h"
#include "study/codecs/resampling.h"
#include "study/codecs/webpcodec.h"

#include <QSet>

namespace veltrano {

namespace {

QVector<int> steps(std::initializer_list<int> values)
{
    return QVector<int>(values);
}

// Decoded data that must have the source's size.
QImage ofSize(const QImage &image, const QSize &size, const QString &what, QString *error)
{
    if (image.isNull() || image.size() == size)
        return image;
    *error = QStringLiteral("the %1 data decode at %2x%3 pixels instead of %4x%5")
                 .arg(what)
                 .arg(image.width())
                 .arg(image.height())
                 .arg(size.width())
                 .arg(size.height());
    return QImage();
}

RdScheme plainOrOptimisedJpeg(bool optimised)
{
    RdScheme scheme;
    scheme.name = optimised ? QStringLiteral("jpeg-opt") : QStringLiteral("jpeg");
    scheme.settingName = QStringLiteral("JPEG quality");
    scheme.suffix = QStringLiteral("jpg");
    scheme.settings = rdQualities();
    scheme.encode = [optimised](const QImage &source, int quality, QString *error) {
        return encodeJpeg(source, quality, optimised, error);
    };
    scheme.decode = [](const QByteArray &data, const QSize &size, QString *error) {
        return ofSize(decodeImageData(data, error), size, QStringLiteral("JPEG"), error);
    };
    return scheme;
}

RdScheme hybridSchemeOf(const QList<float> &weights)
{
    RdScheme scheme;
    scheme.name = QStringLiteral("hybrid");
    scheme.settingName = QStringLiteral("component JPEG quality");
    scheme.suffix = QStringLiteral("jpg");
    scheme.settings = rdQualities();
    scheme.encode = [weights](const QImage &source, int quality, QString *error) {
        // The table is checked before any work, as the decoder needs it.
        if (!hybridWeightsSuffice(weights, source.width(), source.height(), error))
            return QByteArray();
        return encodeHybridJpeg(source, quality, error);
    };
    scheme.decode = [weights](const QByteArray &data, const QSize &size, QString *error) {
        return decodeHybridJpeg(data, size.width(), size.height(), weights, error);
    };
    scheme.reduction.step = 2;
    scheme.reduction.classicCoding = true;
    return scheme;
}

// Reduced by 2, stored as plain JPEG, expanded back.
RdScheme resampleScheme(bool lanczos)
{
    RdScheme scheme;
    scheme.name = lanczos ? QStringLiteral("resample-lanczos") : QStringLiteral("resample-box");
    scheme.settingName = QStringLiteral("JPEG quality of the half-size image");
    scheme.suffix = QStringLiteral("jpg");
    scheme.settings = rdQualities();
    scheme.encode = [lanczos](const QImage &source, int quality, QString *error) {
        const QImage reduced = lanczos ? reduceLanczos2(source) : reduceBox2(source);
        if (reduced.isNull()) {
            *error = QStringLiteral("an image of %1x%2 pixels cannot be halved").arg(source.width()).arg(source.height());
            return QByteArray();
        }
        return encodeJpeg(reduced, quality, false, error);
    };
    scheme.decode = [lanczos](const QByteArray &data, const QSize &size, QString *error) {
        const QImage reduced = ofSize(decodeImageData(data, error), QSize(size.width() / 2, size.height() / 2), QStringLiteral("JPEG"), error);
        if (reduced.isNull())
            return QImage();
        return lanczos ? expandLanczos2(reduced, size.width(), size.height())
                       : expandBilinear2(reduced, size.width(), size.height());
    };
    return scheme;
}

RdScheme webpScheme()
{
    RdScheme scheme;
    scheme.name = QStringLiteral("webp");
    scheme.settingName = QStringLiteral("WebP quality");
    scheme.suffix = QStringLiteral("webp");
    scheme.settings = rdWebpQualities();
    scheme.encode = encodeWebp;
    scheme.decode = [](const QByteArray &data, const QSize &size, QString *error) {
        return ofSize(decodeWebp(data, error), size, QStringLiteral("WebP"), error);
    };
    return scheme;
}

RdScheme avifScheme()
{
    RdScheme scheme;
    scheme.name = QStringLiteral("avif");
    scheme.settingName = QStringLiteral("AVIF quality");
    scheme.suffix = QStringLiteral("avif");
    scheme.settings = rdAvifQualities();
    scheme.encode = encodeAvif;
    scheme.decode = [](const QByteArray &data, const QSize &size, QString *error) {
        return ofSize(decodeAvif(data, error), size, QStringLiteral("AVIF"), error);
    };
    return scheme;
}

RdScheme jxlScheme()
{
    RdScheme scheme;
    scheme.name = QStringLiteral("jxl");
    scheme.settingName = QStringLiteral("JPEG XL quality");
    scheme.suffix = QStringLiteral("jxl");
    scheme.settings = rdJxlQualities();
    scheme.encode = encodeJxl;
    scheme.decode = [](const QByteArray &data, const QSize &size, QString *error) {
        return ofSize(decodeJxl(data, error), size, QStringLiteral("JPEG XL"), error);
    };
    return scheme;
}

} // namespace

QVector<int> rdQualities()
{
    QVector<int> qualities;
    for (int quality = 0; quality <= 100; quality += 5)
        qualities.append(quality);
    return qualities;
}

QVector<int> rdWebpQualities()
{
    return steps({0, 5, 10, 20, 30, 40, 50, 60, 70, 80, 90, 95, 100});
}

QVector<int> rdAvifQualities()
{
    return steps({0, 10, 20, 30, 40, 50, 55, 60, 65, 70, 75, 80, 85, 90});
}

QVector<int> rdJxlQualities()
{
    return steps({0, 10, 20, 30, 40, 50, 60, 70, 80, 85, 90, 95});
}

QVector<RdScheme> rdStandardSchemes(const QList<float> &weights)
{
    return {plainOrOptimisedJpeg(false), hybridSchemeOf(weights), plainOrOptimisedJpeg(true), resampleScheme(false), resampleScheme(true),
            webpScheme(),      avifScheme(),            jxlScheme()};
}

QStringList rdStandardSchemeNames()
{
    QStringList names;
    for (const RdScheme &scheme : rdStandardSchemes(QList<float>()))
        names.append(scheme.name);
    return names;
}

bool selectRdSchemes(const QStringList &names, const QList<float> &weights, QVector<RdScheme> *schemes,
                     QString *error)
{
    // Schemes outside the default list are found by name too.
    const QVector<RdScheme> standard = rdStandardSchemes(weights) << rdRegionScheme();
    const QString known = rdStandardSchemeNames().join(QStringLiteral(", ")) + QStringLiteral(" (and region)");
    QSet<QString> seen;
    schemes->clear();
    for (const QString &name : names) {
        if (seen.contains(name)) {
            *error = QStringLiteral("scheme '%1' is given twice").arg(name);
            return false;
        }
        seen.insert(name);
        const auto it = std::find_if(standard.begin(), standard.end(),
                                     [&name](const RdScheme &scheme) { return scheme.name == name; });
        if (it == standard.end()) {
            *error = QStringLiteral("unknown scheme '%1'; the schemes are %2").arg(name, known);
            return false;
        }
        schemes->append(*it);
    }
    if (schemes->isEmpty()) {
        *error = QStringLiteral("no scheme given; the schemes are %1").arg(known);
        return false;
    }
    return true;
}

bool splitRdSpec(const QString &spec, const QString &what, QVector<RdSpecItem> *items, QString *error)
{
    items->clear();
    QSet<QString> seen;
    for (const QString &rawItem : spec.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        RdSpecItem item;
        item.item = rawItem.trimmed();
        const int equals = item.item.indexOf(QLatin1Char('='));
        item.hasValue = equals >= 0;
        item.key = equals < 0 ? item.item : item.item.left(equals);
        item.value = equals < 0 ? QString() : item.item.mid(equals + 1);
        if (seen.contains(item.key)) {
            *error = QStringLiteral("'%1' is given twice in '%2'").arg(item.key, spec);
            return false;
        }
        seen.insert(item.key);
        items->append(item);
    }
    if (items->isEmpty()) {
        *error = QStringLiteral("an empty %1 spec").arg(what);
        return false;
    }
    return true;
}

} // namespace veltrano
