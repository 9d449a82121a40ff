#ifndef MSSSIM_H
#define MSSSIM_H

#include <QImage>
#include <QString>

namespace veltrano {

// Multi-scale structural similarity (Wang, Simoncelli and Bovik, 2003) of
// 8-bit images. Five scales; at each, the windowed statistics of
// windowedssim.h (11 x 11 Gaussian window, sigma 1.5, C1 = (0.01 * 255)^2,
// C2 = (0.03 * 255)^2, population statistics over the windows wholly inside
// the image). Scales 1 to 4 contribute the mean contrast-structure term
// cs = (2 sxy + C2) / (sx^2 + sy^2 + C2), scale 5 the mean full SSIM, with
// the exponents 0.0448, 0.2856, 0.3001, 0.2363 and 0.1333; a negative mean
// (possible only under very heavy distortion) counts as 0. Between scales
// both images are filtered by the 2 x 2 mean and every other sample kept:
// sample i of the next scale is the mean of samples 2i and 2i + 1 in each
// direction, the last sample of an odd length repeated, so a length n
// becomes (n + 1) / 2. All arithmetic is in double.
//
// msSsim is the mean of the red, green and blue values. The smallest scale
// needs a window, so both sides must be at least msSsimMinimumSize pixels;
// smaller images, images of different sizes and null images give NaN, with
// *errorMessage set when given.

constexpr int msSsimScales = 5;
constexpr int msSsimMinimumSize = 161;

double msSsim(const QImage &reference, const QImage &test, QString *errorMessage = nullptr);

// The same of two planes of width x height samples on the 0 to 255 scale,
// row by row.
double msSsimOfPlanes(const double *reference, const double *test, int width, int height,
                      QString *errorMessage = nullptr);

} // namespace veltrano

#endif // MSSSIM_H
