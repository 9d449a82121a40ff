#include "commands/failureline.h"

#include "commands/consolelog.h"

namespace veltrano {

namespace {
QString asSentence(const QString &reason)
{
    QString sentence = reason.trimmed();
    if (sentence.isEmpty())
        sentence = QStringLiteral("Unknown error");
    sentence[0] = sentence.at(0).toUpper();
    const QChar last = sentence.at(sentence.size() - 1);
    if (last != QLatin1Char('.') && last != QLatin1Char('!') && last != QLatin1Char('?'))
        sentence += QLatin1Char('.');
    return sentence;
}
} // namespace

void appendFailureLine(QPlainTextEdit *console, const QString &reason)
{
    appendStatusLine(console, QStringLiteral(" - ") + asSentence(reason));
}

} // namespace veltrano
