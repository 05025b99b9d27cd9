// SPDX-License-Identifier: MIT
#include "cli/commandline.h"

#include "cli/version.h"

#include <algorithm>
#include <cstdio>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype kLineWidth = 79;

const QCommandLineOption &helpOption()
{
    static const QCommandLineOption option({u"h"_s, u"help"_s}, u"prikazi ovu pomoc i zavrsi"_s);
    return option;
}

const QCommandLineOption &versionOption()
{
    static const QCommandLineOption option({u"V"_s, u"version"_s},
                                           u"prikazi verziju programa i zavrsi"_s);
    return option;
}

void print(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
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

QString quoted(const QString &text)
{
    return u'"' + text + u'"';
}

} // namespace

CommandLine::CommandLine(QString program, QString summary)
    : m_program(std::move(program))
    , m_summary(std::move(summary))
{
    // One dash or two alike, as Qt's own options are written (-platform, -style).
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    m_parser.addOption(helpOption());
    m_parser.addOption(versionOption());
    m_all << helpOption() << versionOption();
}

void CommandLine::addOption(const QCommandLineOption &option)
{
    m_parser.addOption(option);
    m_listed << option;
    m_all << option;
}

void CommandLine::addPositional(const QString &name, const QString &description, Need need)
{
    m_positional.append({name, description});
    if (need == Need::Required)
        m_required = m_positional.size();
}

void CommandLine::addHiddenOptions(const QList<QCommandLineOption> &options)
{
    m_parser.addOptions(options);
    m_all << options;
}

std::optional<int> CommandLine::process(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (!m_parser.parse(arguments))
        return usageError(parseError(arguments));
    if (m_parser.isSet(helpOption())) {
        print(stdout, helpText());
        return 0;
    }
    if (m_parser.isSet(versionOption())) {
        print(stdout, m_program + u' ' + QLatin1String(kVorlagenVersion) + u'\n');
        return 0;
    }
    const QStringList given = m_parser.positionalArguments();
    if (given.size() > m_positional.size())
        return usageError(u"visak argument "_s + quoted(given.at(m_positional.size())));
    if (given.size() < m_required)
        return usageError(u"nedostaje argument "_s + m_positional.at(given.size()).first);
    return std::nullopt;
}

int CommandLine::usageError(const QString &message) const
{
    print(stderr, m_program + u": "_s + message + u"\nPomoc: "_s + m_program + u" --help\n"_s);
    return kUsageError;
}

// QCommandLineParser says what went wrong only in English words; the cases are few.
QString CommandLine::parseError(const QStringList &arguments) const
{
    // The option an argument names ("--gap=5" names "gap"), if it is one of ours.
    auto option = [this](const QString &argument) -> const QCommandLineOption * {
        const QString name = argument.section(u'=', 0, 0).mid(argument.startsWith(u"--"_s) ? 2 : 1);
        for (const QCommandLineOption &known : m_all) {
            if (known.names().contains(name))
                return &known;
        }
        return nullptr;
    };
    QStringList options = arguments.mid(1);
    options = options.mid(0, options.indexOf(u"--"_s));
    const bool someUnknown = !m_parser.unknownOptionNames().isEmpty();
    for (qsizetype i = 0; i < options.size(); ++i) {
        const QString &argument = options.at(i);
        if (!argument.startsWith(u'-') || argument == u"-"_s)
            continue;
        const QString name = argument.section(u'=', 0, 0);
        const QCommandLineOption *known = option(argument);
        if (!known && someUnknown)
            return u"nepoznata opcija "_s + quoted(name);
        if (known && known->valueName().isEmpty() && argument.contains(u'='))
            return u"opcija "_s + quoted(name) + u" ne prima vrednost"_s;
        if (known && !known->valueName().isEmpty() && !argument.contains(u'='))
            ++i; // its value, whatever it looks like
    }
    // A value option takes the next argument whatever it is, so only the last one can lack it.
    if (!options.isEmpty() && option(options.last()) && !options.last().contains(u'='))
        return u"opciji "_s + quoted(options.last()) + u" nedostaje vrednost"_s;
    return u"neispravan poziv"_s;
}

QString CommandLine::helpText() const
{
    QString usage = u"Upotreba: "_s + m_program + u" [opcije]"_s;
    for (qsizetype i = 0; i < m_positional.size(); ++i) {
        const QString &name = m_positional.at(i).first;
        usage += i < m_required ? u' ' + name : u" ["_s + name + u']';
    }

    QList<QPair<QString, QString>> options;
    for (const QCommandLineOption &option : m_listed)
        options.append({label(option), option.description()});
    for (const QCommandLineOption &option : {helpOption(), versionOption()})
        options.append({label(option), option.description()});

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
        text += u"\nArgumenti:\n"_s + table(m_positional);
    text += u"\nOpcije:\n"_s + table(options);
    return text;
}
