#ifndef RESAMPLING_H
#define RESAMPLING_H

#include <QImage>

// Reduction by 2 in each dimension and expansion by 2 back to a given size,
// with pixel centres aligned: pixel i of the reduced image lies at 2i + 0.5
// in the coordinates of the full image (whose pixel x lies at x), so that
// full pixel x lies at x / 2 - 0.25 in the reduced image. Samples beyond an
// edge repeat the edge pixel. Each channel is computed in double and rounded
// to the nearest integer in 0 to 255. A grey image (every pixel grey) gives
// a Format_Grayscale8 result, any other Format_RGB32. The reduced image has
// width / 2 x height / 2 pixels (rounded down, as the hybrid codec's
// component image); an image narrower or lower than 2 pixels gives a null
// image, as does an expansion from an empty image.

// The mean of each 2 x 2 block.
QImage reduceBox2(const QImage &image);

// Bilinear interpolation of the reduced image to width x height.
QImage expandBilinear2(const QImage &reduced, int width, int height);

// Lanczos-3 (sinc(t) sinc(t / 3) for |t| < 3), widened by 2 for the
// reduction (12 taps per dimension), the weights of each output pixel
// normalised to sum 1.
QImage reduceLanczos2(const QImage &image);
QImage expandLanczos2(const QImage &reduced, int width, int height);

#endif // RESAMPLING_H
