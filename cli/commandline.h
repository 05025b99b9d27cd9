// SPDX-License-Identifier: MIT
#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>
#include <vector>

// Text for a person or a script, out at once (a pipe would hold it back): in the local encoding,
// flushed. False when the stream took less than all of it.
bool printText(std::FILE *stream, const QString &text);

// The command line of each of the project's programs, read before anything else runs:
// -h/--help and -V/--version alike everywhere, the help in the operator's language, and a wrong
// call answered with what was wrong, a hint and exit code 2.
//
// Options are taken as GNU getopt_long takes them: a value attached (-p7, --port=7) or as the
// next argument (-p 7, --port 7), flags bundled (-vt10), a long name shortened to any beginning
// that names one option only (--per=10), options before and after the arguments, and "--" ending
// the options. --help and --version answer and end with 0 whatever else the line holds, as they
// are what a puzzled user types. (QCommandLineParser cannot do these together, and its help and
// errors are English and end with 1, so the parsing is done here; its option type describes
// the options.)
class CommandLine
{
public:
    static constexpr int kUsageError = 2;

    // program: the name the help and the messages show; summary: what the program does, shown
    // under the usage line.
    CommandLine(QString program, QString summary);

    // An option of the program's own, listed in the help.
    void addOption(const QCommandLineOption &option);
    // An option that does a whole job of its own (a listing): with it the required arguments are
    // not asked for, and the help shows it as a usage line of its own.
    void addStandaloneOption(const QCommandLineOption &option);
    // An argument, in order: its name in the usage line and what it is. Optional ones come last
    // and show in brackets.
    enum class Need { Required, Optional };
    void addPositional(const QString &name, const QString &description, Need need = Need::Required);
    // Options accepted and left for another part to read later (Qt's -platform, -style ...),
    // also written with one dash as Qt writes them; the help does not list them.
    void addHiddenOptions(const QList<QCommandLineOption> &options);

    // Reads argv (argv[0] is the program). Gives the exit code when the program is to end now:
    // 0 once the help or the version is printed, kUsageError once the error is; nothing when
    // the program goes on and reads the values below.
    std::optional<int> process(int argc, char **argv);

    // By any of the option's names; the value is the last one given.
    bool isSet(const QString &name) const;
    QString value(const QString &name) const;
    QStringList positional() const { return m_given; }

    // A value the program itself refuses (a number out of range): the message and the hint go
    // to stderr; gives kUsageError.
    int usageError(const QString &message) const;

    QString helpText() const;

private:
    enum class Kind { Builtin, Listed, Standalone, Hidden };
    struct Known
    {
        QCommandLineOption option;
        Kind kind;
    };

    void add(const QCommandLineOption &option, Kind kind);
    void parse(const QStringList &arguments);
    void takeLong(const QString &text, const QString &dashes, const QStringList &arguments,
                  qsizetype &at);
    void takeShort(const QString &letters, const QStringList &arguments, qsizetype &at);
    void take(std::size_t index, const QString &spelled, const std::optional<QString> &attached,
              const QStringList &arguments, qsizetype &at);
    std::optional<std::size_t> longOption(const QString &name, QStringList &begun) const;
    std::optional<std::size_t> indexOf(const QString &name) const;
    void fail(const QString &message);
    bool standaloneSet() const;

    QString m_program;
    QString m_summary;
    std::vector<Known> m_options; // --help and --version first
    QList<QPair<QString, QString>> m_positional;
    qsizetype m_required = 0; // the first of m_positional that must be given

    // What the line held.
    std::vector<QStringList> m_values; // per option, one entry per time it was given
    QStringList m_given;
    std::optional<std::size_t> m_answer; // the first --help or --version
    QString m_error;                     // the first mistake
};
