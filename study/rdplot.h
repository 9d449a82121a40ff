#ifndef RDPLOT_H
#define RDPLOT_H

#include "study/rdpoint.h"

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRect>
#include <QString>
#include <QVector>

namespace veltrano {

// The points of one scheme in a plot.
struct RdCurve
{
    QString scheme;
    QVector<RdPoint> points;
};

// Where the plot draws a point: its scheme, setting and rate, and the
// marker's centre in the plot's pixels.
struct RdPlotMark
{
    QString scheme;
    int quality = 0;
    double bpp = 0.0;
    QPointF position;
};

// The rate-distortion plot of one image (or of the average over images):
// two panels side by side, PSNR and windowed SSIM over bits per pixel on a
// logarithmic axis, every scheme as a line in a colour and with a marker of
// its own (the Okabe-Ito colours, which stay apart for colour-blind
// readers), plain JPEG and the hybrid scheme with their qualities labelled
// at 0, 25, 50, 75 and 100, axis labels and a legend. Drawn with QPainter;
// text needs a QGuiApplication.
class RdPlot
{
public:
    RdPlot(const QString &title, const QVector<RdCurve> &curves);
    RdPlot(const QString &title, const QVector<RdPoint> &jpeg, const QVector<RdPoint> &hybrid);

    // The colour a scheme is drawn in.
    static QColor schemeColour(const QString &scheme);

    QImage render() const;

    // Every marker render() draws, in both panels, with the same mapping.
    QVector<RdPlotMark> marks() const;

    static constexpr int width = 1400;
    static constexpr int height = 620;

private:
    // The frames of the PSNR and the SSIM panel.
    static QRect leftFrame();
    static QRect rightFrame();

    QString title;
    QVector<RdCurve> curves;
};

} // namespace veltrano

#endif // RDPLOT_H
