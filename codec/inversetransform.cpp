#include "inversetransform.h"

// Not built yet.
int requiredWeightCount(int, int, int, int)
{
    return 0;
}

QImage inverseFTransform(const QImage &, int, int, int, int, const QList<float> &, QString *)
{
    return QImage();
}
