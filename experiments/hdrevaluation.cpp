#include "hdrevaluation.h"

#include "experimentoutput.h"
#include "imagefile.h"
#include "imagemetrics.h"

#include <QFile>
#include <QImage>
#include <QTextStream>

#include <iostream>

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
    // Not opened in text mode: every row ends in a line feed alone.
    QFile file(outputName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::cout << "cannot open output file\n";
        flushStandardOutput();
        return false;
    }
    QTextStream stream(&file);

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
    if (stream.status() != QTextStream::Ok || !file.flush()) {
        reportExperimentProblem(QStringLiteral("cannot write %1: %2").arg(outputName, file.errorString()));
        return false;
    }
    file.close();
    return true;
}

void runHdrEvaluation()
{
    startHdrEvaluation();
}
