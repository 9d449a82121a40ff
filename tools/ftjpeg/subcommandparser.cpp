#include "tools/ftjpeg/subcommandparser.h"

#include "tools/ftjpeg/cli.h"

namespace veltrano {

SubcommandParser::SubcommandParser(const QStringList &arguments, const QString &description)
    : m_arguments(arguments), m_program(arguments.value(0))
{
    m_parser.setApplicationDescription(description);
}

void SubcommandParser::addPositional(const QString &name, const QString &description, const QString &syntax)
{
    m_parser.addPositionalArgument(name, description, syntax);
}

QCommandLineOption SubcommandParser::addOption(const QStringList &names, const QString &description,
                                               const QString &valueName, const QString &defaultValue)
{
    const QCommandLineOption option(names, description, valueName, defaultValue);
    m_parser.addOption(option);
    return option;
}

QCommandLineOption SubcommandParser::addOption(const QString &name, const QString &description,
                                               const QString &valueName, const QString &defaultValue)
{
    return addOption(QStringList{name}, description, valueName, defaultValue);
}

bool SubcommandParser::parse(int minimumPositional, int maximumPositional, int *status)
{
    return parseCommandLine(m_parser, m_arguments, minimumPositional, maximumPositional, status);
}

bool SubcommandParser::integer(const QCommandLineOption &option, int minimum, int maximum, int *value,
                               int *status) const
{
    if (!m_parser.isSet(option))
        return true;
    const QString text = m_parser.value(option);
    bool ok = false;
    const int parsed = text.toInt(&ok);
    if (!ok || parsed < minimum || parsed > maximum) {
        *status = usageError(QStringLiteral("--%1 must be an integer from %2 to %3, not '%4'")
                                 .arg(option.names().constFirst())
                                 .arg(minimum)
                                 .arg(maximum)
                                 .arg(text));
        return false;
    }
    *value = parsed;
    return true;
}

int SubcommandParser::usageError(const QString &message) const
{
    return veltrano::usageError(m_program, message);
}

} // namespace veltrano
