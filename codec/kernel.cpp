#include "kernel.h"

// Not built yet.
QList<float> makeRaisedCosineKernel(int)
{
    return {};
}
