#ifndef RDPLOT_H
#define RDPLOT_H

#include "rdpoint.h"

#include <QImage>
#include <QString>
#include <QVector>

// The rate-distortion plot of one image (or of the average over images):
// two panels side by side, PSNR and windowed SSIM over bits per pixel on a
// logarithmic axis, plain JPEG and the hybrid scheme as marked lines with
// their qualities labelled at 0, 25, 50, 75 and 100, axis labels and a
// legend. Drawn with QPainter; text needs a QGuiApplication.
class RdPlot
{
public:
    RdPlot(const QString &title, const QVector<RdPoint> &jpeg, const QVector<RdPoint> &hybrid);

    QImage render() const;

    static constexpr int width = 1400;
    static constexpr int height = 620;

private:
    QString title;
    QVector<RdPoint> jpeg;
    QVector<RdPoint> hybrid;
};

#endif // RDPLOT_H
