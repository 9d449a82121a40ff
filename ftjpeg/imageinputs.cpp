#include "imageinputs.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

QStringList imageInputs(const QStringList &arguments, const QString &excludedFolder)
{
    static const QStringList suffixes{QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg"),
                                      QStringLiteral("bmp"), QStringLiteral("ppm"), QStringLiteral("pgm")};
    const QString excludedPath =
        excludedFolder.isEmpty() ? QString() : QFileInfo(excludedFolder).absoluteFilePath() + QLatin1Char('/');
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
                && (excludedPath.isEmpty() || !info.absoluteFilePath().startsWith(excludedPath)))
                found.append(prefix + folder.relativeFilePath(info.absoluteFilePath()));
        }
        found.sort();
        files += found;
    }
    return files;
}
