#ifndef WEIGHTSFILE_H
#define WEIGHTSFILE_H

#include <QList>
#include <QString>

namespace veltrano {

// Reads a weights file: one number per line (LF or CR LF), each converted with
// QString::toFloat; a line that does not convert gives 0.0. Appends to
// weights. Returns false, with *error set when given, if the file cannot be
// opened; prints nothing.
bool loadWeightsTable(const QString &fileName, QList<float> &weights, QString *error = nullptr);

// The window's and experiments' reader of "weights_out.txt" in the working
// directory. On failure writes "cannot open weights file!" (no line break)
// to standard output and leaves weights empty.
bool readWeightsFile(QList<float> &weights, const QString &fileName = QStringLiteral("weights_out.txt"));

// What a table too short for a call says: its entries and those that step
// and radius need, naming the file it came from when tableName is not empty.
QString shortWeightsTableMessage(const QString &tableName, int entries, int needed, int step, int radius);

} // namespace veltrano

#endif // WEIGHTSFILE_H
