#include "platform/modulefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

namespace veltrano {

QString runningExecutable()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

QString moduleFile(const QString &linkedInto, const QString &buildFile, const QString &fromBindir)
{
    const QString build = QFileInfo(QStringLiteral(VELTRANO_BUILD_DIR)).canonicalFilePath();
    if (!build.isEmpty() && linkedInto.startsWith(build + QLatin1Char('/')))
        return buildFile;
    return QDir::cleanPath(QFileInfo(runningExecutable()).absolutePath() + QLatin1Char('/') + fromBindir);
}

void *openModule(const QString &file, QString *reason)
{
    void *handle = dlopen(QFile::encodeName(file).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        *reason = QString::fromLocal8Bit(dlerror());
        if (reason->startsWith(file + QStringLiteral(": ")))
            reason->remove(0, file.size() + 2);
    }
    return handle;
}

} // namespace veltrano
