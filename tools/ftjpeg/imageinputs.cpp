#include "tools/ftjpeg/imageinputs.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

namespace veltrano {

QStringList imageInputs(const QStringList &arguments, const QStringList &excludedFolders)
{
    static const QStringList suffixes{QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg"),
                                      QStringLiteral("bmp"), QStringLiteral("ppm"), QStringLiteral("pgm")};
    QStringList excludedPaths;
    for (const QString &folder : excludedFolders)
        if (!folder.isEmpty())
            excludedPaths.append(QFileInfo(folder).absoluteFilePath() + QLatin1Char('/'));
    const auto excluded = [&excludedPaths](const QString &path) {
        return std::any_of(excludedPaths.begin(), excludedPaths.end(),
                           [&path](const QString &prefix) { return path.startsWith(prefix); });
    };
    QStringList files;
    for (const QString &argument : arguments) {
        if (!QFileInfo(argument).isDir()) {
            files.append(argument);
            continue;
        }
        const QString prefix = argument.endsWith(QLatin1Char('/')) ? argument : argument + QLatin1Char('/');
        const QDir folder(argument);
        QStringList found;
        QDirIterator it(argument, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            const QFileInfo info = it.fileInfo();
            if (suffixes.contains(info.suffix().toLower())
                && !excluded(info.absoluteFilePath()))
                found.append(prefix + folder.relativeFilePath(info.absoluteFilePath()));
        }
        found.sort();
        files += found;
    }
    return files;
}

} // namespace veltrano
