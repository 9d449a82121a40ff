// ssimdiff_cygwin: structural similarity and PSNR of two images, one line on
// standard output, for the batch experiments (which run it as
// "ssimdiff_cygwin -CC 1 REF TEST" after writing the first fields of a row).

#include "codec/qimage/imagefile.h"
#include "metrics/windowedssim.h"
#include "platform/qtmessages.h"

#include <QCoreApplication>
#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdio>

namespace veltrano {

namespace {

const char programName[] = "ssimdiff_cygwin";

enum ExitCode { Success = 0, BadInput = 1, BadUsage = 2 };

const char helpText[] =
    "Usage: ssimdiff_cygwin [-CC N] REF TEST\n"
    "\n"
    "Compares the image TEST with the reference image REF (any format Qt reads;\n"
    "alpha is ignored) and prints one line on standard output: the structural\n"
    "similarity and the PSNR in dB, separated by a tab. Numbers have at most six\n"
    "significant digits; identical images give \"1\" and \"inf\".\n"
    "\n"
    "SSIM: Wang et al. (2004), 11 x 11 Gaussian window with sigma 1.5, K1 = 0.01,\n"
    "K2 = 0.03, dynamic range 255, population statistics over every window that\n"
    "lies wholly inside the image, mean of the SSIM map.\n"
    "PSNR: 10 log10(255^2 / MSE).\n"
    "\n"
    "  -CC N      channels compared:\n"
    "               0  luma (BT.601: 0.299 R + 0.587 G + 0.114 B) only:\n"
    "                  SSIM <tab> PSNR\n"
    "               1  red, green and blue (the default): the mean of the three\n"
    "                  SSIM values <tab> the PSNR of all three together\n"
    "               2  red, green and blue separately:\n"
    "                  SSIM R, G, B <tab> PSNR R, G, B (six fields)\n"
    "  --help     show this text\n"
    "  --version  show the version\n"
    "\n"
    "Both images must have the same size, at least 11 x 11 pixels. On any error\n"
    "the line holds \"nan\" in every field (two, or six with -CC 2), the reason\n"
    "goes to standard error, and the exit status is 1 (2 for bad options).\n";

void writeOut(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void writeError(const QString &message)
{
    const QByteArray bytes = (QString::fromLatin1(programName) + QStringLiteral(": ") + message
                              + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

int fieldCount(int mode)
{
    return mode == 2 ? 6 : 2;
}

QString numberText(double value)
{
    // QString::number is locale-independent: always a decimal point, and
    // "inf" / "nan" for the special values.
    return QString::number(value, 'g', 6);
}

void writeFields(const QList<double> &values)
{
    QStringList fields;
    for (double v : values)
        fields << numberText(v);
    writeOut(fields.join(QLatin1Char('\t')) + QLatin1Char('\n'));
}

int failWith(int mode, const QString &message, int exitCode)
{
    QList<double> nans;
    for (int i = 0; i < fieldCount(mode); ++i)
        nans << qQNaN();
    writeFields(nans);
    writeError(message);
    return exitCode;
}

// The images are read as the codec reads them: the pixel limit and the
// checks for damaged or truncated files apply before anything is decoded.
bool loadImage(const QString &fileName, QImage *image, QString *errorMessage)
{
    return readImageFile(fileName, *image, errorMessage);
}

} // namespace

} // namespace veltrano

using namespace veltrano;

int main(int argc, char *argv[])
{
    QtMessages::install(QtMessages::CommandLine);
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);

    int mode = 1;
    QStringList files;
    bool optionsEnded = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            files << arg;
        } else if (arg == QLatin1String("--")) {
            optionsEnded = true;
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            writeOut(QString::fromLatin1(helpText));
            return Success;
        } else if (arg == QLatin1String("--version")) {
            writeOut(QStringLiteral("%1 %2\n").arg(QLatin1String(programName), QLatin1String(VELTRANO_VERSION)));
            return Success;
        } else if (arg == QLatin1String("-CC")) {
            if (i + 1 >= args.size())
                return failWith(1, QStringLiteral("-CC needs a value (0, 1 or 2); see --help"), BadUsage);
            bool ok = false;
            const QString value = args.at(++i);
            const int m = value.toInt(&ok);
            if (!ok || m < 0 || m > 2)
                return failWith(1, QStringLiteral("-CC %1: the value must be 0, 1 or 2; see --help").arg(value),
                                BadUsage);
            mode = m;
        } else {
            return failWith(mode, QStringLiteral("unknown option %1; see --help").arg(arg), BadUsage);
        }
    }
    if (files.size() != 2)
        return failWith(mode,
                        QStringLiteral("expected a reference and a test image, got %1 file name(s); see --help")
                            .arg(files.size()),
                        BadUsage);

    QImage reference, test;
    QString error;
    if (!loadImage(files.at(0), &reference, &error) || !loadImage(files.at(1), &test, &error))
        return failWith(mode, error, BadInput);
    if (reference.size() != test.size())
        return failWith(mode,
                        QStringLiteral("%1 (%2x%3) and %4 (%5x%6) differ in size")
                            .arg(files.at(0))
                            .arg(reference.width())
                            .arg(reference.height())
                            .arg(files.at(1))
                            .arg(test.width())
                            .arg(test.height()),
                        BadInput);
    if (reference.width() < windowedSsimWindowSize || reference.height() < windowedSsimWindowSize)
        return failWith(mode,
                        QStringLiteral("%1 and %2 are %3x%4, smaller than the %5 x %5 window")
                            .arg(files.at(0), files.at(1))
                            .arg(reference.width())
                            .arg(reference.height())
                            .arg(windowedSsimWindowSize),
                        BadInput);

    QList<double> values;
    switch (mode) {
    case 0:
        values << windowedSsim(reference, test, LumaChannel, &error)
               << psnrChannel(reference, test, LumaChannel, &error);
        break;
    case 1:
        values << windowedSsimRgbMean(reference, test, &error) << psnr(reference, test, &error);
        break;
    default:
        for (int c = RedChannel; c <= BlueChannel; ++c)
            values << windowedSsim(reference, test, c, &error);
        for (int c = RedChannel; c <= BlueChannel; ++c)
            values << psnrChannel(reference, test, c, &error);
        break;
    }
    for (double v : values) {
        if (qIsNaN(v))
            return failWith(mode, error, BadInput);
    }
    writeFields(values);
    return Success;
}
