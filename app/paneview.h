#ifndef PANEVIEW_H
#define PANEVIEW_H

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>

namespace veltrano {

// Where an image lies in a pane: a scale (pane pixels per image pixel) and
// the pane position of the image's top-left corner. Pane pixel (px, py) shows
// image pixel (floor((px + 0.5 - x) / scale), floor((py + 0.5 - y) / scale)),
// the one under its centre. The scale ranges from "fit the pane" (or 1:1 when
// that is smaller) up to 16 (or the fit, for images of a few pixels); an
// image larger than the pane always covers it, a smaller one stays inside it.
class PaneView
{
public:
    PaneView() = default;
    // Scale 1 with the top-left corner at `topLeft`: the picture as an
    // unscaled label places it.
    PaneView(const QSize &imageSize, const QSize &paneSize, const QPoint &topLeft);

    bool isNull() const { return imageSize.isEmpty() || paneSize.isEmpty(); }
    double scale() const { return currentScale; }
    QPointF offset() const { return topLeft; }
    double fitScale() const;
    double minimumScale() const;
    double maximumScale() const;
    bool isFit() const;

    // The whole image, centred.
    void fit();
    // The scale (clamped to the range) with the image point under
    // panePoint kept there.
    void zoomTo(double scale, const QPointF &panePoint);
    // steps quarter-octaves up (positive) or down from the current scale, to
    // the next scale 2^(k/4); the bottom of the range is the fit.
    void zoomBy(int steps, const QPointF &panePoint);
    void panBy(const QPointF &delta);

    // The image pixel that pane pixel panePixel shows; it may lie outside
    // the image.
    QPoint imagePixelAt(const QPoint &panePixel) const;
    // The pane pixels that show image pixel imagePixel.
    QRect paneRectOf(const QPoint &imagePixel) const;

private:
    void clamp();

    QSize imageSize;
    QSize paneSize;
    double currentScale = 1.0;
    QPointF topLeft;
};

} // namespace veltrano

#endif // PANEVIEW_H
