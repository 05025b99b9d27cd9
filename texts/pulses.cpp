// SPDX-License-Identifier: MIT
#include "texts/pulses.h"

#include "texts/words.h"

#include <limits>

// The pulse designer's texts.
namespace OperatorText {

// Pieces the pulse texts share.
namespace {

QString pulse(int number, const QString &token)
{
    return QStringLiteral("Impuls %1 (%2)").arg(QString::number(number), quotedInput(token));
}

// The rates a scope means: "brzini", "standardnoj brzini", "brzini koja odgovara impulsima pre
// njega", in the case "pri svakoj" and "ni pri jednoj" take.
QString ratesOf(PulseScope scope)
{
    const bool standard =
        scope == PulseScope::StandardRates || scope == PulseScope::StandardRatesOfThoseBefore;
    const bool before =
        scope == PulseScope::RatesOfThoseBefore || scope == PulseScope::StandardRatesOfThoseBefore;
    return QLatin1String(standard ? "standardnoj brzini" : "brzini") +
           QLatin1String(before ? " koja odgovara impulsima pre njega" : "");
}

// "at every rate ..." for what holds everywhere, "at no rate ..." for what never does.
QString everyRate(PulseScope scope, const QString &allRates)
{
    if (scope == PulseScope::AllRates)
        return allRates;
    return QStringLiteral("pri svakoj ") + ratesOf(scope);
}

QString noRate(PulseScope scope)
{
    return QStringLiteral("ni pri jednoj ") + ratesOf(scope);
}

// The range of the standard rates: "110 ... 256000 b/s".
QString rateRange(qint32 lowest, qint32 highest)
{
    return QStringLiteral("%1 ... %2 b/s").arg(QString::number(lowest), QString::number(highest));
}

} // namespace

QString pulseDuration(double seconds)
{
    // Below 999,95: four digits of 999,95 or more round to 1000.
    const InUnit shown = inUnit(seconds, 999.95);
    return decimalComma(shown.value, 'g', 4) + QLatin1Char(' ') + shown.unit;
}

QString percent(double fraction)
{
    const double value = fraction * 100.0;
    return decimalComma(value, 'f', value < 10.0 ? 2 : 1) + QStringLiteral(" %");
}

QString tolerancePercent(double fraction)
{
    return decimalComma(fraction * 100.0, 'g', 6) + QStringLiteral(" %");
}

QString pulsesMissing()
{
    return QStringLiteral("Upisite impulse, npr. L26us H26us L26us H26us (L nisko, H visoko, "
                          "trajanje u us ili ms).");
}

QString pulseUnreadable(int number, const QString &word)
{
    return pulse(number, word) +
           QStringLiteral(" nije razumljiv: pise se L ili H, trajanje i jedinica us ili ms, npr. "
                          "L26us ili H0,5ms.");
}

QString pulseWithoutLength(int number, const QString &token)
{
    return pulse(number, token) + QStringLiteral(" traje 0; trajanje mora biti vece od nule.");
}

QString pulseSameLevel(int number, const QString &token)
{
    return pulse(number, token) +
           QStringLiteral(" ima isti nivo kao impuls pre njega; nivoi se smenjuju (L, H, L ...), "
                          "pa ih spojite u jedan impuls.");
}

QString pulsesWithoutLow()
{
    return QStringLiteral("Nema niskog impulsa (L): povorka pocinje start bitom, a bez njega "
                          "linija samo miruje (visoko).");
}

QString pulsesTooLongForTrain(int limitBytes)
{
    return QStringLiteral("Impulsi ne staju u povorku od najvise %1.")
        .arg(counted(limitBytes, "bajta", "bajta", "bajtova"));
}

QString pulseLongerThanNineBits(int number, const QString &token, bool low, PulseScope scope)
{
    return pulse(number, token) + QStringLiteral(" je duzi od 9 bitova ") +
           everyRate(scope, QStringLiteral("i pri najmanjoj brzini, 1 b/s")) +
           (low ? QStringLiteral(": nizak impuls u povorci je najvise start bit i 8 nula.")
                : QStringLiteral(": visok impuls u povorci je najvise 8 jedinica i stop bit."));
}

QString pulseShorterThanOneBit(int number, const QString &token, PulseScope scope)
{
    return pulse(number, token) + QStringLiteral(" je kraci od jednog bita ") +
           everyRate(scope, QStringLiteral("i pri najvecoj brzini, %1 b/s")
                                .arg(std::numeric_limits<qint32>::max())) +
           QLatin1Char('.');
}

QString pulseNotWholeBits(int number, const QString &token, PulseScope scope, double nearest,
                          double tolerance)
{
    return pulse(number, token) + QStringLiteral(" ne traje ceo broj bitova ") + noRate(scope) +
           QStringLiteral(" (najmanja greska %1, dozvoljeno %2).")
               .arg(percent(nearest), tolerancePercent(tolerance));
}

QString pulseNotFramed(int number, const QString &token, bool low, PulseScope scope)
{
    return pulse(number, token) +
           QStringLiteral(" ne staje u okvir bajta (start bit 0, 8 bitova podataka, stop bit 1) "
                          "na tom mestu ") +
           noRate(scope) +
           (low ? QStringLiteral(": nizak impuls bi pokrio stop bit.")
                : QStringLiteral(": visok impuls bi pokrio start bit."));
}

QString pulsesRateLine(qint32 bitRate)
{
    return QStringLiteral("Brzina: %1 b/s").arg(bitRate);
}

QString pulsesTrainLabel()
{
    return QStringLiteral("Povorka:");
}

QString pulsesTrainLine(const QString &trainText)
{
    return pulsesTrainLabel() + QLatin1Char(' ') + trainText;
}

QString pulsesSizeLine(qint64 bytes, double seconds, double largestError, double tolerance)
{
    return QStringLiteral("%1, na liniji %2, najveca greska %3 (dozvoljeno %4)")
        .arg(countedBytes(bytes), pulseDuration(seconds), percent(largestError),
             tolerancePercent(tolerance));
}

QStringList pulseColumns()
{
    return {QStringLiteral("#"), QStringLiteral("Nivo"), QStringLiteral("Zeljeno"),
            QStringLiteral("Dobijeno"), QStringLiteral("Greska")};
}

QString pulseMade(int bitTimes, double seconds)
{
    return QStringLiteral("%1 (%2)").arg(pulseDuration(seconds), countedBits(bitTimes));
}

QString pulseIdleBefore()
{
    return QStringLiteral("mirovanje pre povorke");
}

QString pulseIdleAfter(int bitTimes, double seconds)
{
    return pulseMade(bitTimes, seconds) + QStringLiteral(", pa mirovanje");
}

QString pulsesButton()
{
    return QStringLiteral("Impulsi...");
}

QString pulsesTitle()
{
    return QStringLiteral("Impulsi na TX liniji");
}

QString pulsesPatternLabel()
{
    return QStringLiteral("Impulsi:");
}

QString pulsesPatternHint()
{
    return QStringLiteral("npr. L26us H26us L26us H26us");
}

QString pulsesRules()
{
    return QStringLiteral("L nisko, H visoko, trajanje u us ili ms. H na pocetku i na kraju je "
                          "mirovanje linije.");
}

QString pulsesStandardRates(qint32 lowest, qint32 highest)
{
    return QStringLiteral("Samo standardne brzine (") + rateRange(lowest, highest) +
           QLatin1Char(')');
}

QString pulsesToleranceLabel()
{
    return QStringLiteral("Dozvoljena greska:");
}

QString pulsesLegend()
{
    return QStringLiteral("plavo: dobijeno, sivo: zeljeno");
}

QString pulsesApply()
{
    return QStringLiteral("Primeni");
}

QString pulsesApplyHint()
{
    return QStringLiteral("Upisuje brzinu u \"b/s:\" i povorku u \"Podaci za slanje\"");
}

QString pulsesClose()
{
    return QStringLiteral("Zatvori");
}

QString pulsesOptionHelp()
{
    return QStringLiteral("impulsi umesto povorke, npr. \"L26us H26us L26us\" (L nisko, H visoko, "
                          "trajanje u us ili ms): program nalazi brzinu i bajtove");
}

QString standardRatesOptionHelp(qint32 lowest, qint32 highest)
{
    return QStringLiteral("uz --pulses: samo standardne brzine (") + rateRange(lowest, highest) +
           QLatin1Char(')');
}

QString toleranceOptionHelp()
{
    return QStringLiteral("uz --pulses: najveca dozvoljena greska impulsa u procentima, od 0 do "
                          "50 (podrazumevano 2)");
}

QString planOptionHelp()
{
    return QStringLiteral("uz --pulses: ispisi brzinu, povorku i impulse (zeljeno i dobijeno) i "
                          "ne otvaraj port");
}

QString badTolerance(const QString &text)
{
    return QStringLiteral("--tolerance: greska je broj procenata od 0 do 50, a zadato je %1")
        .arg(quotedInput(text));
}

} // namespace OperatorText
