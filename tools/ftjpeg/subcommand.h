#ifndef SUBCOMMAND_H
#define SUBCOMMAND_H

#include <QList>
#include <QStringList>

namespace veltrano {

// Exit statuses of every ftjpeg subcommand.
enum ExitStatus { ExitSuccess = 0, ExitFailure = 1, ExitUsage = 2 };

// Not an exit status: what a codec command returns in ftjpeg's front end
// when the work needs the full program (inmemorycodec.h), before it has
// written or printed anything.
constexpr int ExitInFullProgram = -1;

// One ftjpeg subcommand. run() receives the arguments after the subcommand's
// name, preceded by "ftjpeg <name>" as the program name, ready for a
// QCommandLineParser of its own.
struct Subcommand
{
    const char *name;
    const char *summary;
    int (*run)(const QStringList &arguments);
    // Subcommands that draw text (plots) need a QGuiApplication; ftjpeg then
    // creates one on the offscreen platform unless QT_QPA_PLATFORM says
    // otherwise. Others run on a QCoreApplication.
    bool needsGuiApplication = false;
};

// The subcommands, registered from their own source files at start-up.
QList<Subcommand> &subcommands();

struct SubcommandRegistration
{
    explicit SubcommandRegistration(const Subcommand &subcommand) { subcommands().append(subcommand); }
};

} // namespace veltrano

// Registers a subcommand: REGISTER_SUBCOMMAND(direct, "summary", runDirect);
#define REGISTER_SUBCOMMAND(id, summary, function) \
    static const SubcommandRegistration registration_##id(Subcommand{#id, summary, function, false})
#define REGISTER_GUI_SUBCOMMAND(id, summary, function) \
    static const SubcommandRegistration registration_##id(Subcommand{#id, summary, function, true})

#endif // SUBCOMMAND_H
