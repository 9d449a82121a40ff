#ifndef IMAGEMETRICS_H
#define IMAGEMETRICS_H

#include <QImage>
#include <QString>

namespace veltrano {

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

// Channels of the per-channel metrics: 0 red, 1 green, 2 blue, 3 luma.
constexpr int RedChannel = 0;
constexpr int GreenChannel = 1;
constexpr int BlueChannel = 2;
// BT.601 luma, Y = 0.299 R + 0.587 G + 0.114 B, kept in double (not rounded).
constexpr int LumaChannel = 3;

// 10 log10(255^2 / MSE), with the MSE taken over red, green and blue of every
// pixel together (the mean of the three channel MSEs), summed row by row in
// double precision; +infinity for identical images. Pixels are read with
// QImage::pixel semantics for every format; alpha is ignored. NaN, with
// *errorMessage set when given, for a null image or images of different
// sizes.
double psnr(const QImage &reference, const QImage &test, QString *errorMessage = nullptr);

// 10 log10(255^2 / meanSquaredError): +infinity for 0, the PSNR of an exact
// reconstruction.
double psnrFromMse(double meanSquaredError);

// The same for one channel (0 to 3 as above); NaN also for another channel.
double psnrChannel(const QImage &reference, const QImage &test, int channel, QString *errorMessage = nullptr);

} // namespace veltrano

#endif // IMAGEMETRICS_H
