#ifndef IMAGEPYRAMID_H
#define IMAGEPYRAMID_H

#include <QImage>
#include <QVector>

namespace veltrano {

// An image with copies of half, quarter, ... its resolution, each made from
// the one before by averaging 2 x 2 pixels, made when first asked for. A
// reduced view is drawn from the copy closest above its scale, so its cost
// does not grow with the size of the image.
class ImagePyramid
{
public:
    // image must be in the renderer's viewable format.
    void setImage(const QImage &image);
    const QImage &image() const;

    // The copy to draw at `scale` (pane pixels per pixel of the image) and
    // the scale at which to draw it, within (0.5, 1] when the scale is below 1.
    const QImage &levelFor(double scale, double *levelScale);

private:
    QVector<QImage> levels;
};

} // namespace veltrano

#endif // IMAGEPYRAMID_H
