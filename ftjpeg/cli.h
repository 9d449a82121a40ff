#ifndef CLI_H
#define CLI_H

#include <QString>

// Prints "ftjpeg: " and the message on standard error, one line.
void printError(const QString &message);

#endif // CLI_H
