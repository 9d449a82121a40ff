#ifndef WINDOWEDSSIM_H
#define WINDOWEDSSIM_H

#include "metrics/imagemetrics.h"

#include <QImage>
#include <QString>

namespace veltrano {

// Structural similarity with a sliding Gaussian window (Wang, Bovik, Sheikh
// and Simoncelli, 2004), for 8-bit images. The channels and the PSNR, which
// ssimdiff_cygwin prints beside it, are those of imagemetrics.h.
//
// The window is 11 x 11, Gaussian with sigma 1.5, its weights normalised to
// sum 1; K1 = 0.01, K2 = 0.03 and the dynamic range is 255, so
// C1 = (0.01 * 255)^2 and C2 = (0.03 * 255)^2. Means, variances and the
// covariance are weighted population statistics (no N - 1 correction) over
// each window that lies wholly inside the image: there is no padding, and
// the result is the plain mean of the SSIM map over the
// (width - 10) x (height - 10) window centres. All arithmetic is in double.
// These are the figures of
//   skimage.metrics.structural_similarity(ref, test, gaussian_weights=True,
//       sigma=1.5, use_sample_covariance=False, data_range=255)
// per channel.
//
// Pixels are read with QImage::pixel semantics for every format (indexed and
// grey images included); alpha is ignored. The reference comes first; the
// result is symmetric in the two images all the same.
//
// Every function fails, returning NaN and setting *errorMessage when given,
// for a null image, for images of different sizes, for images narrower or
// lower than windowedSsimWindowSize pixels, and for a channel outside 0 to 3.

constexpr int windowedSsimWindowSize = 11;

// Mean windowed SSIM of one channel.
double windowedSsim(const QImage &reference, const QImage &test, int channel,
                    QString *errorMessage = nullptr);

// Mean of the red, green and blue windowed SSIM values.
double windowedSsimRgbMean(const QImage &reference, const QImage &test,
                           QString *errorMessage = nullptr);

// Mean windowed SSIM of two planes of width x height samples each, row by row
// (sample (x, y) at index y * width + x), on the 0 to 255 scale. For callers
// that hold their own sample data.
double windowedSsimOfPlanes(const double *reference, const double *test, int width, int height,
                            QString *errorMessage = nullptr);

} // namespace veltrano

#endif // WINDOWEDSSIM_H
