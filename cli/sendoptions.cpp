// SPDX-License-Identifier: MIT
#include "cli/sendoptions.h"

#include "cli/commandline.h"
#include "cli/pulseplan.h"
#include "texts/failures.h"
#include "texts/pulses.h"
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

// One option: how it is written and what its value does. apply() gives the message that refuses
// a wrong value. Another option is another row.
struct Rule
{
    QCommandLineOption option;
    std::function<std::optional<QString>(const QString &value, SendOptions &options)> apply;
};

QString refusal(const QString &option, const QString &rule, const QString &value)
{
    return u"--"_s + option + u": "_s + rule + u", a zadato je "_s +
           OperatorText::quotedInput(value);
}

using Refusal = std::optional<QString>;

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
        return u"--device: putanja uredjaja je prazna"_s;
    options.device = value;
    return std::nullopt;
}

Refusal rate(const QString &value, SendOptions &options)
{
    if (Fields::bitRate(value) == 0)
        return refusal(u"rate"_s, u"brzina mora biti ceo pozitivan broj b/s"_s, value);
    options.rate = value;
    return std::nullopt;
}

Refusal level(const QString &name, const QString &value, bool &on)
{
    if (value != u"on"_s && value != u"off"_s)
        return refusal(name, u"vrednost je on ili off"_s, value);
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
        return refusal(u"count"_s, u"broj povorki mora biti ceo broj veci od 0"_s, value);
    return std::nullopt;
}

std::vector<Rule> rules()
{
    using Option = QCommandLineOption;
    return {
        {Option({u"p"_s, u"port"_s}, u"broj porta, kao \"Port:\" u prozoru (podrazumevano 1)"_s,
                u"N"_s),
         port},
        {Option({u"d"_s, u"device"_s},
                u"uredjaj po putanji umesto broja porta (npr. /dev/ttyUSB0), proveren kao "
                "uredjaj veze com<N>"_s,
                u"PUTANJA"_s),
         device},
        {Option({u"b"_s, u"rate"_s}, u"brzina u b/s, bilo koji ceo broj (podrazumevano 115200)"_s,
                u"BPS"_s),
         rate},
        {Option(u"dtr"_s, u"linija DTR (podrazumevano on)"_s, u"on|off"_s),
         [](const QString &value, SendOptions &options) {
             return level(u"dtr"_s, value, options.dtr);
         }},
        {Option(u"rts"_s, u"linija RTS (podrazumevano off)"_s, u"on|off"_s),
         [](const QString &value, SendOptions &options) {
             return level(u"rts"_s, value, options.rts);
         }},
        {Option({u"t"_s, u"period"_s}, u"ponavljanje: perioda u ms, od 0 do 32767"_s, u"MS"_s),
         period},
        {Option({u"n"_s, u"count"_s}, u"uz --period: zavrsi posle K povorki (inace do Ctrl+C)"_s,
                u"K"_s),
         count},
        {Option(u"pulses"_s, OperatorText::pulsesOptionHelp(), u"IMPULSI"_s),
         [](const QString &value, SendOptions &options) -> Refusal {
             options.pulses = value;
             return std::nullopt;
         }},
        {Option(u"standard-rates"_s,
                OperatorText::standardRatesOptionHelp(std::cbegin(Fields::kStandardBitRates)[0],
                                                      std::crbegin(Fields::kStandardBitRates)[0])),
         [](const QString &, SendOptions &options) -> Refusal {
             options.standardRates = true;
             return std::nullopt;
         }},
        {Option(u"tolerance"_s, OperatorText::toleranceOptionHelp(), u"PCT"_s),
         [](const QString &value, SendOptions &options) -> Refusal {
             options.tolerance = value;
             return std::nullopt;
         }},
        {Option(u"plan"_s, OperatorText::planOptionHelp()),
         [](const QString &, SendOptions &options) -> Refusal {
             options.plan = true;
             return std::nullopt;
         }},
        {Option({u"v"_s, u"verbose"_s},
                u"uz --period: svake sekunde ispisi poslate povorke i propustene rokove"_s),
         [](const QString &, SendOptions &options) -> Refusal {
             options.verbose = true;
             return std::nullopt;
         }},
    };
}

