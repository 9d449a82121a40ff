#include "codec/qimage/weightfit.h"

#include "codec/qimage/hybridvariant.h"
#include "codec/qimage/inversetransform.h"
#include "codec/format/variantsegment.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cmath>
#include <set>

namespace veltrano {

namespace {

double squaredError(const QImage &a, const QImage &b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const QRgb *ra = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const QRgb *rb = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        qint64 row = 0;
        for (int x = 0; x < a.width(); ++x) {
            const int dr = qRed(ra[x]) - qRed(rb[x]);
            const int dg = qGreen(ra[x]) - qGreen(rb[x]);
            const int db = qBlue(ra[x]) - qBlue(rb[x]);
            row += dr * dr + dg * dg + db * db;
        }
        sum += double(row);
    }
    return sum;
}

} // namespace

double reconstructionMse(const QList<WeightFitSample> &samples, int step, int radius, const QList<float> &weights,
                         QString *error, bool clamp)
{
    double sum = 0;
    double count = 0;
    for (const WeightFitSample &sample : samples) {
        const QImage target = sample.target.convertToFormat(QImage::Format_RGB32);
        const QImage expanded = expandHybridVariant(sample.components, target.width(), target.height(), step, radius,
                                                    clamp, weights, error);
        if (expanded.isNull())
            return -1;
        sum += squaredError(expanded, target);
        count += 3.0 * double(target.width()) * double(target.height());
    }
    return count > 0 ? sum / count : 0;
}

namespace {

// The entries any of the expansions of the samples looks up, in increasing
// order.
QList<int> usedIndexes(const QList<WeightFitSample> &samples, int step, int radius)
{
    std::set<int> used;
    for (const WeightFitSample &sample : samples)
        for (int index : usedWeightIndexes(sample.target.width(), sample.target.height(), step, radius))
            used.insert(index);
    return QList<int>(used.begin(), used.end());
}

// Every term that meets at a pixel along one axis lies at a distance d with
// the same d mod step, up to sign: the pixel's class. The expansion divides by
// the weight sum per pixel, so scaling all weights of one class changes
// nothing; the entry of each class's nearest distance is held, the others are
// fitted.
std::set<int> heldIndexes(const QList<WeightFitSample> &samples, int step, int radius)
{
    int longest = 0;
    for (const WeightFitSample &sample : samples)
        longest = std::max(longest, std::max(sample.target.width(), sample.target.height()) - 1);
    const int distance = std::min(radius, longest);
    const float q = static_cast<float>(20.0 / step);
    std::set<int> held;
    std::set<int> anchoredClasses;
    for (int d = 0; d <= distance; ++d) {
        const int index = int(std::ceil(double(float(d) * q)));
        const int remainder = d % step;
        const int pixelClass = std::min(remainder, step - remainder);
        if (anchoredClasses.insert(pixelClass).second)
            held.insert(index);
    }
    return held;
}

// The largest magnitude among the fitted entries of the start table, 1 when
// that is 0 or not finite: the scale of the search's steps.
float searchScale(const QList<float> &start, const QList<int> &fitted)
{
    float scale = 0;
    for (int index : fitted)
        scale = std::max(scale, std::fabs(start.at(index)));
    if (!(scale > 0) || !std::isfinite(scale))
        scale = 1;
    return scale;
}

// The compass search over the free entries, from result->weights (whose error
// is result->fittedMse), which it leaves at the best table found, until the
// step falls below smallest or result->evaluations reaches maxEvaluations.
// Each free entry is moved by +delta, then -delta, a move that improves
// repeated with a doubled step; the step is halved after a round without
// improvement.
void compassSearch(const QList<WeightFitSample> &prepared, int step, int radius, bool clamp,
                   const QList<int> &free, double delta, double smallest, int maxEvaluations,
                   WeightFitResult *result)
{
    QList<float> &best = result->weights;
    double &bestMse = result->fittedMse;
    auto evaluate = [&](const QList<float> &table) {
        ++result->evaluations;
        const double value = reconstructionMse(prepared, step, radius, table, nullptr, clamp);
        return value < 0 ? HUGE_VAL : value;
    };
    while (delta >= smallest && result->evaluations < maxEvaluations && !free.isEmpty()) {
        bool improved = false;
        for (int index : free) {
            for (int sign : {1, -1}) {
                double move = sign * delta;
                bool moved = false;
                while (result->evaluations < maxEvaluations) {
                    QList<float> trial = best;
                    trial[index] = float(double(best.at(index)) + move);
                    if (trial.at(index) == best.at(index))
                        break;
                    const double value = evaluate(trial);
                    if (!(value < bestMse))
                        break;
                    best = trial;
                    bestMse = value;
                    moved = true;
                    move *= 2;
                }
                if (moved) {
                    improved = true;
                    break;
                }
            }
        }
        if (!improved)
            delta *= 0.5;
    }
}

} // namespace

