#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryFile>

#include <cstdio>
#include <iostream>
#include <unistd.h>

QString sourcePath(const QString &relative)
{
    return QStringLiteral(VELTRANO_SOURCE_DIR "/") + relative;
}

QString binPath(const QString &program)
{
    return QStringLiteral(VELTRANO_BIN_DIR "/") + program;
}

QString photoPath(const QString &fileName)
{
    const QString photo = sourcePath(QStringLiteral("data/photos/") + fileName);
    if (QFile::exists(photo))
        return photo;
    return sourcePath(QStringLiteral("tests/data/") + fileName);
}

QImage loadPhoto(const QString &fileName)
{
    return QImage(photoPath(fileName));
}

ScratchDir::ScratchDir()
    : previous(QDir::currentPath())
{
    if (dir.isValid())
        QDir::setCurrent(dir.path());
}

ScratchDir::~ScratchDir()
{
    QDir::setCurrent(previous);
}

ProcessResult runProcess(const QString &program, const QStringList &arguments,
                         const QString &workingDirectory, const QProcessEnvironment &extraEnvironment)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(extraEnvironment);
    process.setProcessEnvironment(environment);
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    process.closeWriteChannel();
    ProcessResult result;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        result.crashed = true;
    }
    result.crashed = result.crashed || process.exitStatus() != QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QByteArray readFileBytes(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool writeFileBytes(const QString &fileName, const QByteArray &bytes)
{
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray captureStdout(const std::function<void()> &work)
{
    std::cout.flush();
    std::fflush(stdout);
    QTemporaryFile capture;
    if (!capture.open())
        return QByteArray("<capture failed>");
    const int saved = ::dup(1);
    ::dup2(capture.handle(), 1);
    work();
    std::cout.flush();
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    capture.seek(0);
    return capture.readAll();
}

QByteArray testWeightsFileText()
{
    QByteArray text;
    for (int i = 0; i <= 20; ++i)
        text += QByteArray::number(1.0 - i / 40.0) + '\n';
    return text;
}
