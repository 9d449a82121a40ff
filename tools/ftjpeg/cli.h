#ifndef CLI_H
#define CLI_H

#include "platform/messagetext.h"

#include <QString>
#include <QStringList>

class QCommandLineParser;
class QSize;

namespace veltrano {

struct Subcommand;

// The registered subcommand of that name, or null.
const Subcommand *findSubcommand(const char *name);

// Runs the subcommand on the application's arguments (the first is its
// name) and returns its exit status. An allocation that fails all the same
// ends the command with a message, not the process.
int runSubcommand(const Subcommand &command);

// Prints "ftjpeg: " and the message on standard error, one line.
void printError(const QString &message);

// Reports a usage error of a subcommand, pointing to its --help; returns the
// usage exit status.
int usageError(const QString &program, const QString &message);

// Reports a failure; returns the failure exit status.
int failure(const QString &message);

// Adds --help and --version to the parser of a subcommand and parses its
// command line (arguments[0] is the subcommand's name). Returns true when the
// subcommand is to run; otherwise *status is the exit status: help or version
// shown, or a usage error reported (also for fewer than minimumPositional or
// more than maximumPositional positional arguments). From here on the process
// ignores SIGXFSZ, so a write past the file-size limit fails like any other.
bool parseCommandLine(QCommandLineParser &parser, const QStringList &arguments, int minimumPositional,
                      int maximumPositional, int *status);

// "WIDTHxHEIGHT", as the messages give a size.
QString sizeText(const QSize &size);

} // namespace veltrano

#endif // CLI_H
