#ifndef ROWTRANSFORMS_H
#define ROWTRANSFORMS_H

// The jobs of the transforms' kernels (codec/dsp/transformkernels.h): checked
// and set up from a transform's arguments, run on the instruction set in use,
// and run on rows given and taken one at a time (the streamed transforms);
// with the weights table's required length and the transforms' limits and
// messages.

#include "codec/dsp/nodeterm.h"
#include "codec/dsp/transformkernels.h"

#include <QList>
#include <QString>

#include <vector>

namespace veltrano {

// The largest weights-table index a call of inverseFTransform looks up, plus
// one: the number of entries the table must hold. Indexes are
// ceil(float(d * float(20 / step))) for the node distances d that occur.
int requiredWeightCount(int width, int height, int step, int radius);

// The largest node spacing the inverse transform takes: its working memory
// grows with the spacing, and no image of the size limit needs more.
constexpr int maxTransformStep = 1 << 20;

// The kernels' job of the direct transform for an image of width x height,
// but for its rows' source and destination, which the caller sets;
// coefficients holds the kernel the job points to. False when the image is
// too small for the step or the arguments make no transform.
bool directJob(int width, int height, int step, const QList<float> &kernel, std::vector<float> &coefficients,
               transformkernels::DirectJob &job);

// Runs the job with the instruction set the transforms use now
// (transformSimdLevel() of codec/dsp/cpufeatures.h: the widest the processor
// has unless a narrower one was chosen).
bool runDirectJob(const transformkernels::DirectJob &job);

// The kernels' job of the inverse transform, checked and filled but for its
// rows' source and destination; weightByDistance holds the weights the job
// points to. False, with *message set, when the arguments make no transform.
bool inverseJob(int componentWidth, int componentHeight, int width, int height, int step, int radius,
                const QList<float> &weights, std::vector<float> &weightByDistance,
                transformkernels::InverseJob &job, QString *message);

// Runs the job as runDirectJob does.
bool runInverseJob(const transformkernels::InverseJob &job);

// The message of a transform whose working memory could not be allocated.
QString workingMemoryMessage(int width, int height);

// The direct transform (directFTransform of directtransform.h) of an image
// of width x height given row by row: fetch(source, y) returns row y as
// QImage::pixel() words, asked for in increasing order (each row once, some
// skipped); take(sink, j, row) receives component row j, in order, and may
// stop the transform by returning false.
// Holds a few rows, never the image. False when the arguments make no
// component image, memory is short or take stopped it.
bool directFTransformRows(int width, int height, int step, const QList<float> &kernel,
                          transformkernels::FetchRow fetch, void *source, transformkernels::TakeRow take,
                          void *sink);

// The expansion (inverseFTransform of inversetransform.h) of a component
// image of componentWidth x componentHeight given row by row: fetch(source,
// j) returns component row j as QImage::pixel() words, asked for in
// increasing order (a row may be asked for again right after); take(sink, y,
// row) receives output row y, in order, and may stop the expansion by
// returning false. Holds a few rows, never the image. False, with *error set when given, for the failures of
// inverseFTransform; after take stopped it *error tells nothing.
bool inverseFTransformRows(int componentWidth, int componentHeight, transformkernels::FetchRow fetch,
                           void *source, int width, int height, int step, int radius, const QList<float> &weights,
                           transformkernels::TakeRow take, void *sink, QString *error);

} // namespace veltrano

#endif // ROWTRANSFORMS_H
