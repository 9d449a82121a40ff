#ifndef RDVARIANTSCHEME_H
#define RDVARIANTSCHEME_H

#include "codec/qimage/hybridvariant.h"
#include "study/rdscheme.h"

#include <QList>
#include <QString>

namespace veltrano {

// A hybrid variant as a scheme of the study, from a spec of comma-separated
// keys: step=H, kradius=N, rradius=R, weights=FILE, chroma=420|444,
// optimize, progressive, clamp (for example "step=2,rradius=3,weights=fit.txt,
// optimize"). Keys left out keep the classic value; without weights= the
// study's table is used.
struct RdVariantSpec
{
    // "hybrid:" and the spec, with a weights file named by its file name
    // only, so that the name can also name kept files.
    QString name;
    HybridVariant variant;
    QString weightsFile; // empty: the study's table
};

// False, with *error saying which key is wrong, for an unknown key, a value
// out of range, a key given twice or an empty spec.
bool parseRdVariantSpec(const QString &spec, RdVariantSpec *result, QString *error);

// The scheme: the variant file at component qualities 0, 5, ..., 100 with
// the table (the weights file's, read by the caller, or the study's),
// decoded from its own segment.
RdScheme rdVariantScheme(const RdVariantSpec &spec, const QList<float> &weights);

} // namespace veltrano

#endif // RDVARIANTSCHEME_H
