#include "weightsfile.h"

#include <QDir>
#include <QFile>
#include <QTextStream>

#include <cstdio>

bool loadWeightsTable(const QString &fileName, QList<float> &weights, QString *error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot open weights file %1: %2")
                         .arg(QDir::toNativeSeparators(fileName), file.errorString());
        return false;
    }
    QTextStream stream(&file);
    while (!stream.atEnd()) {
        // toFloat() yields 0.0 for a line that does not convert, so such a
        // line still takes its place in the table.
        weights.append(stream.readLine().toFloat());
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
