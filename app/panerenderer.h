#ifndef PANERENDERER_H
#define PANERENDERER_H

#include <QImage>
#include <QPointF>
#include <QSize>

namespace veltrano {

// What a pane shows of an image: outputSize pixels, each taken from the image
// pixel under its centre at the given scale and position of the image's
// top-left corner (see PaneView), so magnified pixels are sharp blocks. Below
// 1:1 each output pixel is the mean of up to 4 x 4 samples of its footprint.
// Only the output's pixels are computed, whatever the size of the image.
// Pixels beside the image are transparent. The result is premultiplied ARGB.
//
// With a reference image the pixels are |image - reference| x 4 per channel,
// clipped to 255, opaque, wherever both images have the pixel.
//
// source and reference must be in viewableFormat.
QImage renderPane(const QImage &source, const QImage *reference, double scale, const QPointF &topLeft,
                  const QSize &outputSize);

// The image in a format renderPane reads directly (32-bit premultiplied, or
// 32-bit opaque); no copy when it already is.
QImage viewableFormat(const QImage &image);

// The difference of image and reference as renderPane shows it, at full
// resolution, opaque.
QImage differenceImage(const QImage &image, const QImage &reference);

// The red, green and blue of a pixel of an image in viewableFormat.
QRgb straightPixel(const QImage &image, const QPoint &pixel);

} // namespace veltrano

#endif // PANERENDERER_H
