#ifndef RDRESAMPLESCHEME_H
#define RDRESAMPLESCHEME_H

#include "study/rdscheme.h"
#include "study/codecs/resampling.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

namespace veltrano {

// A resampling scheme of the study: the source reduced by a standard filter
// at a node spacing (step), stored as JPEG, decoded and expanded back to the
// source size by a standard filter, pixel centres aligned (resampling.h).
// With the spacing and JPEG coding of an F-transform scheme it is that
// scheme's matched ablation: the same pipeline with the F-transform
// reduction and expansion replaced by resampling.
struct RdResampleSpec
{
    ResampleFilter down = ResampleFilter::Box;
    ResampleFilter up = ResampleFilter::Bilinear;
    RdReduction coding{2, false, false, false, false};
    // The scheme it is matched to; empty for a scheme given by hand.
    QString matchedTo;
};

// The name points.csv gives it: "resample:down=D,up=U@SCHEME" for the
// ablation matched to SCHEME (its step and coding are SCHEME's), and
// "resample:down=D,up=U,step=H" with ",optimize", ",progressive" and
// ",chroma=444" as set for one given by hand; D is box or lanczos, U
// bilinear, bicubic or lanczos. The name can also name kept files.
QString rdResampleSchemeName(const RdResampleSpec &spec);

// The scheme a matched ablation's name is matched to; empty for any other
// name.
QString rdAblationTarget(const QString &schemeName);

// A spec given by hand: comma-separated down=box|lanczos,
// up=bilinear|bicubic|lanczos, step=H, optimize, progressive,
// chroma=420|444 (defaults box, bilinear, 2, baseline 4:2:0). False, with
// *error saying which key is wrong, otherwise.
bool parseRdResampleSpec(const QString &text, RdResampleSpec *spec, QString *error);

// The filter pairs of ablations, "D-U" each (box-bilinear, lanczos-lanczos,
// ...), comma-separated, or "all" for the six. False, with *error, for an
// unknown pair or one given twice.
bool parseRdAblationPairs(const QString &text, QVector<QPair<ResampleFilter, ResampleFilter>> *pairs,
                          QString *error);

// The pairs the study matches every F-transform scheme with by default:
// box-bilinear (the plainest) and lanczos-lanczos (the sharpest).
QVector<QPair<ResampleFilter, ResampleFilter>> rdDefaultAblationPairs();

// The ablations of a scheme (none when it reduces by no F-transform), one
// per pair, in the order given.
QVector<RdResampleSpec> rdMatchedAblations(const RdScheme &scheme,
                                           const QVector<QPair<ResampleFilter, ResampleFilter>> &pairs);

// The scheme: settings are the JPEG qualities 0, 5, ..., 100 of the reduced
// image.
RdScheme rdResampleScheme(const RdResampleSpec &spec);

} // namespace veltrano

#endif // RDRESAMPLESCHEME_H
