#ifndef SUBCOMMANDPARSER_H
#define SUBCOMMANDPARSER_H

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

namespace veltrano {

// The command line of one ftjpeg subcommand: its description, positional
// arguments and options, parsed with --help and --version (parseCommandLine
// of cli.h), and the integer options checked against their range.
//
//     SubcommandParser parser(arguments, QStringLiteral("What it does."));
//     parser.addPositional(QStringLiteral("IN"), QStringLiteral("The image."));
//     const QCommandLineOption step = parser.addOption(QStringLiteral("step"), ..., QStringLiteral("H"));
//     int status = ExitSuccess;
//     if (!parser.parse(1, 1, &status))
//         return status;
class SubcommandParser
{
public:
    // arguments[0] is "ftjpeg <name>", the program name of the messages.
    SubcommandParser(const QStringList &arguments, const QString &description);

    void addPositional(const QString &name, const QString &description, const QString &syntax = QString());
    QCommandLineOption addOption(const QStringList &names, const QString &description,
                                 const QString &valueName = QString(), const QString &defaultValue = QString());
    QCommandLineOption addOption(const QString &name, const QString &description, const QString &valueName = QString(),
                                 const QString &defaultValue = QString());

    // Parses the command line. True when the subcommand is to run; otherwise
    // *status is the exit status (help or version shown, or a usage error).
    bool parse(int minimumPositional, int maximumPositional, int *status);

    // An integer option within [minimum, maximum] into *value, which keeps
    // its default when the option is not given; false after reporting a
    // usage error ("--NAME must be an integer from MIN to MAX, not 'TEXT'").
    bool integer(const QCommandLineOption &option, int minimum, int maximum, int *value, int *status) const;

    bool isSet(const QCommandLineOption &option) const { return m_parser.isSet(option); }
    QString value(const QCommandLineOption &option) const { return m_parser.value(option); }
    QStringList values(const QCommandLineOption &option) const { return m_parser.values(option); }
    QStringList positional() const { return m_parser.positionalArguments(); }
    const QString &program() const { return m_program; }

    // A usage error of this subcommand; returns the usage exit status.
    int usageError(const QString &message) const;

private:
    QStringList m_arguments;
    QString m_program;
    QCommandLineParser m_parser;
};

} // namespace veltrano

#endif // SUBCOMMANDPARSER_H
