// SPDX-License-Identifier: MIT
#include "texts/monitor.h"

#include "texts/commandline.h"

#include <cstdio>

// vorlagen-monitor's texts.
namespace OperatorText {

namespace {

// Milliseconds as the monitor has always written them: rounded as C rounds (a tie to even, a
// negative zero kept with its sign), which QString::number does not do; with the decimal comma.
QString measured(double value, int decimals, bool sign = false)
{
    char text[64];
    std::snprintf(text, sizeof text, sign ? "%+.*f" : "%.*f", decimals, value);
    return QString::fromLatin1(text).replace(QLatin1Char('.'), QLatin1Char(','));
}

// "<what> (<the system's reason>)"
QString because(const QString &what, const QString &reason)
{
    return what + QStringLiteral(" (") + reason + QLatin1Char(')');
}

} // namespace

QString monitorSummary()
{
    return QStringLiteral(
        "Virtuelni serijski port za probu programa vorlagen bez hardvera: pravi pseudoterminal, "
        "povezuje ga kao port N i ispisuje svaku povorku koja stigne, sa vremenom, bajtovima i "
        "periodom. Sa --device slusa pravi serijski uredjaj. Radi do Ctrl+C; svaki kraj uklanja "
        "vezu. Izlazni kod: 0 kraj na zahtev (Ctrl+C, SIGTERM, --once), 1 veza ili uredjaj nisu "
        "uspeli ili ispis nije uspeo, 2 pogresan poziv; kada citalac ispisa nestane (| head), "
        "zavrsava se signalom SIGPIPE kao svaki program.");
}

QString monitorPortArgumentHelp()
{
    return QStringLiteral("broj porta (1 do 32767, kao \"Port:\" u prozoru): pravi se veza com<N> "
                          "koju program koristi kao port N");
}

QString monitorDeviceOptionHelp()
{
    return QStringLiteral("umesto virtuelnog porta slusaj pravi serijski uredjaj (npr. "
                          "/dev/ttyUSB1, RX spojen na TX porta na koji program salje); tada bez N");
}

QString monitorRateOptionHelp()
{
    return QStringLiteral("uz --device: brzina u b/s (podrazumevano 115200; mora biti ista kao u "
                          "programu)");
}

QString monitorOnceOptionHelp()
{
    return QStringLiteral("zavrsi kada program prvi put zatvori port (posle \"Jednom\" ili "
                          "\"STOP\"; ne uz --device)");
}

QString monitorGapOptionHelp(int defaultMs)
{
    return QStringLiteral("pauza u ms koja razdvaja dve povorke (podrazumevano ") +
           QString::number(defaultMs) + QLatin1Char(')');
}

QString monitorAllOptionHelp(int shownBytes)
{
    return QStringLiteral("ispisi sve bajtove povorke (inace prvih ") +
           QString::number(shownBytes) + QLatin1Char(')');
}

QString monitorNumberWithDevice()
{
    return QStringLiteral("uz --device se ne zadaje broj porta");
}

QString monitorOnceWithDevice()
{
    return QStringLiteral(
        "--once ne vazi uz --device: pravi uredjaj ne javlja kada ga program zatvori");
}

QString monitorRateWithoutDevice()
{
    return QStringLiteral(
        "--rate vazi samo uz --device; virtuelni port prima brzinu koju program izabere");
}

QString monitorMissingPort()
{
    return missingArgumentOr(portArgumentName(),
                             QStringLiteral("--device ") + devicePathValueName());
}

QString badGap(const QString &value, int mostMs)
{
    return optionRefused(
        QStringLiteral("gap"),
        QStringLiteral("pauza mora biti ceo broj ms od 1 do ") + QString::number(mostMs), value);
}

QString terminalNotMade(const QString &reason)
{
    return because(QStringLiteral("pseudo-terminal nije napravljen"), reason);
}

QString terminalNameUnknown(const QString &reason)
{
    return because(QStringLiteral("ime pseudo-terminala nije dostupno"), reason);
}

QString notOpened(const QString &path, const QString &reason)
{
    return because(path + QStringLiteral(" se ne otvara"), reason);
}

QString opensNotWatched(const QString &reason)
{
    return because(QStringLiteral("napomena: otvaranje i zatvaranje porta se ne prati"), reason);
}

QString folderNotMade(const QString &folder)
{
    return QStringLiteral("folder ") + folder + QStringLiteral(" se ne moze napraviti");
}

QString linkReplaced(const QString &link)
{
    return QStringLiteral("veza ") + link +
           QStringLiteral(" je ostala iza monitora koji vise ne radi; zamenjena je");
}

QString portMonitoredElsewhere(int number, const QString &link)
{
    return QStringLiteral("za port %1 vec radi drugi vorlagen-monitor (veza %2); izaberite drugi "
                          "broj porta")
        .arg(QString::number(number), link);
}

QString linkOccupied(const QString &link, const QString &target)
{
    return QStringLiteral("%1 vec postoji%2 i nije veza monitora; ne menjam je.\nAko je ostala od "
                          "ranije, obrisite je (rm %1) ili izaberite drugi broj porta.")
        .arg(link, target.isEmpty() ? QString() : QStringLiteral(" -> ") + target);
}

QString linkNotMade(const QString &link, const QString &reason)
{
    return because(QStringLiteral("veza ") + link + QStringLiteral(" se ne moze napraviti"),
                   reason);
}

QString notASerialDevice(const QString &path)
{
    return path + QStringLiteral(" nije serijski port");
}

QString rateRefused(const QString &path, qint64 rate)
{
    return QStringLiteral("%1 ne prima brzinu %2 b/s (8N1)").arg(path, QString::number(rate));
}

QString deviceVanished(const QString &path)
{
    return path + QStringLiteral(" je nestao ili se prekinuo");
}

QString outputFailed(const QString &reason)
{
    return because(QStringLiteral("ispis nije uspeo"), reason);
}

QString monitorListening(const QString &device, const QString &settings)
{
    return QStringLiteral("Slusam %1: %2. Kraj: Ctrl+C").arg(device, settings);
}

QString monitorLinked(int number, const QString &link, const QString &terminal)
{
    return QStringLiteral("Port %1: %2 -> %3").arg(QString::number(number), link, terminal);
}

QString monitorInvitation(int number, bool untilClosed)
{
    return QStringLiteral("U programu upisite Port: ") + QString::number(number) +
           QStringLiteral(" i posaljite povorku. Kraj: Ctrl+C") +
           (untilClosed ? QStringLiteral(" ili kada program zatvori port") : QString());
}

QString monitorPortOpened(const QString &clock)
{
    return clock + QStringLiteral("  port otvoren");
}

QString monitorPortClosed(const QString &clock)
{
    return clock + QStringLiteral("  port zatvoren");
}

QString monitorPortSet(const QString &settings)
{
    return QStringLiteral("Port podesen: ") + settings;
}

QString monitorLinkRemoved(const QString &link)
{
    return QStringLiteral("Veza ") + link + QStringLiteral(" uklonjena");
}

QString monitorStaleLockRemoved(const QString &lockFile)
{
    return QStringLiteral("Uklonjena datoteka zakljucavanja ") + lockFile +
           QStringLiteral(" programa koji vise ne radi");
}

QString lineSettings(qint64 rate, int dataBits, char parity, int stopBits)
{
    return QString::number(rate) + QStringLiteral(" b/s, ") + QString::number(dataBits) +
           QLatin1Char(parity) + QString::number(stopBits);
}

QString lineSettingsUnknown()
{
    return QStringLiteral("nepoznato");
}

QString arrivedTrain(const ArrivedTrain &train)
{
    QString line = train.clock + QStringLiteral("  #") + QString::number(train.number) +
                   QStringLiteral("  ") + QString::number(train.size) + QStringLiteral(" B ");
    if (!train.shown.isEmpty())
        line += QLatin1Char(' ') + QString::fromLatin1(train.shown.toHex(' ').toUpper());
    if (train.shown.size() < train.size)
        line += QStringLiteral(" ... (jos ") + QString::number(train.size - train.shown.size()) +
                QLatin1Char(')');
    if (train.periodMs)
        line += QStringLiteral("  perioda ") + measured(*train.periodMs, 2) + QStringLiteral(" ms");
    if (train.deviationMs)
        line += QStringLiteral(", odstupanje ") + measured(*train.deviationMs, 2, true) +
                QStringLiteral(" ms");
    return line;
}

QString periodSums(qint64 trains, double meanMs, double minMs, double maxMs, double deviationMs)
{
    return QStringLiteral("Povorki: %1; perioda srednja %2 ms, najmanja %3 ms, najveca %4 ms, "
                          "odstupanje (std.) %5 ms")
        .arg(QString::number(trains), measured(meanMs, 3), measured(minMs, 3), measured(maxMs, 3),
             measured(deviationMs, 3));
}

} // namespace OperatorText
