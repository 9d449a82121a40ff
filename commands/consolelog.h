#ifndef CONSOLELOG_H
#define CONSOLELOG_H

#include <QString>

class QPlainTextEdit;

namespace veltrano {

// A status line: the current time in Qt's text format directly followed by
// the message, which begins with " - ".
void appendStatusLine(QPlainTextEdit *console, const QString &message);

// A result line, without time.
void appendResultLine(QPlainTextEdit *console, const QString &text);

} // namespace veltrano

#endif // CONSOLELOG_H
