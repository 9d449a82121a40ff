#include "experiments/hdrevaluation.h"

#include "experiments/experimentoutput.h"
#include "codec/qimage/imagefile.h"
#include "metrics/imagemetrics.h"

#include <QSaveFile>
#include <QImage>
#include <QTextStream>

#include <iostream>

namespace veltrano {

namespace {
// At most six significant digits, with a decimal comma.
QString numberText(float value)
{
    return QString::number(double(value), 'g', 6).replace(QLatin1Char('.'), QLatin1Char(','));
}
} // namespace

bool startHdrEvaluation()
{
    const QString outputName = QStringLiteral("out_hdr_test_ftih.csv");
    // Not opened in text mode: every row ends in a line feed alone. The
    // table replaces an earlier one only once it is complete, so a run that
    // fails part way keeps the earlier table.
    QSaveFile file(outputName);
    // In a folder where no new file can be made, a writable table of that
    // name is still written, in place, as a plain open would.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        std::cout << "cannot open output file\n";
        flushStandardOutput();
        return false;
    }
    // The rows are gathered first and written in one checked piece: a write
    // cut short (a full disk, a file-size limit) is then seen for certain.
    QString rows;
    QTextStream stream(&rows);

    // Missing or unreadable images are measured as empty ones, which gives
    // NaN figures (an empty reference) and keeps every row in place.
    QImage reference;
    QString error;
    if (!readImageFile(QStringLiteral("out/hdr.ppm"), reference, &error))
        reportExperimentProblem(error);
    for (int i = 4; i <= 100; ++i) {
        const QString testName = QStringLiteral("out/hdr_decompressed_ftih_4_0_%1_70.png").arg(i);
        QImage test;
        if (!readImageFile(testName, test, &error))
            reportExperimentProblem(error);
        stream << "4;0;" << i << ";70;";
        stream << numberText(mse(reference, test)) << ';';
        stream << numberText(ssim(reference, test)) << '\n';
    }
    stream.flush();
    const QByteArray bytes = rows.toUtf8();
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 count = file.write(bytes.constData() + written, bytes.size() - written);
        if (count <= 0)
            break;
        written += count;
    }
    if (written < bytes.size() || !file.commit()) {
        reportExperimentProblem(QStringLiteral("cannot write %1: %2").arg(outputName, file.errorString()));
        return false;
    }
    return true;
}

void runHdrEvaluation()
{
    startHdrEvaluation();
}

} // namespace veltrano
