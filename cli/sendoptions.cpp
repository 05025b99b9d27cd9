// SPDX-License-Identifier: MIT
#include "cli/sendoptions.h"

#include "cli/commandline.h"
#include "cli/pulseplan.h"
#include "texts/commandline.h"
#include "texts/failures.h"
#include "texts/pulses.h"
#include "texts/send.h"
#include "train/decoder.h"
#include "train/fields.h"

#include <cerrno>
#include <cstdio>
#include <functional>
#include <iterator>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// The longest text that can still make a train: three characters for each byte of the longest
// train, each as long as UTF-8 makes one (four bytes), and a line end. Nothing longer is read.
constexpr qint64 kInputLimit = 4 * 3 * qint64(kPovorkaSlots) + 2;

using Refusal = std::optional<QString>;
using Apply = std::function<Refusal(const QString &value, SendOptions &options)>;

// One option: how it is written and what its value does. apply() gives the message that refuses
// a wrong value. Another option is another row.
struct Rule
{
    QCommandLineOption option;
    Apply apply;
};

Refusal port(const QString &value, SendOptions &options)
{
    if (const auto refused = Fields::portRefusal(value))
        return refused->description; // the window's own words
    options.port = value;
    return std::nullopt;
}

Refusal device(const QString &value, SendOptions &options)
{
    if (value.isEmpty())
        return OperatorText::emptyDevicePath();
    options.device = value;
    return std::nullopt;
}

Refusal rate(const QString &value, SendOptions &options)
{
    if (Fields::bitRate(value) == 0)
        return OperatorText::badRateOption(value);
    options.rate = value;
    return std::nullopt;
}

Refusal level(const QString &name, const QString &value, bool &on)
{
    if (value != u"on"_s && value != u"off"_s)
        return OperatorText::badLineLevel(name, value);
    on = value == u"on"_s;
    return std::nullopt;
}

Refusal period(const QString &value, SendOptions &options)
{
    options.periodMs = Fields::periodMs(value);
    if (!options.periodMs)
        return OperatorText::badPeriod(value);
    return std::nullopt;
}

Refusal count(const QString &value, SendOptions &options)
{
    bool ok = false;
    options.count = value.trimmed().toULongLong(&ok);
    if (!ok || options.count == 0)
        return OperatorText::badTrainCount(value);
    return std::nullopt;
}

// The rules of options whose value is only kept: a flag, a text.
Apply flag(bool SendOptions::*member)
{
    return [member](const QString &, SendOptions &options) -> Refusal {
        options.*member = true;
        return std::nullopt;
    };
}

template<typename Text> Apply kept(Text SendOptions::*member)
{
    return [member](const QString &value, SendOptions &options) -> Refusal {
        options.*member = value;
        return std::nullopt;
    };
}

Apply lineLevel(const QString &name, bool SendOptions::*member)
{
    return [name, member](const QString &value, SendOptions &options) {
        return level(name, value, options.*member);
    };
}

std::vector<Rule> rules()
{
    namespace Text = OperatorText;
    using Option = QCommandLineOption;
    const QString onOff = u"on|off"_s;
    const qint32 lowest = std::cbegin(Fields::kStandardBitRates)[0];
    const qint32 highest = std::crbegin(Fields::kStandardBitRates)[0];
    return {
        {Option({u"p"_s, u"port"_s}, Text::sendPortOptionHelp(), Text::portArgumentName()), port},
        {Option({u"d"_s, u"device"_s}, Text::sendDeviceOptionHelp(), Text::devicePathValueName()),
         device},
        {Option({u"b"_s, u"rate"_s}, Text::sendRateOptionHelp(), Text::rateValueName()), rate},
        {Option(u"dtr"_s, Text::sendLineOptionHelp(u"DTR"_s, true), onOff),
         lineLevel(u"dtr"_s, &SendOptions::dtr)},
        {Option(u"rts"_s, Text::sendLineOptionHelp(u"RTS"_s, false), onOff),
         lineLevel(u"rts"_s, &SendOptions::rts)},
        {Option({u"t"_s, u"period"_s}, Text::sendPeriodOptionHelp(), Text::millisecondsValueName()),
         period},
        {Option({u"n"_s, u"count"_s}, Text::sendCountOptionHelp(), Text::sendCountValueName()),
         count},
        {Option(u"pulses"_s, Text::pulsesOptionHelp(), Text::sendPulsesValueName()),
         kept(&SendOptions::pulses)},
        {Option(u"standard-rates"_s, Text::standardRatesOptionHelp(lowest, highest)),
         flag(&SendOptions::standardRates)},
        {Option(u"tolerance"_s, Text::toleranceOptionHelp(), Text::sendToleranceValueName()),
         kept(&SendOptions::tolerance)},
        {Option(u"plan"_s, Text::planOptionHelp()), flag(&SendOptions::plan)},
        {Option({u"v"_s, u"verbose"_s}, Text::sendVerboseOptionHelp()),
         flag(&SendOptions::verbose)},
    };
}

