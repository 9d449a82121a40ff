#include "codec/transform/weightsfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

namespace veltrano {

bool loadWeightsTable(const QString &fileName, QList<float> &weights, QString *error)
{
    // A FIFO would wait for a writer and a device never end: only regular
    // files are read.
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile()) {
        if (error)
            *error = QStringLiteral("cannot open weights file %1: it is not a regular file")
                         .arg(QDir::toNativeSeparators(fileName));
        return false;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot open weights file %1: %2")
                         .arg(QDir::toNativeSeparators(fileName), file.errorString());
        return false;
    }
    QTextStream stream(&file);
    while (!stream.atEnd()) {
        // A line that does not convert still takes its place in the table,
        // as 0.0. toFloat() alone is not enough for that: for a number beyond
        // the float range it reports failure but returns infinity.
        bool converted = false;
        const float value = stream.readLine().toFloat(&converted);
        weights.append(converted ? value : 0.0f);
    }
    return true;
}

bool readWeightsFile(QList<float> &weights, const QString &fileName)
{
    if (loadWeightsTable(fileName, weights))
        return true;
    std::fputs("cannot open weights file!", stdout);
    std::fflush(stdout);
    return false;
}

QString shortWeightsTableMessage(const QString &tableName, int entries, int needed, int step, int radius)
{
    return QStringLiteral("the weights table%1 has %2 entries, but step %3 and radius %4 need %5")
        .arg(tableName.isEmpty() ? QString() : QStringLiteral(" of ") + QDir::toNativeSeparators(tableName))
        .arg(entries)
        .arg(step)
        .arg(radius)
        .arg(needed);
}

} // namespace veltrano
