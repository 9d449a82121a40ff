#include "experiments/colorbatch.h"

#include "codec/format/bitrate.h"
#include "experiments/compressdecompressexperiment.h"
#include "experiments/experimentoutput.h"
#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/imagefile.h"
#include "codec/transform/weightsfile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QStringList>

#include <omp.h>

#include <limits>

namespace veltrano {

namespace {

// Plain JPEG at quality q, named like the F-transform files of the same
// spin box value. Failures are handled as in the F-transform branch: told
// on standard error after the row, never measuring an earlier run's files.
void runPlainJpeg(const QImage &image, const QString &name, int quality)
{
    QStringList problems;
    QString error;
    QElapsedTimer timer;
    timer.start();
    const QString suffix = QStringLiteral("_2_0_1_%1").arg(quality);
    const QString compressedName = QStringLiteral("out/") + name + QStringLiteral("_compressed_jpeg") + suffix
        + QStringLiteral(".jpg");
    const QString decompressedName = QStringLiteral("out/") + name + QStringLiteral("_decompressed_ftih") + suffix
        + QStringLiteral(".ppm");
    const QString label = name + suffix + QStringLiteral(": ");

    // A missing input has been reported already.
    const bool compressedWritten =
        !image.isNull() && writeImageFile(compressedName, withFixedResolution(image), "jpg", quality, &error);
    if (!image.isNull() && !compressedWritten)
        problems << label + error;
    writeField(timer.elapsed());

    timer.restart();
    QImage decoded;
    if (compressedWritten && !readImageFile(compressedName, decoded, &error))
        problems << label + error;
    writeField(timer.elapsed());

    writeField(name);
    writeField(1);
    // The file stands for the whole image, which is also the decoded
    // image's size whenever it reads back.
    writeField(compressedWritten ? bitsPerPixel(QFileInfo(compressedName).size(),
                                                qint64(image.width()) * image.height(), BitRateDivision::Single)
                                 : std::numeric_limits<double>::quiet_NaN());

    finishCompressDecompressRow(name, decoded, decompressedName, label, problems);
}

} // namespace

bool startColorBatch(const std::function<int()> &quality)
{
    omp_set_dynamic(0);
    omp_set_num_threads(1);

    const QStringList names{QStringLiteral("fireworks")};
    QList<float> weights;
    if (!readWeightsFile(weights))
        return false;

    for (const QString &name : names) {
        const int q = quality();
        const QString inputName = QStringLiteral("in/") + name + QStringLiteral(".ppm");
        QImage image;
        QString error;
        if (!readImageFile(inputName, image, &error))
            reportExperimentProblem(error);
        writeField(q);
        if (q > 20)
            runPlainJpeg(image, name, q);
        else
            runCompressDecompressExperiment(image, name, 2, 0, 1, q + 50, weights);
    }
    flushStandardOutput();
    return true;
}

void runColorBatch(const std::function<int()> &quality)
{
    startColorBatch(quality);
}

} // namespace veltrano