WeightFitResult fitReconstructionWeights(const QList<WeightFitSample> &samples, int step, int radius,
                                         const QList<float> &start, int maxEvaluations, QString *error, bool clamp)
{
    WeightFitResult result;
    result.weights = start;
    result.fittedIndexes = usedIndexes(samples, step, radius);

    // The targets once in the format the error is measured on.
    QList<WeightFitSample> prepared;
    for (const WeightFitSample &sample : samples)
        prepared.append({sample.components, sample.target.convertToFormat(QImage::Format_RGB32)});

    result.startMse = reconstructionMse(prepared, step, radius, start, error, clamp);
    result.fittedMse = result.startMse;
    result.evaluations = 1;
    if (result.startMse < 0)
        return result;

    const std::set<int> held = heldIndexes(samples, step, radius);
    QList<int> free;
    for (int index : result.fittedIndexes)
        if (!held.count(index))
            free.append(index);
    result.heldIndexes = QList<int>(held.begin(), held.end());
    const float scale = searchScale(start, result.fittedIndexes);
    compassSearch(prepared, step, radius, clamp, free, 0.25 * scale, 1e-5 * scale, maxEvaluations, &result);
    return result;
}

QString weightFitProvenanceFile(const QString &tableFile)
{
    return tableFile + QStringLiteral(".provenance");
}

QByteArray serializeWeightFitProvenance(const WeightFitProvenance &provenance)
{
    QByteArray text = "options\t" + provenance.options.toUtf8() + '\n';
    for (const WeightFitImage &image : provenance.fitted)
        text += "fitted\t" + image.digest.toLatin1() + '\t' + image.path.toUtf8() + '\n';
    for (const WeightFitImage &image : provenance.heldOut)
        text += "held-out\t" + image.digest.toLatin1() + '\t' + image.path.toUtf8() + '\n';
    return text;
}

bool readWeightFitProvenance(const QString &tableFile, WeightFitProvenance *provenance, QString *error)
{
    const QString name = weightFitProvenanceFile(tableFile);
    QFile file(name);
    if (!file.exists())
        return false;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(QDir::toNativeSeparators(name), file.errorString());
        return false;
    }
    WeightFitProvenance result;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].isEmpty())
            continue;
        const QStringList fields = QString::fromUtf8(lines[i]).split(QLatin1Char('\t'));
        const QString kind = fields.value(0);
        if (kind == QLatin1String("options") && fields.size() == 2) {
            result.options = fields[1];
        } else if ((kind == QLatin1String("fitted") || kind == QLatin1String("held-out")) && fields.size() == 3
                   && fields[1].size() == 64) {
            (kind == QLatin1String("fitted") ? result.fitted : result.heldOut).append({fields[1], fields[2]});
        } else {
            *error = QStringLiteral("%1, line %2: not a provenance record").arg(QDir::toNativeSeparators(name)).arg(i + 1);
            return false;
        }
    }
    *provenance = result;
    return true;
}

QString fileDigest(const QString &fileName)
{
    QFile file(fileName);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace veltrano