// Options that make sense only together, or not together.
std::optional<QString> mismatch(const CommandLine &command, const SendOptions &options)
{
    if (command.isSet(u"port"_s) && command.isSet(u"device"_s))
        return u"--port i --device se ne zadaju zajedno"_s;
    if (options.list && !command.positional().isEmpty())
        return u"--list ne salje povorku; zadajte jedno ili drugo"_s;
    if (options.count > 0 && !options.periodMs)
        return u"--count vazi samo uz --period"_s;
    if (options.count > 0 && *options.periodMs == 0)
        return u"uz periodu 0 nijedna povorka ne odlazi, pa se --count nikad ne bi dostigao"_s;
    if (options.verbose && !options.periodMs)
        return u"--verbose vazi samo uz --period"_s;
    const bool pulses = command.isSet(u"pulses"_s);
    if (pulses && !command.positional().isEmpty())
        return u"--pulses daje povorku; ne zadaje se i POVORKA"_s;
    if (pulses && command.isSet(u"rate"_s))
        return u"--pulses bira brzinu; ne zadaje se i --rate"_s;
    if (!pulses && (options.standardRates || options.tolerance || options.plan))
        return u"--standard-rates, --tolerance i --plan vaze samo uz --pulses"_s;
    if (!pulses && !options.list && command.positional().isEmpty())
        return u"nedostaje argument POVORKA (ili --pulses)"_s;
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
    if (options.plan) {
        const QByteArray plan = answer.plan.toLocal8Bit();
        std::fwrite(plan.constData(), 1, size_t(plan.size()), stdout);
    }
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
        const QString reason = error == EISDIR  ? u"to je folder"_s
                               : error == EBADF ? u"zatvoren je"_s
                                                : u"greska sistema %1"_s.arg(error);
        return u"standardni ulaz se ne moze procitati: "_s + reason;
    }
    if (qint64(n) > kInputLimit)
        return u"povorka sa standardnog ulaza je preduga: vise od %1 bajtova teksta, a povorka "
               "ima najvise %2 bajtova"_s.arg(QString::number(kInputLimit),
                                              QString::number(kPovorkaSlots));
    train = QString::fromUtf8(bytes.constData(), qsizetype(n));
    while (train.endsWith(u'\n') || train.endsWith(u'\r'))
        train.chop(1);
    return std::nullopt;
}

} // namespace

std::optional<int> parseSendOptions(int argc, char **argv, SendOptions &options)
{
    CommandLine command(u"vorlagen-send"_s,
                        u"Salje povorku bajtova na serijski port kao prozor programa vorlagen: "
                        "bez --period jednom (\"Jednom\"), sa njom jednom u svakoj periodi "
                        "(\"Ponavljanje\") dok se ne posalje --count povorki ili do Ctrl+C. "
                        "Greske idu na standardni izlaz za greske. Izlazni kod: 0 kada je svaki "
                        "bajt otisao na liniju, 1 greska porta ili bajtovi koji nisu otisli, 2 "
                        "pogresan poziv ili vrednost (tada nista nije poslato)."_s);
    command.addPositional(u"POVORKA"_s,
                          u"bajtovi kao dvocifreni heksadecimalni brojevi, npr. \"F0 F0 F0\" "
                          "(ista pravila kao polje \"Podaci za slanje\"); - cita povorku sa "
                          "standardnog ulaza; izostaje uz --pulses"_s,
                          CommandLine::Need::Optional);
    const std::vector<Rule> table = rules();
    for (const Rule &rule : table)
        command.addOption(rule.option);
    command.addStandaloneOption(QCommandLineOption(
        {u"l"_s, u"list"_s},
        u"ispisi svaki broj porta koji bi prozor sada otvorio, sa uredjajem i nacinom kako je "
        "nadjen, i zavrsi"_s));
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
