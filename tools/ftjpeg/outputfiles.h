#ifndef OUTPUTFILES_H
#define OUTPUTFILES_H

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace veltrano {

class SubcommandParser;

// The image format of an output file, from its suffix ("png", "bmp", "ppm"
// or "jpg"); empty when the suffix names no format ftjpeg writes.
QByteArray outputFormat(const QString &fileName);

// outputFormat, or a usage error naming the file (*status set) when empty.
bool knownOutputFormat(const QString &fileName, const SubcommandParser &parser, QByteArray *format, int *status);

// Whether two names are one file (same device and inode when both exist).
bool sameFile(const QString &a, const QString &b);

// Refuses, as a usage error, an output that is one of the run's inputs.
bool outputIsNoInput(const SubcommandParser &parser, const QString &output, const QStringList &inputs, int *status);

} // namespace veltrano

#endif // OUTPUTFILES_H
