#ifndef MESSAGETEXT_H
#define MESSAGETEXT_H

// The two small helpers every failure message of the project uses: how a
// message names a file, and how a function hands its message to a caller
// that may not want it.

#include <QDir>
#include <QString>

namespace veltrano {

// A file name as messages give it: with the platform's separators.
inline QString displayName(const QString &fileName)
{
    return QDir::toNativeSeparators(fileName);
}

// Sets *error to message, where the caller asked for it (error not null).
inline void setError(QString *error, const QString &message)
{
    if (error)
        *error = message;
}

} // namespace veltrano

#endif // MESSAGETEXT_H
