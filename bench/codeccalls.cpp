// codeccalls IMAGE REPEATS OUT.jpg: times the two codec calls the Python
// module's compress() and decompress() make, on an image file read as the
// tools read it: encodeHybridJpeg at quality 70 and decompressHybridData of
// its bytes with the working directory's weights table. Prints one line per
// repetition, "compress_ms decompress_ms", and writes the hybrid file to
// OUT.jpg so that its bytes can be compared. bench/python_overhead.py runs
// it as the baseline of the module.

#include "hybridjpeg.h"
#include "imagefile.h"
#include "workdirgenerator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

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
    QByteArray data;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        data = encodeHybridJpeg(image, 70, &error);
        const double compressMs = double(timer.nsecsElapsed()) / 1e6;
        timer.start();
        const QImage decoded = decompressHybridData(data, weights, &error, QStringLiteral("the data"));
        const double decompressMs = double(timer.nsecsElapsed()) / 1e6;
        if (data.isEmpty() || decoded.isNull()) {
            std::fprintf(stderr, "codeccalls: %s\n", qPrintable(error));
            return 1;
        }
        std::printf("%.3f %.3f\n", compressMs, decompressMs);
    }
    QFile out(arguments.at(3));
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size()) {
        std::fprintf(stderr, "codeccalls: cannot write %s\n", qPrintable(arguments.at(3)));
        return 1;
    }
    return 0;
}
