// SPDX-License-Identifier: MIT
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The command line of each of the project's programs, read before anything else runs:
// -h/--help and -V/--version alike everywhere, the help in the operator's language, and a wrong
// call answered with what was wrong, a hint and exit code 2. (QCommandLineParser's own help and
// errors are English and end with 1, so it only does the parsing here.)
class CommandLine
{
public:
    static constexpr int kUsageError = 2;

    // program: the name the help and the messages show; summary: what the program does, shown
    // under the usage line.
    CommandLine(QString program, QString summary);

    // An option of the program's own, listed in the help.
    void addOption(const QCommandLineOption &option);
    // An argument, in order: its name in the usage line and what it is. Optional ones come last
    // and show in brackets.
    enum class Need { Required, Optional };
    void addPositional(const QString &name, const QString &description, Need need = Need::Required);
    // Options accepted and left for another part to read later (Qt's -platform, -style ...);
    // the help does not list them.
    void addHiddenOptions(const QList<QCommandLineOption> &options);

    // Reads argv (argv[0] is the program). Gives the exit code when the program is to end now:
    // 0 once the help or the version is printed, kUsageError once the error is; nothing when
    // the program goes on and reads the values below.
    std::optional<int> process(int argc, char **argv);

    bool isSet(const QString &name) const { return m_parser.isSet(name); }
    QString value(const QString &name) const { return m_parser.value(name); }
    QStringList positional() const { return m_parser.positionalArguments(); }

    // A value the program itself refuses (a number out of range): the message and the hint go
    // to stderr; gives kUsageError.
    int usageError(const QString &message) const;

    QString helpText() const;

private:
    QString parseError(const QStringList &arguments) const;

    QString m_program;
    QString m_summary;
    QCommandLineParser m_parser;
    QList<QCommandLineOption> m_listed; // in the help, in order
    QList<QCommandLineOption> m_all;
    QList<QPair<QString, QString>> m_positional;
    qsizetype m_required = 0; // the first of m_positional that must be given
};
