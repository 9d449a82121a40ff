#ifndef RESAMPLING_H
#define RESAMPLING_H

#include <QImage>

namespace veltrano {

// Reduction by a factor (the step h) in each dimension and expansion by it
// back to a given size, with pixel centres aligned: pixel i of the reduced
// image lies at h i + (h - 1) / 2 in the coordinates of the full image (whose
// pixel x lies at x), so that full pixel x lies at (x - (h - 1) / 2) / h in
// the reduced image (for h = 2: 2i + 0.5 and x / 2 - 0.25). Samples beyond an
// edge repeat the edge pixel. Each channel is computed in double, rows first,
// then columns, and rounded to the nearest integer in 0 to 255. A grey image
// (every pixel grey) gives a Format_Grayscale8 result, any other
// Format_RGB32. The reduced image has width / h x height / h pixels (rounded
// down, as the hybrid codec's component image); an image narrower or lower
// than h pixels gives a null image, as does an expansion from an empty image.

// The filters: Box (the mean of each h x h block) and Lanczos3 reduce;
// Bilinear, Bicubic (Keys, a = -0.5) and Lanczos3 expand. Lanczos-3 is
// sinc(t) sinc(t / 3) for |t| < 3, widened by h for the reduction (6 h taps
// per dimension, 6 for the expansion); the weights of each output pixel are
// normalised to sum 1.
enum class ResampleFilter { Box, Bilinear, Bicubic, Lanczos3 };

// Null also for a step below 1 or a filter that does not reduce (expand).
QImage reduceImage(const QImage &image, int step, ResampleFilter filter);
QImage expandImage(const QImage &reduced, int width, int height, int step, ResampleFilter filter);

// The same with h = 2.

// The mean of each 2 x 2 block.
QImage reduceBox2(const QImage &image);

// Bilinear interpolation of the reduced image to width x height.
QImage expandBilinear2(const QImage &reduced, int width, int height);

QImage reduceLanczos2(const QImage &image);
QImage expandLanczos2(const QImage &reduced, int width, int height);

} // namespace veltrano

#endif // RESAMPLING_H
