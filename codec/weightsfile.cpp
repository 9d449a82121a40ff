#include "weightsfile.h"

// Not built yet.
bool loadWeightsTable(const QString &, QList<float> &, QString *)
{
    return false;
}

bool readWeightsFile(QList<float> &, const QString &)
{
    return false;
}
