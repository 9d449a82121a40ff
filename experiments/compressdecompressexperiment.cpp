#include "compressdecompressexperiment.h"

// Not built yet.
void runCompressDecompressExperiment(QImage, QString, int, int, int, int, QList<float>)
{
}
