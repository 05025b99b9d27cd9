// SPDX-License-Identifier: MIT
#include "cli/monitoroptions.h"

#include "cli/commandline.h"
#include "texts/failures.h"
#include "train/fields.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

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
    command.addPositional(u"N"_s,
                          u"broj porta (1 do 32767, kao \"Port:\" u prozoru): pravi se veza "
                          "com<N> koju program koristi kao port N"_s,
                          CommandLine::Need::Optional);
    command.addOption(QCommandLineOption(
        {u"d"_s, u"device"_s},
        u"umesto virtuelnog porta slusaj pravi serijski uredjaj (npr. /dev/ttyUSB1, RX spojen "
        "na TX porta na koji program salje); tada bez N"_s,
        u"PUTANJA"_s));
    command.addOption(QCommandLineOption(
        {u"b"_s, u"rate"_s},
        u"uz --device: brzina u b/s (podrazumevano 115200; mora biti ista kao u programu)"_s,
        u"BPS"_s));
    command.addOption(QCommandLineOption(u"once"_s, u"zavrsi kada program prvi put zatvori port "
                                                    "(posle \"Jednom\" ili \"STOP\"; ne uz "
                                                    "--device)"_s));
    command.addOption(
        QCommandLineOption(u"gap"_s,
                           u"pauza u ms koja razdvaja dve povorke (podrazumevano %1)"_s.arg(
                               MonitorOptions::kDefaultGapMs),
                           u"MS"_s));
    command.addOption(QCommandLineOption(
        u"all"_s,
        u"ispisi sve bajtove povorke (inace prvih %1)"_s.arg(MonitorOptions::kShownBytes)));
}

// A real device instead of a virtual port: no number, no --once.
std::optional<QString> readDevice(const CommandLine &command, MonitorOptions &options)
{
    if (command.value(u"device"_s).isEmpty())
        return u"--device: putanja uredjaja je prazna"_s;
    if (!command.positional().isEmpty())
        return u"uz --device se ne zadaje broj porta"_s;
    if (command.isSet(u"once"_s))
        return u"--once ne vazi uz --device: pravi uredjaj ne javlja kada ga program zatvori"_s;
    options.device = QFile::encodeName(command.value(u"device"_s)).toStdString();
    if (command.isSet(u"rate"_s)) {
        const QString rate = command.value(u"rate"_s);
        const auto bitRate = positive(rate, std::numeric_limits<int>::max());
        if (!bitRate)
            return u"--rate: brzina mora biti ceo pozitivan broj b/s, a zadato je "_s +
                   OperatorText::quotedInput(rate);
        options.rate = *bitRate;
    }
    return std::nullopt;
}

// A virtual port: the number by the window's own rule for "Port:".
std::optional<QString> readNumber(const CommandLine &command, MonitorOptions &options)
{
    if (command.positional().isEmpty())
        return u"nedostaje argument N (ili --device PUTANJA)"_s;
    if (command.isSet(u"rate"_s))
        return u"--rate vazi samo uz --device; virtuelni port prima brzinu koju program "
               "izabere"_s;
    const QString number = command.positional().at(0);
    if (const auto refused = Fields::portRefusal(number))
        return refused->description;
    options.number = *Fields::toInteger16(number);
    return std::nullopt;
}

} // namespace

std::optional<int> parseMonitorOptions(int argc, char **argv, MonitorOptions &options)
{
    CommandLine command(u"vorlagen-monitor"_s,
                        u"Virtuelni serijski port za probu programa vorlagen bez hardvera: pravi "
                        "pseudoterminal, povezuje ga kao port N i ispisuje svaku povorku koja "
                        "stigne, sa vremenom, bajtovima i periodom. Sa --device slusa pravi "
                        "serijski uredjaj. Radi do Ctrl+C; svaki kraj uklanja vezu. Izlazni kod: "
                        "0 kraj na zahtev (Ctrl+C, SIGTERM, --once), 1 veza ili uredjaj nisu "
                        "uspeli ili ispis nije uspeo, 2 pogresan poziv; kada citalac ispisa "
                        "nestane (| head), zavrsava se signalom SIGPIPE kao svaki program."_s);
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
        const auto ms = positive(gap, 10000);
        if (!ms)
            return command.usageError(u"--gap: pauza mora biti ceo broj ms od 1 do 10000, a "
                                      "zadato je "_s +
                                      OperatorText::quotedInput(gap));
        options.gapMs = *ms;
    }
    return std::nullopt;
}
