#ifndef EXPERIMENTOUTPUT_H
#define EXPERIMENTOUTPUT_H

#include <QImage>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace veltrano {

// Fields of the experiments' measurement rows on standard output. Each value
// is written in the stream's default format (for doubles that of printf's
// "%g": six significant digits), whatever state std::cout was left in, and is
// followed by one tab. No line end is ever written: the external program's
// report completes the row.
void writeField(int value);
void writeField(qint64 value);
void writeField(double value);
void writeField(const QString &text); // as UTF-8

// Flushes std::cout and stdio's stdout, so that whatever a child process
// writes lands after what was written so far, on a terminal, a pipe or a file.
void flushStandardOutput();

// Runs a command line (converted to UTF-8) through the command interpreter
// and waits for it, after flushing standard output. Its status is not used.
void runShellCommand(const QString &commandLine);

// Tells the user on standard error, one line, why a measurement is missing
// or incomplete. Standard output, which carries the rows, stays untouched.
void reportExperimentProblem(const QString &message);

// How many problems reportExperimentProblem() has told since the process
// started, so that a command-line caller can end with a failure status.
int experimentProblemCount();

// Ends a compress/decompress row of the image in/<name>.ppm: writes the
// decoded image (when there is one) to decompressedName as PPM, or removes a
// file of that name left by an earlier run so that it is never measured as
// this run's, runs ssimdiff_cygwin on the pair, which completes the row, and
// then reports the problems gathered for the row, each prefixed by label.
void finishCompressDecompressRow(const QString &name, const QImage &decoded, const QString &decompressedName,
                                 const QString &label, QStringList problems);

} // namespace veltrano

#endif // EXPERIMENTOUTPUT_H
