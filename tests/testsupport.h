#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <QByteArray>
#include <QImage>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// A file of the source tree, e.g. sourcePath("data/photos/chelsea.png").
QString sourcePath(const QString &relative);
// A program built into build/bin, e.g. binPath("ftjpeg").
QString binPath(const QString &program);
// A test photograph from data/photos (or tests/data when not found there).
QString photoPath(const QString &fileName);
QImage loadPhoto(const QString &fileName);

// A fresh temporary folder made the current working directory for the
// object's lifetime; the previous working directory is restored afterwards.
class ScratchDir
{
public:
    ScratchDir();
    ~ScratchDir();
    bool isValid() const { return dir.isValid(); }
    QString path() const { return dir.path(); }
    QString filePath(const QString &name) const { return dir.filePath(name); }

private:
    QTemporaryDir dir;
    QString previous;
};

struct ProcessResult
{
    int exitCode = -1;
    bool crashed = false;
    QByteArray out;
    QByteArray err;
};

// Runs a program to its end (at most two minutes) in workingDirectory (the
// current one when empty), with extra environment variables added.
ProcessResult runProcess(const QString &program, const QStringList &arguments,
                         const QString &workingDirectory = QString(),
                         const QProcessEnvironment &extraEnvironment = QProcessEnvironment());

QByteArray readFileBytes(const QString &fileName);
bool writeFileBytes(const QString &fileName, const QByteArray &bytes);

// Runs work with the process's standard output (file descriptor 1, so stdio,
// iostreams and child processes alike) sent to a temporary file, and returns
// what was written.
QByteArray captureStdout(const std::function<void()> &work);

// A weights table of 21 entries for tests: 1 - i / 40, so entry 0 is 1 and
// entry 10 is 0.75.
QByteArray testWeightsFileText();

#endif // TESTSUPPORT_H
