#ifndef IMAGEMETRICS_H
#define IMAGEMETRICS_H

#include <QImage>

// Mean over red, green and blue of the per-channel mean squared difference,
// over the reference image's extent (columns outer, rows inner), summed in
// double precision. NaN for an empty reference, or for a test image of
// another size (no pixel outside the test image is ever read).
float mse(const QImage &reference, const QImage &test);

// Mean over red, green and blue of the per-channel structural similarity index
// computed from global statistics (the whole image is one window), with
// C1 = 6.5025 and C2 = 58.5225. NaN for an empty reference or for a test
// image of another size.
float ssim(const QImage &reference, const QImage &test);

#endif // IMAGEMETRICS_H
