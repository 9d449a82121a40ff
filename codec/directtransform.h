#ifndef DIRECTTRANSFORM_H
#define DIRECTTRANSFORM_H

#include <QImage>
#include <QList>

#include "transformkernels.h"

// Direct F-transform: reduces an image to its component image, one opaque
// ARGB32 pixel per grid node, W / step x H / step pixels. The kernel radius is
// kernel.size() - 1. Every channel is the single-precision accumulation
// (pixel columns outer, rows inner) divided by the weight sum and truncated;
// a weight sum of 0 (a kernel of zeros) or a quotient that is not finite or
// beyond the range of int gives the channel 0.
// A node row past the last component row is stored in the last row; a node
// column past the last component column is dropped.
//
// Returns a null image when the input is null, narrower or lower than step,
// when step < 1 or when the kernel is empty.
QImage directFTransform(const QImage &image, int step, const QList<float> &kernel);

// The same transform of an image of width x height given row by row:
// fetch(source, y) returns row y as QImage::pixel() words, asked for in
// increasing order (each row once, some skipped); take(sink, j, row) receives
// component row j, in order, and may stop the transform by returning false.
// Holds a few rows, never the image. False when the arguments make no
// component image, memory is short or take stopped it.
bool directFTransformRows(int width, int height, int step, const QList<float> &kernel,
                          transformkernels::FetchRow fetch, void *source, transformkernels::TakeRow take,
                          void *sink);

#endif // DIRECTTRANSFORM_H
