// SPDX-License-Identifier: MIT
#include "cli/commandline.h"

#include "cli/version.h"
#include "texts/commandline.h"

#include <algorithm>
#include <cstdio>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype kLineWidth = 79;

const QCommandLineOption &helpOption()
{
    static const QCommandLineOption option({u"h"_s, u"help"_s}, OperatorText::helpOptionHelp());
    return option;
}

const QCommandLineOption &versionOption()
{
    static const QCommandLineOption option({u"V"_s, u"version"_s},
                                           OperatorText::versionOptionHelp());
    return option;
}

// The words of text in lines of at most kLineWidth, every line but the first after indent.
QString wrapped(const QString &text, qsizetype firstColumn, qsizetype indent)
{
    QString result;
    qsizetype column = firstColumn;
    bool lineStart = true;
    for (const QString &word : text.split(u' ', Qt::SkipEmptyParts)) {
        if (!lineStart && column + 1 + word.size() > kLineWidth) {
            result += u'\n' + QString(indent, u' ');
            column = indent;
            lineStart = true;
        }
        if (!lineStart) {
            result += u' ';
            ++column;
        }
        result += word;
        column += word.size();
        lineStart = false;
    }
    return result;
}

QString dashed(const QString &name)
{
    return (name.size() == 1 ? u"-"_s : u"--"_s) + name;
}

QString label(const QCommandLineOption &option)
{
    QStringList names;
    for (const QString &name : option.names())
        names << dashed(name);
    QString text = names.join(u", "_s);
    if (!option.valueName().isEmpty())
        text += u' ' + option.valueName();
    return text;
}

} // namespace

bool printText(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    const bool written =
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size());
    return std::fflush(stream) == 0 && written;
}

CommandLine::CommandLine(QString program, QString summary)
    : m_program(std::move(program))
    , m_summary(std::move(summary))
{
    add(helpOption(), Kind::Builtin);
    add(versionOption(), Kind::Builtin);
}

void CommandLine::add(const QCommandLineOption &option, Kind kind)
{
    m_options.push_back({option, kind});
    m_values.emplace_back();
}

void CommandLine::addOption(const QCommandLineOption &option)
{
    add(option, Kind::Listed);
}

void CommandLine::addStandaloneOption(const QCommandLineOption &option)
{
    add(option, Kind::Standalone);
}

void CommandLine::addPositional(const QString &name, const QString &description, Need need)
{
    m_positional.append({name, description});
    if (need == Need::Required)
        m_required = m_positional.size();
}

void CommandLine::addHiddenOptions(const QList<QCommandLineOption> &options)
{
    for (const QCommandLineOption &option : options)
        add(option, Kind::Hidden);
}

std::optional<int> CommandLine::process(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    parse(arguments);
    if (m_answer == std::size_t(0)) {
        printText(stdout, helpText());
        return 0;
    }
    if (m_answer) {
        printText(stdout, m_program + u' ' + QLatin1String(kVorlagenVersion) + u'\n');
        return 0;
    }
    if (!m_error.isEmpty())
        return usageError(m_error);
    if (m_given.size() > m_positional.size())
        return usageError(OperatorText::extraArgument(m_given.at(m_positional.size())));
    if (m_given.size() < m_required && !standaloneSet())
        return usageError(OperatorText::missingArgument(m_positional.at(m_given.size()).first));
    return std::nullopt;
}

bool CommandLine::isSet(const QString &name) const
{
    const auto index = indexOf(name);
    return index && !m_values[*index].isEmpty();
}

QString CommandLine::value(const QString &name) const
{
    const auto index = indexOf(name);
    return index && !m_values[*index].isEmpty() ? m_values[*index].constLast() : QString();
}

int CommandLine::usageError(const QString &message) const
{
    printText(stderr, OperatorText::usageError(m_program, message));
    return kUsageError;
}

std::optional<std::size_t> CommandLine::indexOf(const QString &name) const
{
    for (std::size_t i = 0; i < m_options.size(); ++i) {
        if (m_options[i].option.names().contains(name))
            return i;
    }
    return std::nullopt;
}

bool CommandLine::standaloneSet() const
{
    for (std::size_t i = 0; i < m_options.size(); ++i) {
        if (m_options[i].kind == Kind::Standalone && !m_values[i].isEmpty())
            return true;
    }
    return false;
}

void CommandLine::fail(const QString &message)
{
    if (m_error.isEmpty())
        m_error = message;
}

// Every argument is read even after a mistake, so that a --help further on still answers.
void CommandLine::parse(const QStringList &arguments)
{
    bool optionsEnded = false;
    for (qsizetype at = 1; at < arguments.size(); ++at) {
        const QString &argument = arguments.at(at);
        if (optionsEnded || argument == u"-"_s || !argument.startsWith(u'-')) {
            m_given << argument;
        } else if (argument == u"--"_s) {
            optionsEnded = true;
        } else if (argument.startsWith(u"--"_s)) {
            takeLong(argument.mid(2), u"--"_s, arguments, at);
        } else {
            // Qt's own options are words after one dash (-platform); ours are letters.
            const QString word = argument.mid(1).section(u'=', 0, 0);
            const auto hidden = indexOf(word);
            if (word.size() > 1 && hidden && m_options[*hidden].kind == Kind::Hidden)
                takeLong(argument.mid(1), u"-"_s, arguments, at);
            else
                takeShort(argument.mid(1), arguments, at);
        }
    }
}

