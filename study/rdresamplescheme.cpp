#include "study/rdresamplescheme.h"

#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/hybridvariant.h"
#include "study/codecs/jpegcodec.h"


namespace veltrano {

namespace {

const QString prefix = QStringLiteral("resample:");

QString filterName(ResampleFilter filter)
{
    switch (filter) {
    case ResampleFilter::Box:
        return QStringLiteral("box");
    case ResampleFilter::Bilinear:
        return QStringLiteral("bilinear");
    case ResampleFilter::Bicubic:
        return QStringLiteral("bicubic");
    case ResampleFilter::Lanczos3:
        break;
    }
    return QStringLiteral("lanczos");
}

bool downFilter(const QString &name, ResampleFilter *filter)
{
    if (name == QLatin1String("box"))
        *filter = ResampleFilter::Box;
    else if (name == QLatin1String("lanczos"))
        *filter = ResampleFilter::Lanczos3;
    else
        return false;
    return true;
}

bool upFilter(const QString &name, ResampleFilter *filter)
{
    if (name == QLatin1String("bilinear"))
        *filter = ResampleFilter::Bilinear;
    else if (name == QLatin1String("bicubic"))
        *filter = ResampleFilter::Bicubic;
    else if (name == QLatin1String("lanczos"))
        *filter = ResampleFilter::Lanczos3;
    else
        return false;
    return true;
}

QByteArray encodeReduced(const QImage &reduced, int quality, const RdReduction &coding, QString *error)
{
    if (coding.classicCoding) {
        // As the classic hybrid file holds its components: Qt's writer on
        // an RGB image (three channels even when grey), 72 dpi.
        return encodeJpeg(withFixedResolution(reduced.convertToFormat(QImage::Format_ARGB32)), quality, false,
                          error);
    }
    HybridVariant variant;
    variant.optimize = coding.optimize;
    variant.progressive = coding.progressive;
    variant.chroma444 = coding.chroma444;
    return encodeVariantJpeg(reduced, quality, variant, error);
}

} // namespace

QString rdResampleSchemeName(const RdResampleSpec &spec)
{
    QString name = prefix + QStringLiteral("down=%1,up=%2").arg(filterName(spec.down), filterName(spec.up));
    if (!spec.matchedTo.isEmpty())
        return name + QLatin1Char('@') + spec.matchedTo;
    name += QStringLiteral(",step=%1").arg(spec.coding.step);
    if (spec.coding.optimize)
        name += QStringLiteral(",optimize");
    if (spec.coding.progressive)
        name += QStringLiteral(",progressive");
    if (spec.coding.chroma444)
        name += QStringLiteral(",chroma=444");
    return name;
}

QString rdAblationTarget(const QString &schemeName)
{
    if (!schemeName.startsWith(prefix))
        return QString();
    const int at = schemeName.indexOf(QLatin1Char('@'));
    return at < 0 ? QString() : schemeName.mid(at + 1);
}

bool parseRdResampleSpec(const QString &text, RdResampleSpec *spec, QString *error)
{
    RdResampleSpec parsed;
    parsed.coding.step = 2;
    QVector<RdSpecItem> items;
    if (!splitRdSpec(text, QStringLiteral("resampling"), &items, error))
        return false;
    for (const RdSpecItem &item : items) {
        const QString &key = item.key;
        const QString &value = item.value;
        bool ok = item.hasValue;
        if (key == QLatin1String("down")) {
            ok = ok && downFilter(value, &parsed.down);
        } else if (key == QLatin1String("up")) {
            ok = ok && upFilter(value, &parsed.up);
        } else if (key == QLatin1String("step")) {
            bool number = false;
            parsed.coding.step = value.toInt(&number);
            ok = ok && number && parsed.coding.step >= 1 && parsed.coding.step <= 64;
        } else if (key == QLatin1String("chroma")) {
            ok = ok && (value == QLatin1String("420") || value == QLatin1String("444"));
            parsed.coding.chroma444 = value == QLatin1String("444");
        } else if (key == QLatin1String("optimize") || key == QLatin1String("progressive")) {
            ok = !item.hasValue;
            (key == QLatin1String("optimize") ? parsed.coding.optimize : parsed.coding.progressive) = true;
        } else {
            ok = false;
        }
        if (!ok) {
            *error = QStringLiteral("'%1' in '%2' is not a resampling key (down=box|lanczos, "
                                    "up=bilinear|bicubic|lanczos, step=1..64, optimize, progressive, chroma=420|444)")
                         .arg(item.item, text);
            return false;
        }
    }
    *spec = parsed;
    return true;
}

bool parseRdAblationPairs(const QString &text, QVector<QPair<ResampleFilter, ResampleFilter>> *pairs,
                          QString *error)
{
    pairs->clear();
    if (text.trimmed() == QLatin1String("all")) {
        for (ResampleFilter down : {ResampleFilter::Box, ResampleFilter::Lanczos3})
            for (ResampleFilter up : {ResampleFilter::Bilinear, ResampleFilter::Bicubic, ResampleFilter::Lanczos3})
                pairs->append(qMakePair(down, up));
        return true;
    }
    const QStringList items = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &rawItem : items) {
        const QString item = rawItem.trimmed();
        const QStringList parts = item.split(QLatin1Char('-'));
        QPair<ResampleFilter, ResampleFilter> pair;
        if (parts.size() != 2 || !downFilter(parts[0], &pair.first) || !upFilter(parts[1], &pair.second)) {
            *error = QStringLiteral("'%1' is not a filter pair: box or lanczos, '-', bilinear, bicubic or lanczos "
                                    "(box-bilinear, lanczos-lanczos, ...), or 'all'")
                         .arg(item);
            return false;
        }
        if (pairs->contains(pair)) {
            *error = QStringLiteral("the filter pair '%1' is given twice").arg(item);
            return false;
        }
        pairs->append(pair);
    }
    if (pairs->isEmpty()) {
        *error = QStringLiteral("no filter pair given");
        return false;
    }
    return true;
}

