// codeccalls IMAGE REPEATS OUT.jpg: times the two codec calls the Python
// module's compress() and decompress() make, on an image file read as the
// tools read it: encodeHybridJpeg at quality 70, and decompressHybrid of the
// file of its bytes with the working directory's weights table. Prints one line per
// repetition, "compress_ms decompress_ms", and writes the hybrid file to
// OUT.jpg so that its bytes can be compared. bench/python_overhead.py runs
// it as the baseline of the module.

#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/imagefile.h"
#include "experiments/workdirgenerator.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace veltrano;

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 4) {
        std::fprintf(stderr, "usage: codeccalls IMAGE REPEATS OUT.jpg\n");
        return 2;
    }
    QImage image;
    QString error;
    if (!readImageFile(arguments.at(1), image, &error)) {
        std::fprintf(stderr, "codeccalls: %s\n", qPrintable(error));
        return 1;
    }
    const QList<float> weights = workingDirectoryWeights();
    const int repeats = arguments.at(2).toInt();
    const QString output = arguments.at(3);
    for (int i = 0; i <= repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        const QByteArray data = encodeHybridJpeg(image, 70, &error);
        const double compressMs = double(timer.nsecsElapsed()) / 1e6;
        if (data.isEmpty() || !writeFileAtomically(output, data, &error)) {
            std::fprintf(stderr, "codeccalls: %s\n", qPrintable(error));
            return 1;
        }
        timer.start();
        const QImage decoded = decompressHybrid(output, weights, &error);
        const double decompressMs = double(timer.nsecsElapsed()) / 1e6;
        if (decoded.isNull()) {
            std::fprintf(stderr, "codeccalls: %s\n", qPrintable(error));
            return 1;
        }
        // The first repetition warms up; it is not reported.
        if (i > 0)
            std::printf("%.3f %.3f\n", compressMs, decompressMs);
    }
    return 0;
}