// Options that make sense only together, or not together.
std::optional<QString> mismatch(const CommandLine &command, const SendOptions &options)
{
    if (command.isSet(u"port"_s) && command.isSet(u"device"_s))
        return OperatorText::portWithDevice();
    if (options.list && !command.positional().isEmpty())
        return OperatorText::listWithTrain();
    if (options.count > 0 && !options.periodMs)
        return OperatorText::countWithoutPeriod();
    if (options.count > 0 && *options.periodMs == 0)
        return OperatorText::countNeverReached();
    if (options.verbose && !options.periodMs)
        return OperatorText::verboseWithoutPeriod();
    const bool pulses = command.isSet(u"pulses"_s);
    if (pulses && !command.positional().isEmpty())
        return OperatorText::pulsesWithTrain();
    if (pulses && command.isSet(u"rate"_s))
        return OperatorText::pulsesWithRate();
    if (!pulses && (options.standardRates || options.tolerance || options.plan))
        return OperatorText::pulseOptionsWithoutPulses();
    if (!pulses && !options.list && command.positional().isEmpty())
        return OperatorText::missingTrain();
    return std::nullopt;
}

// The rate and the train from the pulses; gives the message that refuses the pattern.
std::optional<QString> designTrain(SendOptions &options)
{
    const PulsesAnswer answer = answerPulses(
        {options.pulses, options.standardRates, options.tolerance, options.periodMs.has_value()});
    if (!answer.ok())
        return answer.refusal;
    options.rate = answer.rateText;
    options.train = answer.trainText;
    if (options.plan)
        printText(stdout, answer.plan);
    return std::nullopt;
}

// The train from standard input, read only as far as a train can reach; the line end a file or
// `echo` leaves at the end is no part of it (the window's field cannot hold one either).
std::optional<QString> readStandardInput(QString &train)
{
    QByteArray bytes(kInputLimit + 1, Qt::Uninitialized);
    errno = 0;
    const size_t n = std::fread(bytes.data(), 1, size_t(bytes.size()), stdin);
    const int error = errno;
    if (std::ferror(stdin)) {
        return error == EISDIR  ? OperatorText::inputIsFolder()
               : error == EBADF ? OperatorText::inputIsClosed()
                                : OperatorText::inputFailed(error);
    }
    if (qint64(n) > kInputLimit)
        return OperatorText::inputTooLong(kInputLimit, kPovorkaSlots);
    train = QString::fromUtf8(bytes.constData(), qsizetype(n));
    while (train.endsWith(u'\n') || train.endsWith(u'\r'))
        train.chop(1);
    return std::nullopt;
}

} // namespace

std::optional<int> parseSendOptions(int argc, char **argv, SendOptions &options)
{
    CommandLine command(OperatorText::kSendProgram, OperatorText::sendSummary());
    command.addPositional(OperatorText::sendTrainArgumentName(),
                          OperatorText::sendTrainArgumentHelp(), CommandLine::Need::Optional);
    const std::vector<Rule> table = rules();
    for (const Rule &rule : table)
        command.addOption(rule.option);
    command.addStandaloneOption(
        QCommandLineOption({u"l"_s, u"list"_s}, OperatorText::sendListOptionHelp()));
    if (const auto exitCode = command.process(argc, argv))
        return exitCode;

    for (const Rule &rule : table) {
        const QString name = rule.option.names().constLast();
        if (!command.isSet(name))
            continue;
        if (const auto refused = rule.apply(command.value(name), options))
            return command.usageError(*refused);
    }
    options.list = command.isSet(u"list"_s);
    if (const auto refused = mismatch(command, options))
        return command.usageError(*refused);
    if (options.list)
        return std::nullopt;
    if (!options.pulses.isEmpty() || command.isSet(u"pulses"_s)) {
        if (const auto refused = designTrain(options))
            return command.usageError(*refused);
        return options.plan ? std::optional<int>(0) : std::nullopt; // --plan opens no port
    }

    const QString train = command.positional().at(0);
    options.train = train;
    if (train == u"-"_s) {
        if (const auto refused = readStandardInput(options.train))
            return command.usageError(*refused);
    }
    const Terminator terminator = options.periodMs ? Terminator::Zero : Terminator::None;
    const qint64 bytes = trainByteCount(options.train);
    if (!Fields::trainFits(bytes, terminator))
        return command.usageError(OperatorText::trainTooLong(bytes, trainCapacity(terminator)));
    return std::nullopt;
}
