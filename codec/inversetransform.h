#ifndef INVERSETRANSFORM_H
#define INVERSETRANSFORM_H

#include "nodeterm.h"
#include "transformkernels.h"

#include <QImage>
#include <QList>
#include <QString>

// The largest weights-table index a call of inverseFTransform looks up, plus
// one: the number of entries the table must hold. Indexes are
// ceil(float(d * float(20 / step))) for the node distances d that occur.
int requiredWeightCount(int width, int height, int step, int radius);

// The largest node spacing the inverse transform takes: its working memory
// grows with the spacing, and no image of the size limit needs more.
constexpr int maxTransformStep = 1 << 20;

// Inverse F-transform: expands a component image to width x height opaque
// ARGB32 pixels. Row terms (outer) times column terms (inner) are accumulated
// in single precision, node indexes clamped to the component image's last
// column and row, weights looked up in the table. A channel whose weight sum
// is 0, or whose quotient is not finite or beyond the range of int (NaN,
// infinite or huge entries in the table), is 0; other channels keep the low
// 8 bits of the truncated quotient.
//
// Returns a null image, and sets *error when given, if the components are
// null, the size is not positive, step is outside 1 .. maxTransformStep,
// radius < 0, or the table is
// shorter than requiredWeightCount() (the message says how many entries were
// needed and how many the table has). Nothing is computed in that case.
QImage inverseFTransform(const QImage &components, int width, int height, int step, int radius,
                         const QList<float> &weights, QString *error = nullptr);

// The same expansion of a component image of componentWidth x
// componentHeight given row by row: fetch(source, j) returns component row j
// as QImage::pixel() words, asked for in increasing order (a row may be asked
// for again right after); take(sink, y, row) receives output row y, in order,
// and may stop the expansion by returning false. Holds a few rows, never the
// image. False, with *error set when given, for the failures of
// inverseFTransform; after take stopped it *error tells nothing.
bool inverseFTransformRows(int componentWidth, int componentHeight, transformkernels::FetchRow fetch,
                           void *source, int width, int height, int step, int radius, const QList<float> &weights,
                           transformkernels::TakeRow take, void *sink, QString *error);

#endif // INVERSETRANSFORM_H
