// SPDX-License-Identifier: MIT
#include "texts/send.h"

#include "texts/commandline.h"

// vorlagen-send's texts.
namespace OperatorText {

namespace {

QString inputUnreadable(const QString &reason)
{
    return QStringLiteral("standardni ulaz se ne moze procitati: ") + reason;
}

} // namespace

QString sendSummary()
{
    return QStringLiteral(
        "Salje povorku bajtova na serijski port kao prozor programa vorlagen: bez --period "
        "jednom (\"Jednom\"), sa njom jednom u svakoj periodi (\"Ponavljanje\") dok se ne posalje "
        "--count povorki ili do Ctrl+C. Greske idu na standardni izlaz za greske. Izlazni kod: 0 "
        "kada je svaki bajt otisao na liniju, 1 greska porta ili bajtovi koji nisu otisli, 2 "
        "pogresan poziv ili vrednost (tada nista nije poslato).");
}

QString sendTrainArgumentName()
{
    return QStringLiteral("POVORKA");
}

QString sendTrainArgumentHelp()
{
    return QStringLiteral("bajtovi kao dvocifreni heksadecimalni brojevi, npr. \"F0 F0 F0\" (ista "
                          "pravila kao polje \"Podaci za slanje\"); - cita povorku sa standardnog "
                          "ulaza; izostaje uz --pulses");
}

QString sendPortOptionHelp()
{
    return QStringLiteral("broj porta, kao \"Port:\" u prozoru (podrazumevano 1)");
}

QString sendDeviceOptionHelp()
{
    return QStringLiteral("uredjaj po putanji umesto broja porta (npr. /dev/ttyUSB0), proveren "
                          "kao uredjaj veze com<N>");
}

QString sendRateOptionHelp()
{
    return QStringLiteral("brzina u b/s, bilo koji ceo broj (podrazumevano 115200)");
}

QString sendLineOptionHelp(const QString &line, bool onByDefault)
{
    return QStringLiteral("linija %1 (podrazumevano %2)")
        .arg(line, onByDefault ? QStringLiteral("on") : QStringLiteral("off"));
}

QString sendPeriodOptionHelp()
{
    return QStringLiteral("ponavljanje: perioda u ms, od 0 do 32767");
}

QString sendCountOptionHelp()
{
    return QStringLiteral("uz --period: zavrsi posle K povorki (inace do Ctrl+C)");
}

QString sendCountValueName()
{
    return QStringLiteral("K");
}

QString sendPulsesValueName()
{
    return QStringLiteral("IMPULSI");
}

QString sendToleranceValueName()
{
    return QStringLiteral("PCT");
}

QString sendVerboseOptionHelp()
{
    return QStringLiteral("uz --period: svake sekunde ispisi poslate povorke i propustene rokove");
}

QString sendListOptionHelp()
{
    return QStringLiteral("ispisi svaki broj porta koji bi prozor sada otvorio, sa uredjajem i "
                          "nacinom kako je nadjen, i zavrsi");
}

QString badLineLevel(const QString &option, const QString &value)
{
    return optionRefused(option, QStringLiteral("vrednost je on ili off"), value);
}

QString badTrainCount(const QString &value)
{
    return optionRefused(QStringLiteral("count"),
                         QStringLiteral("broj povorki mora biti ceo broj veci od 0"), value);
}

QString portWithDevice()
{
    return QStringLiteral("--port i --device se ne zadaju zajedno");
}

QString listWithTrain()
{
    return QStringLiteral("--list ne salje povorku; zadajte jedno ili drugo");
}

QString countWithoutPeriod()
{
    return QStringLiteral("--count vazi samo uz --period");
}

QString countNeverReached()
{
    return QStringLiteral(
        "uz periodu 0 nijedna povorka ne odlazi, pa se --count nikad ne bi dostigao");
}

QString verboseWithoutPeriod()
{
    return QStringLiteral("--verbose vazi samo uz --period");
}

QString pulsesWithTrain()
{
    return QStringLiteral("--pulses daje povorku; ne zadaje se i ") + sendTrainArgumentName();
}

QString pulsesWithRate()
{
    return QStringLiteral("--pulses bira brzinu; ne zadaje se i --rate");
}

QString pulseOptionsWithoutPulses()
{
    return QStringLiteral("--standard-rates, --tolerance i --plan vaze samo uz --pulses");
}

QString missingTrain()
{
    return missingArgumentOr(sendTrainArgumentName(), QStringLiteral("--pulses"));
}

QString inputIsFolder()
{
    return inputUnreadable(QStringLiteral("to je folder"));
}

QString inputIsClosed()
{
    return inputUnreadable(QStringLiteral("zatvoren je"));
}

QString inputFailed(int systemError)
{
    return inputUnreadable(QStringLiteral("greska sistema ") + QString::number(systemError));
}

QString inputTooLong(qint64 limit, int mostBytes)
{
    return QStringLiteral("povorka sa standardnog ulaza je preduga: vise od %1 bajtova teksta, a "
                          "povorka ima najvise %2 bajtova")
        .arg(QString::number(limit), QString::number(mostBytes));
}

QString bytesNotSent(qint64 lost, qint64 written, bool deviceFailed)
{
    return QStringLiteral("%1 od %2 bajtova nije otislo na liniju (%3)")
        .arg(QString::number(lost), QString::number(written),
             deviceFailed ? QStringLiteral("uredjaj se prekinuo")
                          : QStringLiteral("linija ih nije preuzela do kraja cekanja"));
}

QString listedPort(int number, const QString &device, const QString &link)
{
    const QString how = link.isEmpty() ? QString::number(number) + QStringLiteral(". prisutan port")
                                       : QStringLiteral("veza ") + link;
    return QStringLiteral("%1  %2  (%3)").arg(QString::number(number), device, how);
}

} // namespace OperatorText
