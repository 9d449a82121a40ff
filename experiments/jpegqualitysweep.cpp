#include "experiments/jpegqualitysweep.h"

#include "codec/format/bitrate.h"
#include "experiments/experimentoutput.h"
#include "codec/qimage/imagefile.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <iostream>

namespace veltrano {

bool startJpegQualitySweep()
{
    QImage reference;
    QString error;
    // Only the texture's size is used; a missing texture still runs the
    // series, with rates that are not finite.
    if (!readImageFile(QStringLiteral("in/texture.ppm"), reference, &error))
        reportExperimentProblem(error);

    // Opened only to be emptied: it receives nothing.
    QFile table(QStringLiteral("jpeg_stat.csv"));
    if (!table.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::cout << "cannot open output file\n";
        flushStandardOutput();
        return false;
    }

    const int pixels = reference.width() * reference.height();
    for (int q = 0; q <= 100; q += 10) {
        writeField(q);
        // QFileInfo gives 0 for a file that does not exist.
        const qint64 bytes = QFileInfo(QStringLiteral("temp/texture_bic_sm_%1.jpg").arg(q)).size();
        writeField(bitsPerPixel(bytes, pixels));
        runShellCommand(QStringLiteral("ssimdiff_cygwin -CC 1 in/texture.ppm temp/texture_bic_sm_%1.ppm").arg(q));
    }
    table.close();
    flushStandardOutput();
    return true;
}

void runJpegQualitySweep()
{
    startJpegQualitySweep();
}

} // namespace veltrano
