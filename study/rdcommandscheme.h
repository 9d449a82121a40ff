#ifndef RDCOMMANDSCHEME_H
#define RDCOMMANDSCHEME_H

#include "study/rdscheme.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace veltrano {

// A scheme of programs from elsewhere: an encoder and a decoder command line,
// from a spec of comma-separated keys:
//
//   name=NAME             the scheme's name in every output
//   encode=TEMPLATE       the encoder's command line
//   decode=TEMPLATE       the decoder's command line
//   settings=LIST         FROM:TO:STEP (0:100:5) or values joined by + (10+20+40)
//   input=ppm|png         the format of the source the encoder gets (default ppm),
//                         and of the file the decoder is asked to write
//   suffix=EXT            the suffix of the encoded file (default bin)
//
// A template is split into words at white space, without a shell: single
// quotes take everything up to the next single quote as it is, double quotes
// group words with \" and \\ inside, and a backslash outside quotes takes the
// next character as it is. A comma inside quotes does not end the spec's
// item, so "encode=prog --scale '1,2' {in} {out}" passes the word 1,2. In
// every word {in}, {out}, {setting}, {width} and {height} are replaced by the
// input and output paths (absolute, made by the study in a private temporary
// folder), the setting and the source's size; any other {word} is an error.
// A decoder gets the encoded file alone: its template may not name {setting}.
struct RdCommandSpec
{
    QString name;
    QStringList encode;
    QStringList decode;
    QVector<int> settings;
    bool pngInput = false;
    QString suffix = QStringLiteral("bin");
};

// False, with *error naming the fault, for a missing or unknown key, a key
// given twice, an empty or unsafe name (letters, digits, '.', '_', '+', '-';
// not the name of a built-in scheme), an unbalanced quote, a template without
// {in} or {out}, an unknown {word}, or settings that are not rising distinct
// integers from -1000000 to 1000000 (at most 1000 of them).
bool parseRdCommandSpec(const QString &spec, RdCommandSpec *result, QString *error);

// A name a scheme of the researcher's own may take (command or Python):
// safe in file names, not a built-in scheme's. False with *error otherwise.
bool checkRdSchemeName(const QString &name, QString *error);

// Settings such a scheme may have: 1 to 1000, rising.
bool checkRdSettings(const QVector<int> &settings, QString *error);

// The specs of a scheme file: one spec a line; blank lines and lines whose
// first character other than white space is '#' are left out. False, with
// *error naming the file (and the line), when it cannot be read or a spec is
// malformed.
bool readRdSchemeFile(const QString &fileName, QVector<RdCommandSpec> *specs, QString *error);

// The scheme. Every call runs its program in a new private temporary folder
// (its working directory, removed afterwards) in a process group of its own,
// with standard input from /dev/null and a time limit of timeoutSeconds, past
// which the whole group is killed. The bytes of a point are those of the
// encoded file; the decoded file is read by the codec's readers and must have
// the source's size. A point that fails (a program that cannot be run, exits
// with a status other than 0 or by a signal, runs past its limit, writes no
// file, an empty one or an image of another size or an unreadable format) is
// skipped alone, its reason ending with the last line the program wrote to
// standard error.
RdScheme rdCommandScheme(const RdCommandSpec &spec, double timeoutSeconds);

// The result of one run of a command line.
struct RdCommandRun
{
    bool started = false;
    bool timedOut = false;
    int exitStatus = 0;   // when it ended normally
    int signal = 0;       // when a signal ended it
    QString startError;   // why it could not be started
    QString lastErrorLine; // the last non-empty line of its standard error
};

// Runs arguments (the program first, looked for on the search path) in the
// folder, as rdCommandScheme runs its programs.
RdCommandRun runRdCommand(const QStringList &arguments, const QString &folder, double timeoutSeconds);

// Kills the process groups of the commands running now (async-signal-safe:
// for a handler of a signal that ends the study, so that no encoder outlives
// it).
void rdKillRunningCommands();

} // namespace veltrano

#endif // RDCOMMANDSCHEME_H
