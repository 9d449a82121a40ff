#include "modulefile.h"

#include <QDir>
#include <QFileInfo>

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
