#ifndef WEIGHTFIT_H
#define WEIGHTFIT_H

#include <QImage>
#include <QList>
#include <QString>

namespace veltrano {

// Fitting a reconstruction weights table to a corpus of images (ftjpeg
// fit-weights), the error it minimises, and the provenance file kept beside
// a fitted table.

// One image of a fitting corpus: the components as the decoder sees them
// (decoded from their JPEG) and the source they should expand back to.
struct WeightFitSample
{
    QImage components;
    QImage target;
};

struct WeightFitResult
{
    QList<float> weights;   // the start table with the fitted entries in place
    QList<int> fittedIndexes; // the entries the expansions use
    QList<int> heldIndexes;   // those of them that keep their start value
    double startMse = 0;
    double fittedMse = 0;
    int evaluations = 0;
};

// The mean squared error over every pixel and colour channel of the samples
// (pooled: larger images weigh more) of their expansions by the inverse
// transform with the table, exactly as a decoder computes them (clamped, as
// expandHybridVariant does, when clamp is set). Negative, with *error set,
// when an expansion fails (a table too short for it).
double reconstructionMse(const QList<WeightFitSample> &samples, int step, int radius, const QList<float> &weights,
                         QString *error = nullptr, bool clamp = false);

// The reconstruction weights that minimise reconstructionMse over the
// samples, starting from the given table. The expansion is a normalised
// weighted sum, so its error is not quadratic in the weights, and the decoder
// truncates: the search is a compass search on the exact error over the
// entries the expansions look up, an improving move repeated with a doubled
// step, the step halved when no move improves. The terms of one output pixel
// along an axis all lie at distances of one class (d mod step, up to sign),
// and only ratios within a class matter: the entry of each class's nearest
// distance keeps its start value. Only strict improvements are taken, so the
// result never has a higher error than the start table. Stops when the step falls below 1e-5 of
// the largest start weight or after maxEvaluations expansions of the corpus.
// With clamp, the expansions clamp their channels as a clamped variant does.
WeightFitResult fitReconstructionWeights(const QList<WeightFitSample> &samples, int step, int radius,
                                         const QList<float> &start, int maxEvaluations = 1500,
                                         QString *error = nullptr, bool clamp = false);

// Where a fitted table came from, kept beside it (the table's own format is
// fixed) in the sidecar file weightFitProvenanceFile(table): one record per
// line, fields separated by tabs, "options" and the fit's options, then
// "fitted" or "held-out", the SHA-256 of an image file's bytes in hex and its
// path as given.
struct WeightFitImage
{
    QString digest;
    QString path;
};

struct WeightFitProvenance
{
    QString options;
    QList<WeightFitImage> fitted;
    QList<WeightFitImage> heldOut;
};

QString weightFitProvenanceFile(const QString &tableFile);

QByteArray serializeWeightFitProvenance(const WeightFitProvenance &provenance);

// False when the sidecar does not exist; false, with *error naming the file
// and line, when it cannot be read or is damaged.
bool readWeightFitProvenance(const QString &tableFile, WeightFitProvenance *provenance, QString *error);

// The SHA-256 of a file's bytes in lower-case hex; empty when it cannot be
// read.
QString fileDigest(const QString &fileName);

} // namespace veltrano

#endif // WEIGHTFIT_H