// The option a long name names: exactly, or as the beginning of one option's names only (Qt's
// own options exactly). `begun` gets every name that it begins.
std::optional<std::size_t> CommandLine::longOption(const QString &name, QStringList &begun) const
{
    std::optional<std::size_t> found;
    bool several = false;
    for (std::size_t i = 0; i < m_options.size(); ++i) {
        for (const QString &known : m_options[i].option.names()) {
            if (known.size() < 2)
                continue;
            if (known == name)
                return i;
            if (m_options[i].kind != Kind::Hidden && known.startsWith(name)) {
                begun << u"--"_s + known;
                several = several || (found && *found != i);
                found = i;
            }
        }
    }
    return several ? std::nullopt : found;
}

void CommandLine::takeLong(const QString &text, const QString &dashes, const QStringList &arguments,
                           qsizetype &at)
{
    const QString name = text.section(u'=', 0, 0);
    const std::optional<QString> attached =
        text.contains(u'=') ? std::optional(text.section(u'=', 1)) : std::nullopt;
    const QString spelled = dashes + name;
    QStringList begun;
    if (const auto index = name.isEmpty() ? std::nullopt : longOption(name, begun))
        take(*index, spelled, attached, arguments, at);
    else if (begun.size() > 1)
        fail(OperatorText::ambiguousOption(spelled, begun));
    else
        fail(OperatorText::unknownOption(spelled));
}

void CommandLine::takeShort(const QString &letters, const QStringList &arguments, qsizetype &at)
{
    for (qsizetype i = 0; i < letters.size(); ++i) {
        const QString letter = letters.mid(i, 1);
        const auto index = indexOf(letter);
        if (!index || m_options[*index].kind == Kind::Hidden) {
            fail(OperatorText::unknownOption(u'-' + letter));
            continue;
        }
        // A value takes the rest of the argument, if there is any rest.
        const bool takesValue = !m_options[*index].option.valueName().isEmpty();
        const std::optional<QString> rest =
            takesValue && i + 1 < letters.size() ? std::optional(letters.mid(i + 1)) : std::nullopt;
        take(*index, u'-' + letter, rest, arguments, at);
        if (rest)
            return;
    }
}

void CommandLine::take(std::size_t index, const QString &spelled,
                       const std::optional<QString> &attached, const QStringList &arguments,
                       qsizetype &at)
{
    QString value;
    if (m_options[index].option.valueName().isEmpty()) {
        if (attached) {
            fail(OperatorText::optionTakesNoValue(spelled));
            return;
        }
    } else if (attached) {
        value = *attached;
    } else if (at + 1 < arguments.size()) {
        value = arguments.at(++at); // whatever it looks like, as getopt takes it
    } else {
        fail(OperatorText::optionNeedsValue(spelled));
        return;
    }
    m_values[index] << value;
    if (m_options[index].kind == Kind::Builtin && !m_answer)
        m_answer = index;
}

QString CommandLine::helpText() const
{
    QString usage = OperatorText::helpUsage(m_program);
    for (qsizetype i = 0; i < m_positional.size(); ++i) {
        const QString &name = m_positional.at(i).first;
        usage += i < m_required ? u' ' + name : u" ["_s + name + u']';
    }
    QList<QPair<QString, QString>> options;
    for (const Known &known : m_options) {
        if (known.kind == Kind::Standalone)
            usage += u'\n' + OperatorText::helpOtherUsage(
                                 m_program, dashed(known.option.names().constFirst()));
        if (known.kind == Kind::Listed || known.kind == Kind::Standalone)
            options.append({label(known.option), known.option.description()});
    }
    for (const Known &known : m_options) {
        if (known.kind == Kind::Builtin)
            options.append({label(known.option), known.option.description()});
    }

    qsizetype width = 0;
    for (const auto &row : options)
        width = std::max(width, row.first.size());
    for (const auto &row : m_positional)
        width = std::max(width, row.first.size());
    const qsizetype column = 2 + width + 2;
    auto table = [column](const QList<QPair<QString, QString>> &rows) {
        QString text;
        for (const auto &row : rows) {
            const QString start = u"  "_s + row.first;
            text += start.leftJustified(column) + wrapped(row.second, column, column) + u'\n';
        }
        return text;
    };

    QString text = usage + u'\n' + wrapped(m_summary, 0, 0) + u'\n';
    if (!m_positional.isEmpty())
        text += u'\n' + OperatorText::helpArgumentsHeading() + u'\n' + table(m_positional);
    text += u'\n' + OperatorText::helpOptionsHeading() + u'\n' + table(options);
    return text;
}
