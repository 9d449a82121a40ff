#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

// What the fuzz targets share: a Qt application object for the image
// plugins, quiet plugin warnings, a scratch folder for the files the codec
// reads, the hybrid weights table, and a failure that libFuzzer records as a
// crash.

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <QTextCodec>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace fuzzsupport {

// Qt's image plugins warn about every broken file; only critical and fatal
// messages are worth seeing among millions of inputs.
inline void quietHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "qt: %s\n", message.toLocal8Bit().constData());
}

// The application object (image plugins are found through it), the message
// handler and UTF-8 as the text encoding, whatever the locale of the run.
inline void initialise(int *argc, char ***argv)
{
    qInstallMessageHandler(&quietHandler);
    static QCoreApplication *application = new QCoreApplication(*argc, *argv);
    (void)application;
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
}

// A folder that lives as long as the process; libFuzzer runs one input at a
// time, so fixed names inside it are enough.
inline const QString &scratchDir()
{
    static QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a scratch folder: %s\n", dir.errorString().toLocal8Bit().constData());
        std::abort();
    }
    static const QString path = dir.path();
    return path;
}

inline QString scratchFile(const char *name)
{
    return scratchDir() + QLatin1Char('/') + QLatin1String(name);
}

[[noreturn]] inline void fail(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Prints the finding and aborts: libFuzzer saves the input as a crash.
[[noreturn]] inline void fail(const char *format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    std::fputs("FINDING: ", stderr);
    std::vfprintf(stderr, format, arguments);
    std::fputc('\n', stderr);
    va_end(arguments);
    std::fflush(stderr);
    std::abort();
}

// The hybrid codec's weights table, entries 0 .. count - 1: weight
// 1 / (1 + (i / 20)^2) at distance i / 20.
inline QList<float> fixedWeights(int count)
{
    QList<float> weights;
    for (int i = 0; i < count; ++i) {
        const double d = i / 20.0;
        weights.append(float(1.0 / (1.0 + d * d)));
    }
    return weights;
}

inline void writeFile(const QString &fileName, const QByteArray &data)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size())
        fail("cannot write %s: %s", qPrintable(fileName), qPrintable(file.errorString()));
}

inline QByteArray readFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        fail("cannot read %s: %s", qPrintable(fileName), qPrintable(file.errorString()));
    return file.readAll();
}

} // namespace fuzzsupport

#endif // FUZZSUPPORT_H