QVector<QPair<ResampleFilter, ResampleFilter>> rdDefaultAblationPairs()
{
    return {qMakePair(ResampleFilter::Box, ResampleFilter::Bilinear),
            qMakePair(ResampleFilter::Lanczos3, ResampleFilter::Lanczos3)};
}

QVector<RdResampleSpec> rdMatchedAblations(const RdScheme &scheme,
                                           const QVector<QPair<ResampleFilter, ResampleFilter>> &pairs)
{
    QVector<RdResampleSpec> ablations;
    if (scheme.reduction.step < 1)
        return ablations;
    for (const auto &pair : pairs) {
        RdResampleSpec spec;
        spec.down = pair.first;
        spec.up = pair.second;
        spec.coding = scheme.reduction;
        spec.matchedTo = scheme.name;
        ablations.append(spec);
    }
    return ablations;
}

RdScheme rdResampleScheme(const RdResampleSpec &spec)
{
    RdScheme scheme;
    scheme.name = rdResampleSchemeName(spec);
    scheme.settingName = QStringLiteral("JPEG quality of the reduced image");
    scheme.suffix = QStringLiteral("jpg");
    scheme.settings = rdQualities();
    scheme.encode = [spec](const QImage &source, int quality, QString *error) {
        const QImage reduced = reduceImage(source, spec.coding.step, spec.down);
        if (reduced.isNull()) {
            *error = QStringLiteral("an image of %1x%2 pixels cannot be reduced by %3")
                         .arg(source.width())
                         .arg(source.height())
                         .arg(spec.coding.step);
            return QByteArray();
        }
        return encodeReduced(reduced, quality, spec.coding, error);
    };
    scheme.decode = [spec](const QByteArray &data, const QSize &size, QString *error) {
        const int step = spec.coding.step;
        const QImage reduced = decodeImageData(data, error);
        if (reduced.isNull())
            return QImage();
        if (reduced.size() != QSize(size.width() / step, size.height() / step)) {
            *error = QStringLiteral("the JPEG data decode at %1x%2 pixels instead of %3x%4")
                         .arg(reduced.width())
                         .arg(reduced.height())
                         .arg(size.width() / step)
                         .arg(size.height() / step);
            return QImage();
        }
        return expandImage(reduced, size.width(), size.height(), step, spec.up);
    };
    return scheme;
}

} // namespace veltrano
