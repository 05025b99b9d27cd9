// SPDX-License-Identifier: MIT
#include "cli/monitoroptions.h"

#include "cli/commandline.h"
#include "texts/commandline.h"
#include "texts/failures.h"
#include "texts/monitor.h"
#include "train/fields.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

constexpr int kMostGapMs = 10000;

std::optional<int> positive(const QString &text, int max)
{
    const QByteArray digits = text.toLocal8Bit();
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(digits.constData(), &end, 10);
    if (errno != 0 || end == digits.constData() || *end != '\0' || value < 1 || value > max)
        return std::nullopt;
    return int(value);
}

void describe(CommandLine &command)
{
    namespace Text = OperatorText;
    command.addPositional(Text::portArgumentName(), Text::monitorPortArgumentHelp(),
                          CommandLine::Need::Optional);
    command.addOption(QCommandLineOption({u"d"_s, u"device"_s}, Text::monitorDeviceOptionHelp(),
                                         Text::devicePathValueName()));
    command.addOption(QCommandLineOption({u"b"_s, u"rate"_s}, Text::monitorRateOptionHelp(),
                                         Text::rateValueName()));
    command.addOption(QCommandLineOption(u"once"_s, Text::monitorOnceOptionHelp()));
    command.addOption(QCommandLineOption(u"gap"_s,
                                         Text::monitorGapOptionHelp(MonitorOptions::kDefaultGapMs),
                                         Text::millisecondsValueName()));
    command.addOption(
        QCommandLineOption(u"all"_s, Text::monitorAllOptionHelp(int(MonitorOptions::kShownBytes))));
}

// A real device instead of a virtual port: no number, no --once.
std::optional<QString> readDevice(const CommandLine &command, MonitorOptions &options)
{
    if (command.value(u"device"_s).isEmpty())
        return OperatorText::emptyDevicePath();
    if (!command.positional().isEmpty())
        return OperatorText::monitorNumberWithDevice();
    if (command.isSet(u"once"_s))
        return OperatorText::monitorOnceWithDevice();
    options.device = QFile::encodeName(command.value(u"device"_s)).toStdString();
    if (command.isSet(u"rate"_s)) {
        const QString rate = command.value(u"rate"_s);
        const auto bitRate = positive(rate, std::numeric_limits<int>::max());
        if (!bitRate)
            return OperatorText::badRateOption(rate);
        options.rate = *bitRate;
    }
    return std::nullopt;
}

// A virtual port: the number by the window's own rule for "Port:".
std::optional<QString> readNumber(const CommandLine &command, MonitorOptions &options)
{
    if (command.positional().isEmpty())
        return OperatorText::monitorMissingPort();
    if (command.isSet(u"rate"_s))
        return OperatorText::monitorRateWithoutDevice();
    const QString number = command.positional().at(0);
    if (const auto refused = Fields::portRefusal(number))
        return refused->description;
    options.number = *Fields::toInteger16(number);
    return std::nullopt;
}

} // namespace

std::optional<int> parseMonitorOptions(int argc, char **argv, MonitorOptions &options)
{
    CommandLine command(OperatorText::kMonitorProgram, OperatorText::monitorSummary());
    describe(command);
    if (const auto exitCode = command.process(argc, argv))
        return exitCode;

    const auto refused =
        command.isSet(u"device"_s) ? readDevice(command, options) : readNumber(command, options);
    if (refused)
        return command.usageError(*refused);
    options.once = command.isSet(u"once"_s);
    options.all = command.isSet(u"all"_s);
    if (command.isSet(u"gap"_s)) {
        const QString gap = command.value(u"gap"_s);
        const auto ms = positive(gap, kMostGapMs);
        if (!ms)
            return command.usageError(OperatorText::badGap(gap, kMostGapMs));
        options.gapMs = *ms;
    }
    return std::nullopt;
}
