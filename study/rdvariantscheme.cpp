#include "study/rdvariantscheme.h"

#include "codec/qimage/inversetransform.h"

#include <QFileInfo>

namespace veltrano {

bool parseRdVariantSpec(const QString &spec, RdVariantSpec *result, QString *error)
{
    RdVariantSpec parsed;
    QStringList nameParts;
    QVector<RdSpecItem> items;
    if (!splitRdSpec(spec, QStringLiteral("variant"), &items, error))
        return false;
    for (const RdSpecItem &parts : items) {
        const QString &item = parts.item;
        const QString &key = parts.key;
        const QString &value = parts.value;
        const int equals = parts.hasValue ? key.size() : -1;
        auto integer = [&](int minimum, int maximum, int *target) {
            bool ok = false;
            const int number = value.toInt(&ok);
            if (equals < 0 || !ok || number < minimum || number > maximum) {
                *error = QStringLiteral("%1 must be an integer from %2 to %3, not '%4'")
                             .arg(key)
                             .arg(minimum)
                             .arg(maximum)
                             .arg(value);
                return false;
            }
            *target = number;
            return true;
        };
        QString namePart = item;
        if (key == QLatin1String("step")) {
            if (!integer(1, maxTransformStep, &parsed.variant.step))
                return false;
        } else if (key == QLatin1String("kradius")) {
            if (!integer(1, maxTransformStep, &parsed.variant.kernelRadius))
                return false;
        } else if (key == QLatin1String("rradius")) {
            if (!integer(0, maxTransformStep, &parsed.variant.reconstructRadius))
                return false;
        } else if (key == QLatin1String("weights") && equals >= 0 && !value.isEmpty()) {
            parsed.weightsFile = value;
            namePart = QStringLiteral("weights=") + QFileInfo(value).fileName();
        } else if (key == QLatin1String("chroma") && (value == QLatin1String("420") || value == QLatin1String("444"))) {
            parsed.variant.chroma444 = value == QLatin1String("444");
        } else if (key == QLatin1String("optimize") && equals < 0) {
            parsed.variant.optimize = true;
        } else if (key == QLatin1String("progressive") && equals < 0) {
            parsed.variant.progressive = true;
        } else if (key == QLatin1String("clamp") && equals < 0) {
            parsed.variant.clamp = true;
        } else {
            *error = QStringLiteral("'%1' in '%2' is not a variant key (step=H, kradius=N, rradius=R, "
                                    "weights=FILE, chroma=420|444, optimize, progressive, clamp)")
                         .arg(item, spec);
            return false;
        }
        nameParts.append(namePart);
    }
    const QString invalid = checkHybridVariant(parsed.variant);
    if (!invalid.isEmpty()) {
        *error = QStringLiteral("'%1': %2").arg(spec, invalid);
        return false;
    }
    parsed.name = QStringLiteral("hybrid:") + nameParts.join(QLatin1Char(','));
    *result = parsed;
    return true;
}

RdScheme rdVariantScheme(const RdVariantSpec &spec, const QList<float> &weights)
{
    RdScheme scheme;
    scheme.name = spec.name;
    scheme.settingName = QStringLiteral("component JPEG quality");
    scheme.suffix = QStringLiteral("jpg");
    scheme.settings = rdQualities();
    const HybridVariant variant = spec.variant;
    scheme.encode = [variant, weights](const QImage &source, int quality, QString *error) {
        return encodeHybridVariant(source, quality, variant, weights, error);
    };
    scheme.decode = [](const QByteArray &data, const QSize &size, QString *error) {
        const QImage image = decodeHybridVariant(data, error);
        if (!image.isNull() && image.size() != size) {
            *error = QStringLiteral("the variant decodes at %1x%2 pixels instead of %3x%4")
                         .arg(image.width())
                         .arg(image.height())
                         .arg(size.width())
                         .arg(size.height());
            return QImage();
        }
        return image;
    };
    scheme.reduction.step = variant.step;
    scheme.reduction.optimize = variant.optimize;
    scheme.reduction.progressive = variant.progressive;
    scheme.reduction.chroma444 = variant.chroma444;
    return scheme;
}

} // namespace veltrano
