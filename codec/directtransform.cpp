#include "directtransform.h"

// Not built yet.
QImage directFTransform(const QImage &, int, const QList<float> &)
{
    return QImage();
}
