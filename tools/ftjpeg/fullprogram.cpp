// The full ftjpeg program: every command, with QtGui and the experiments,
// as a module the front end (frontend/main.cpp) loads and runs.

#include "tools/ftjpeg/cli.h"
#include "tools/ftjpeg/fullprogram.h"
#include "tools/ftjpeg/subcommand.h"

#include "platform/qtmessages.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace veltrano {

namespace {
void printUsage(FILE *stream)
{
    std::fputs("Usage: ftjpeg COMMAND [OPTIONS] ...\n"
               "The F-transform hybrid JPEG codec on the command line.\n\n"
               "Commands:\n", stream);
    QList<Subcommand> sorted = subcommands();
    std::sort(sorted.begin(), sorted.end(),
              [](const Subcommand &a, const Subcommand &b) { return qstrcmp(a.name, b.name) < 0; });
    for (const Subcommand &command : sorted)
        std::fprintf(stream, "  %-12s %s\n", command.name, command.summary);
    std::fputs("\nRun 'ftjpeg COMMAND --help' for the options of a command.\n", stream);
}

} // namespace

extern "C" __attribute__((visibility("default"))) int veltranoFtjpegMain(int argc, char *argv[])
{
    // The module has a copy of the platform library of its own: its handler
    // goes on top of the executable's, with the same rules. It is in place
    // before the application is made, whose note that XDG_RUNTIME_DIR is not
    // set would only be noise for the offscreen platform.
    QtMessages::install(QtMessages::CommandLine);
    const Subcommand *chosen = argc >= 2 ? findSubcommand(argv[1]) : nullptr;
    std::unique_ptr<QCoreApplication> application;
    if (chosen && chosen->needsGuiApplication) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        application.reset(new QGuiApplication(argc, argv));
    } else {
        application.reset(new QCoreApplication(argc, argv));
    }
    QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2) {
        printUsage(stderr);
        return ExitUsage;
    }
    const QString name = arguments.at(1);
    if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
        printUsage(stdout);
        return ExitSuccess;
    }
    // --version and -v never come here: the front end answers them.
    if (!chosen) {
        printError(QStringLiteral("unknown command '%1' (see 'ftjpeg --help')").arg(name));
        return ExitUsage;
    }
    return runSubcommand(*chosen);
}

} // namespace veltrano
