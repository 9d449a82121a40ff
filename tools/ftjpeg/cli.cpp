#include "tools/ftjpeg/cli.h"
#include "platform/messagetext.h"

#include "tools/ftjpeg/subcommand.h"

#include "platform/memorybudget.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSize>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>

namespace veltrano {

QList<Subcommand> &subcommands()
{
    static QList<Subcommand> all;
    return all;
}

const Subcommand *findSubcommand(const char *name)
{
    for (const Subcommand &command : subcommands())
        if (std::strcmp(name, command.name) == 0)
            return &command;
    return nullptr;
}

int runSubcommand(const Subcommand &command)
{
    QCoreApplication::setApplicationName(QStringLiteral("ftjpeg"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELTRANO_VERSION));
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    arguments.first() = QStringLiteral("ftjpeg ") + QString::fromLocal8Bit(command.name);
    // Work is checked against the memory left before it starts.
    try {
        return command.run(arguments);
    } catch (const std::bad_alloc &) {
        printError(notEnoughMemoryMessage(arguments.first()));
        return ExitFailure;
    }
}

void printError(const QString &message)
{
    std::fprintf(stderr, "ftjpeg: %s\n", message.toLocal8Bit().constData());
}

int usageError(const QString &program, const QString &message)
{
    printError(QStringLiteral("%1 (see '%2 --help')").arg(message, program));
    return ExitUsage;
}

int failure(const QString &message)
{
    printError(message);
    return ExitFailure;
}

bool parseCommandLine(QCommandLineParser &parser, const QStringList &arguments, int minimumPositional,
                      int maximumPositional, int *status)
{
    const QString program = arguments.value(0);
    // A write beyond the file-size limit (ulimit -f) would otherwise kill the
    // process on the spot and leave its temporary files behind; ignored, the
    // write fails with EFBIG, is reported, and the temporary file is removed.
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    if (!parser.parse(arguments)) {
        *status = usageError(program, parser.errorText());
        return false;
    }
    // Qt adds --help-all beside --help; it shows the same text here.
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"))) {
        // The usage line names the subcommand, not the executable's path.
        QString text = parser.helpText();
        const QString executable = QStringLiteral("Usage: ") + QCoreApplication::arguments().value(0);
        if (text.startsWith(executable))
            text.replace(0, executable.size(), QStringLiteral("Usage: ") + program);
        std::fputs(text.toLocal8Bit().constData(), stdout);
        *status = ExitSuccess;
        return false;
    }
    if (parser.isSet(versionOption)) {
        std::printf("ftjpeg %s\n", qPrintable(QCoreApplication::applicationVersion()));
        *status = ExitSuccess;
        return false;
    }
    const int count = parser.positionalArguments().size();
    if (count < minimumPositional || count > maximumPositional) {
        const QString expected = minimumPositional == maximumPositional
            ? QString::number(minimumPositional)
            : QStringLiteral("at least %1").arg(minimumPositional);
        *status = usageError(program, QStringLiteral("expected %1 argument%2, got %3")
                                          .arg(expected, minimumPositional == 1 ? QString() : QStringLiteral("s"))
                                          .arg(count));
        return false;
    }
    return true;
}

QString sizeText(const QSize &size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

} // namespace veltrano
