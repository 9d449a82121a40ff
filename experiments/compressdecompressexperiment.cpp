#include "experiments/compressdecompressexperiment.h"

#include "codec/format/bitrate.h"
#include "codec/qimage/directtransform.h"
#include "experiments/experimentoutput.h"
#include "codec/qimage/hybridjpeg.h"
#include "codec/qimage/imagefile.h"
#include "codec/qimage/inversetransform.h"
#include "codec/transform/kernel.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <limits>

namespace veltrano {

// Every failure is told on standard error once the row is complete (so a
// terminal shows it below the row), and nothing of an earlier run is ever
// measured as this run's: the bit rate is given only for a component file
// this run wrote (otherwise "nan"), a component file that does not read back
// at the size it was written with is not expanded, and a reconstructed file
// left by an earlier run is removed when this run cannot replace it, so the
// image-difference program reports the missing file instead of old figures.
// The row always gets all its fields and the program always runs, which
// keeps the rows aligned.
void runCompressDecompressExperiment(QImage image, QString name, int step, int extraRadius, int radius,
                                     int quality, QList<float> weights)
{
    const QString suffix = QStringLiteral("_%1_%2_%3_%4").arg(step).arg(extraRadius).arg(radius).arg(quality - 50);
    const QString compressedName = QStringLiteral("out/") + name + QStringLiteral("_compressed_jpeg") + suffix
        + QStringLiteral(".jpg");
    const QString decompressedName = QStringLiteral("out/") + name + QStringLiteral("_decompressed_ftih") + suffix
        + QStringLiteral(".ppm");
    const QString label = name + suffix + QStringLiteral(": ");
    QStringList problems;
    QString error;

    const QList<float> kernel = makeRaisedCosineKernel(step + extraRadius);

    QElapsedTimer timer;
    timer.start();
    const int width = image.width();
    const int height = image.height();
    const QImage components = withFixedResolution(directFTransform(image, step, kernel));
    bool compressedWritten = false;
    if (components.isNull()) {
        if (image.isNull())
            problems << label + QStringLiteral("there is no image to compress");
        else if (step < 1 || kernel.isEmpty())
            problems << label
                    + QStringLiteral("invalid geometry: node spacing %1, kernel radius %2 (both must be at least 1)")
                          .arg(step)
                          .arg(step + extraRadius);
        else
            problems << label + QStringLiteral("the image of %1x%2 pixels is smaller than the node spacing %3")
                                    .arg(width)
                                    .arg(height)
                                    .arg(step);
    } else {
        compressedWritten = writeImageFile(compressedName, components, "jpg", quality, &error);
        if (!compressedWritten)
            problems << label + error;
    }
    // The compression time is measured but not reported.
    timer.restart();

    QImage reconstructed;
    if (compressedWritten) {
        QImage readBack;
        if (!readImageFile(compressedName, readBack, &error)) {
            problems << label + error;
        } else if (readBack.size() != components.size()) {
            problems << label + QStringLiteral("%1 reads back as %2x%3 pixels, not the %4x%5 components written")
                                    .arg(compressedName)
                                    .arg(readBack.width())
                                    .arg(readBack.height())
                                    .arg(components.width())
                                    .arg(components.height());
        } else {
            reconstructed =
                withFixedResolution(inverseFTransform(readBack, width, height, step, radius, weights, &error));
            if (reconstructed.isNull())
                problems << label + error;
        }
    }
    const qint64 decompressionTime = timer.elapsed();

    writeField(decompressionTime);
    writeField(name);
    writeField(radius);
    const qint64 compressedSize = compressedWritten ? QFileInfo(compressedName).size() : 0;
    writeField(compressedWritten ? bitsPerPixel(compressedSize, qint64(width) * height, BitRateDivision::Single)
                                 : std::numeric_limits<double>::quiet_NaN());

    finishCompressDecompressRow(name, reconstructed, decompressedName, label, problems);
}

} // namespace veltrano
