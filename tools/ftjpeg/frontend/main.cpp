// ftjpeg's executable: a front end that links QtCore, libjpeg and libpng
// only, so that it starts in a few milliseconds. It runs the codec commands
// direct, inverse, compress and decompress, registered from
// codeccommands.cpp, when their images can be streamed, and answers
// --version. Anything else it hands, from the start and with the same
// arguments, to the full program: the module lib/veltrano/ftjpeg.so, which
// holds every command and links QtGui.

#include "tools/ftjpeg/cli.h"
#include "tools/ftjpeg/fullprogram.h"
#include "tools/ftjpeg/subcommand.h"

#include "platform/modulefile.h"
#include "platform/qtmessages.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <cstring>
#include <vector>

#include <dlfcn.h>

namespace veltrano {

namespace {

int runFullProgram(int argc, char *argv[])
{
    const QString file =
        moduleFile(runningExecutable(), QStringLiteral(VELTRANO_FULL_PROGRAM_BUILD_FILE),
                   QStringLiteral(VELTRANO_FULL_PROGRAM_FROM_BINDIR));
    QString reason;
    void *handle = openModule(file, &reason);
    FullProgramEntry entry = nullptr;
    if (handle) {
        entry = reinterpret_cast<FullProgramEntry>(dlsym(handle, VELTRANO_FULL_PROGRAM_ENTRY));
        if (!entry)
            reason = QStringLiteral("it has no entry point " VELTRANO_FULL_PROGRAM_ENTRY);
    }
    if (!entry) {
        printError(QStringLiteral("ftjpeg's commands are in the module %1, which cannot be loaded: %2")
                       .arg(QDir::toNativeSeparators(file), reason));
        return ExitFailure;
    }
    return entry(argc, argv);
}

} // namespace

} // namespace veltrano

using namespace veltrano;

int main(int argc, char *argv[])
{
    // Every command reports its failures itself (platform/qtmessages.h).
    QtMessages::install(QtMessages::CommandLine);
    if (argc >= 2 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-v") == 0)) {
        std::printf("ftjpeg %s\n", VELTRANO_VERSION);
        return ExitSuccess;
    }
    const Subcommand *chosen = argc >= 2 ? findSubcommand(argv[1]) : nullptr;
    if (!chosen)
        return runFullProgram(argc, argv);
    // The application is gone before the full program makes its own, and
    // it gets the arguments as they came.
    const std::vector<char *> arguments(argv, argv + argc + 1);
    {
        QCoreApplication application(argc, argv);
        const int status = runSubcommand(*chosen);
        if (status != ExitInFullProgram)
            return status;
    }
    return runFullProgram(int(arguments.size()) - 1, const_cast<char **>(arguments.data()));
}
