#include "app/paneview.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>

namespace veltrano {

namespace {
const double largestScale = 16.0;
// Scales within this ratio of a step count as on it.
const double stepTolerance = 1e-6;

// Keeps one axis of the image in the pane: a larger image covers it, a
// smaller one stays within it.
double clampAxis(double position, double scaledLength, int paneLength)
{
    const double low = std::min(0.0, paneLength - scaledLength);
    const double high = std::max(0.0, paneLength - scaledLength);
    return std::min(std::max(position, low), high);
}

// The first pane pixel whose centre lies at or after `edge`.
int firstPixelFrom(double edge)
{
    return int(std::ceil(edge - 0.5));
}
} // namespace

PaneView::PaneView(const QSize &imageSize, const QSize &paneSize, const QPoint &topLeft)
    : imageSize(imageSize)
    , paneSize(paneSize)
    , topLeft(topLeft)
{
}

double PaneView::fitScale() const
{
    if (isNull())
        return 1.0;
    return std::min(double(paneSize.width()) / imageSize.width(), double(paneSize.height()) / imageSize.height());
}

double PaneView::minimumScale() const
{
    return std::min(fitScale(), 1.0);
}

double PaneView::maximumScale() const
{
    return std::max(fitScale(), largestScale);
}

bool PaneView::isFit() const
{
    return std::abs(currentScale / fitScale() - 1.0) < stepTolerance;
}

void PaneView::fit()
{
    if (isNull())
        return;
    currentScale = fitScale();
    topLeft = QPointF((paneSize.width() - imageSize.width() * currentScale) / 2,
                      (paneSize.height() - imageSize.height() * currentScale) / 2);
}

void PaneView::zoomTo(double scale, const QPointF &panePoint)
{
    if (isNull())
        return;
    scale = std::min(std::max(scale, minimumScale()), maximumScale());
    const QPointF imagePoint = (panePoint - topLeft) / currentScale;
    currentScale = scale;
    if (isFit()) {
        fit();
        return;
    }
    topLeft = panePoint - imagePoint * currentScale;
    clamp();
}

void PaneView::zoomBy(int steps, const QPointF &panePoint)
{
    if (isNull() || steps == 0)
        return;
    const double level = std::log2(currentScale) * 4;
    const double tolerance = stepTolerance * 4;
    const double next = steps > 0 ? std::floor(level + tolerance) + steps : std::ceil(level - tolerance) + steps;
    double scale = std::exp2(next / 4);
    if (steps < 0 && scale < fitScale() && currentScale > fitScale() * (1 + stepTolerance))
        scale = fitScale();
    zoomTo(scale, panePoint);
}

void PaneView::panBy(const QPointF &delta)
{
    if (isNull())
        return;
    topLeft += delta;
    clamp();
}

QPoint PaneView::imagePixelAt(const QPoint &panePixel) const
{
    return QPoint(int(std::floor((panePixel.x() + 0.5 - topLeft.x()) / currentScale)),
                  int(std::floor((panePixel.y() + 0.5 - topLeft.y()) / currentScale)));
}

QRect PaneView::paneRectOf(const QPoint &imagePixel) const
{
    const int left = firstPixelFrom(topLeft.x() + imagePixel.x() * currentScale);
    const int right = firstPixelFrom(topLeft.x() + (imagePixel.x() + 1) * currentScale);
    const int top = firstPixelFrom(topLeft.y() + imagePixel.y() * currentScale);
    const int bottom = firstPixelFrom(topLeft.y() + (imagePixel.y() + 1) * currentScale);
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

void PaneView::clamp()
{
    topLeft = QPointF(clampAxis(topLeft.x(), imageSize.width() * currentScale, paneSize.width()),
                      clampAxis(topLeft.y(), imageSize.height() * currentScale, paneSize.height()));
}

} // namespace veltrano
