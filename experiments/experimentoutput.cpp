#include "experiments/experimentoutput.h"

#include "codec/qimage/imagefile.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

namespace veltrano {

namespace {
int problemCount = 0;

// A fresh stream has the default format whatever was done to std::cout.
template <typename T>
void writeFormatted(const T &value)
{
    std::ostringstream text;
    text << value;
    std::cout << text.str() << '\t';
}
} // namespace

void writeField(int value)
{
    writeFormatted(value);
}

void writeField(qint64 value)
{
    writeFormatted(static_cast<long long>(value));
}

void writeField(double value)
{
    writeFormatted(value);
}

void writeField(const QString &text)
{
    std::cout << text.toUtf8().constData() << '\t';
}

void flushStandardOutput()
{
    std::cout.flush();
    std::fflush(stdout);
}

void runShellCommand(const QString &commandLine)
{
    flushStandardOutput();
    const QByteArray bytes = commandLine.toUtf8();
    const int status = std::system(bytes.constData());
    static_cast<void>(status);
}

void reportExperimentProblem(const QString &message)
{
    ++problemCount;
    std::cerr << message.toLocal8Bit().constData() << std::endl;
}

int experimentProblemCount()
{
    return problemCount;
}

void finishCompressDecompressRow(const QString &name, const QImage &decoded, const QString &decompressedName,
                                 const QString &label, QStringList problems)
{
    bool decompressedWritten = false;
    if (!decoded.isNull()) {
        QString error;
        decompressedWritten = writeImageFile(decompressedName, decoded, "ppm", -1, &error);
        if (!decompressedWritten)
            problems << label + error;
    }
    if (!decompressedWritten && QFile::exists(decompressedName) && !QFile::remove(decompressedName))
        problems << label + QStringLiteral("cannot remove %1 of an earlier run").arg(decompressedName);

    runShellCommand(QStringLiteral("ssimdiff_cygwin -CC 1 in/") + name + QStringLiteral(".ppm ") + decompressedName);
    for (const QString &problem : problems)
        reportExperimentProblem(problem);
}

} // namespace veltrano
