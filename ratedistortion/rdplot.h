#ifndef RDPLOT_H
#define RDPLOT_H

#include "rdpoint.h"

#include <QColor>
#include <QImage>
#include <QString>
#include <QVector>

// The points of one scheme in a plot.
struct RdCurve
{
    QString scheme;
    QVector<RdPoint> points;
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

    static constexpr int width = 1400;
    static constexpr int height = 620;

private:
    QString title;
    QVector<RdCurve> curves;
};

#endif // RDPLOT_H
