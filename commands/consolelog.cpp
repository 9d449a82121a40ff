#include "commands/consolelog.h"

#include <QPlainTextEdit>
#include <QTime>

namespace veltrano {

void appendStatusLine(QPlainTextEdit *console, const QString &message)
{
    console->appendPlainText(QTime::currentTime().toString(Qt::TextDate) + message);
}

void appendResultLine(QPlainTextEdit *console, const QString &text)
{
    console->appendPlainText(text);
}

} // namespace veltrano
