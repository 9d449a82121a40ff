#ifndef COMPRESSDECOMPRESSEXPERIMENT_H
#define COMPRESSDECOMPRESSEXPERIMENT_H

#include <QImage>
#include <QList>
#include <QString>

namespace veltrano {

// One parameterised F-transform compress/decompress experiment on one image:
// direct transform (node spacing step, kernel radius step + extraRadius),
// component JPEG at quality under out/, read back, inverse transform
// (radius) to the image's size, reconstructed PPM under out/, a measurement
// row on standard output, then the image-difference program.
void runCompressDecompressExperiment(QImage image, QString name, int step, int extraRadius, int radius,
                                     int quality, QList<float> weights);

} // namespace veltrano

#endif // COMPRESSDECOMPRESSEXPERIMENT_H
