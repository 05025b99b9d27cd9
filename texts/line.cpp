// SPDX-License-Identifier: MIT
#include "texts/line.h"

#include "texts/words.h"

// The TX line preview's texts.
namespace OperatorText {

// Number formats only the line's texts use.
namespace {

// Three significant digits, the way an oscilloscope labels its readings.
QString threeDigits(double value)
{
    return decimalComma(value, 'f', value >= 100.0 ? 0 : value >= 10.0 ? 1 : 2);
}

} // namespace

QString lineDuration(double seconds)
{
    if (seconds <= 0.0)
        return QStringLiteral("0 s");
    // Below 999,5: three digits of 999,5 or more round to 1000.
    const InUnit shown = inUnit(seconds, 999.5);
    return threeDigits(shown.value) + QLatin1Char(' ') + shown.unit;
}

QString lineBusy(double fraction)
{
    const double percent = fraction * 100.0;
    if (percent > 0.0 && percent < 0.05)
        return QStringLiteral("< 0,1 %");
    return decimalComma(percent, 'f', percent < 10.0 ? 1 : 0) + QStringLiteral(" %");
}

QString lineSize(qint64 bytes, qint64 bits, std::optional<double> seconds)
{
    QString line = countedBytes(bytes) + QStringLiteral(", ") + countedBits(bits);
    if (seconds)
        line += QStringLiteral(", na liniji ") + lineDuration(*seconds);
    return line;
}

QString linePeriod(std::optional<int> periodMs, std::optional<double> busyFraction)
{
    if (!periodMs)
        return QStringLiteral("Perioda: nije broj od 0 do 32767");
    if (*periodMs == 0)
        return QStringLiteral("Perioda 0 ms: Ponavljanje nista ne salje");
    QString line = QStringLiteral("Perioda ") + QString::number(*periodMs) + QStringLiteral(" ms");
    if (busyFraction)
        line += QStringLiteral(", linija zauzeta ") + lineBusy(*busyFraction);
    return line;
}

QString lineTrainTooLong(int mostBytes)
{
    return QStringLiteral("Preduga povorka: najvise ") + countedBytes(mostBytes);
}

QString lineTrainOutlastsPeriod()
{
    return QStringLiteral("Povorka traje duze od periode!");
}

QString lineTooLongToRepeat(int mostBytes)
{
    return QStringLiteral("Ponavljanje prima najvise ") + countedBytes(mostBytes);
}

QString lineNoRate()
{
    return QStringLiteral("b/s: nije brzina koju port prima");
}

QString lineEmptyTrain()
{
    return QStringLiteral("Prazna povorka: nista se ne salje");
}

QString lineShownBytes(qint64 shown, qint64 more)
{
    return QStringLiteral("prvih ") + countedBytes(shown) + QStringLiteral(", jos ") +
           QString::number(more);
}

QString lineShownInPicture(qint64 shown, qint64 more)
{
    return QStringLiteral("Na slici ") + lineShownBytes(shown, more);
}

QString repetitionCounters(quint64 sent, quint64 missed)
{
    return QStringLiteral("Poslato povorki: %1, propusteno rokova: %2")
        .arg(QString::number(sent), QString::number(missed));
}

QString lineAxisBits(qint64 bits)
{
    return QString::number(bits) + QStringLiteral(" bit");
}

QString lineAxisEmpty()
{
    return QStringLiteral("prazna povorka");
}

QString linePortName(qint16 number)
{
    return QStringLiteral("COM") + QString::number(number);
}

QString linePortAt(qint16 number, const QString &device)
{
    return linePortName(number) + QStringLiteral(" = ") + device;
}

QString linePortMissing(qint16 number)
{
    return linePortName(number) + QStringLiteral(" ne postoji");
}

QString linePortEnded(qint16 number)
{
    return linePortMissing(number) + QStringLiteral(": virtuelni port je zavrsen");
}

QString linePortTried(const QString &tried)
{
    return QStringLiteral("Trazeno: ") + tried;
}

QString linePortsPresent(const QStringList &present)
{
    return QStringLiteral("Postoje: ") + (present.isEmpty()
                                              ? QStringLiteral("nijedan serijski port")
                                              : present.join(QStringLiteral(", ")));
}

QString linePortNotANumber()
{
    return QStringLiteral("Port: nije broj");
}

QString linePortOutOfRange()
{
    return QStringLiteral("Port: izvan opsega -32768 do 32767");
}

QString linePortBelowOne()
{
    return QStringLiteral("Port: mora biti 1 ili veci");
}

} // namespace OperatorText
