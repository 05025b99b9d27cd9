// SPDX-License-Identifier: MIT
#include "train/waveform.h"

#include "texts/words.h"
#include "train/decoder.h"
#include "train/fields.h"

#include <algorithm>

QVector<bool> lineBits(const QByteArray &train)
{
    QVector<bool> bits;
    bits.reserve(train.size() * kBitsPerByte);
    for (const char c : train) {
        const auto byte = quint8(c);
        bits.append(false);
        for (int i = 0; i < 8; ++i)
            bits.append(((byte >> i) & 1) != 0);
        bits.append(true);
    }
    return bits;
}

QVector<LineRun> lineRuns(const QByteArray &train)
{
    QVector<LineRun> runs;
    const QVector<bool> bits = lineBits(train);
    for (qsizetype i = 0; i < bits.size(); ++i) {
        if (runs.isEmpty() || runs.last().level != bits[i])
            runs.append(LineRun{bits[i], i, 0});
        ++runs.last().bits;
    }
    return runs;
}

double trainSeconds(qint64 bytes, qint32 bitRate)
{
    return double(bytes) * kBitsPerByte / double(bitRate);
}

std::optional<double> LineSummary::trainSeconds() const
{
    if (!hasRate())
        return std::nullopt;
    return ::trainSeconds(bytes, bitRate);
}

std::optional<double> LineSummary::busyFraction() const
{
    if (!hasRate() || !periodMs || *periodMs <= 0)
        return std::nullopt;
    return *trainSeconds() / (*periodMs / 1000.0);
}

bool LineSummary::outlastsPeriod() const
{
    const auto busy = busyFraction();
    return busy && *busy > 1.0;
}

bool LineSummary::tooLong() const
{
    return !Fields::trainFits(bytes, Terminator::None);
}

bool LineSummary::tooLongToRepeat() const
{
    return !Fields::trainFits(bytes, Terminator::Zero);
}

namespace {

// The first `count` tokens' worth of characters, counted the way the walk counts them (code
// points), so that a walk over the cut text gives exactly the first bytes of the whole train.
QString firstTokens(const QString &text, int count)
{
    const QList<uint> characters = text.toUcs4();
    const qsizetype keep = std::min<qsizetype>(characters.size(), qsizetype(count) * 3);
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(characters.constData()), keep);
}

} // namespace

LineSummary summarizeLine(const QString &trainText, const QString &rateText,
                          const QString &periodText, int shownBytes)
{
    LineSummary summary;
    summary.bytes = trainByteCount(trainText);

    const int shown = int(std::clamp<qint64>(summary.bytes, 0, std::max(shownBytes, 0)));
    if (shown > 0) {
        PovorkaBuffer scratch{};
        qint16 count = 0;
        walkTrain(firstTokens(trainText, shown), Terminator::None, scratch, count);
        summary.firstBytes = QByteArray(reinterpret_cast<const char *>(scratch.data()), count);
    }

    summary.bitRate = Fields::bitRate(rateText);
    summary.periodMs = Fields::periodMs(periodText);
    return summary;
}

namespace {

QString withComma(double value, int decimals)
{
    return QString::number(value, 'f', decimals).replace(QLatin1Char('.'), QLatin1Char(','));
}

// Three significant digits, the way an oscilloscope labels its readings.
QString threeDigits(double value)
{
    if (value >= 100.0)
        return withComma(value, 0);
    if (value >= 10.0)
        return withComma(value, 1);
    return withComma(value, 2);
}

// 1 bajt, 2-4 bajta, 5 and more bajtova: the catalogue's rule.
using OperatorText::counted;

} // namespace

QString formatDuration(double seconds)
{
    if (seconds <= 0.0)
        return QStringLiteral("0 s");
    // Below 999,5 so that rounding never writes "1000 us" for 1,00 ms.
    if (seconds * 1e6 < 999.5)
        return threeDigits(seconds * 1e6) + QStringLiteral(" us");
    if (seconds * 1e3 < 999.5)
        return threeDigits(seconds * 1e3) + QStringLiteral(" ms");
    return threeDigits(seconds) + QStringLiteral(" s");
}

QString formatBusy(double fraction)
{
    const double percent = fraction * 100.0;
    if (percent > 0.0 && percent < 0.05)
        return QStringLiteral("< 0,1 %");
    if (percent < 10.0)
        return withComma(percent, 1) + QStringLiteral(" %");
    return withComma(percent, 0) + QStringLiteral(" %");
}

QString sizeLine(const LineSummary &summary)
{
    QString line = counted(summary.bytes, "bajt", "bajta", "bajtova") + QStringLiteral(", ") +
                   counted(summary.bits(), "bit", "bita", "bitova");
    if (const auto seconds = summary.trainSeconds())
        line += QStringLiteral(", na liniji ") + formatDuration(*seconds);
    return line;
}

QString periodLine(const LineSummary &summary)
{
    if (!summary.periodMs)
        return QStringLiteral("Perioda: nije broj od 0 do 32767");
    if (*summary.periodMs == 0)
        return QStringLiteral("Perioda 0 ms: Ponavljanje nista ne salje");
    QString line = QStringLiteral("Perioda %1 ms").arg(*summary.periodMs);
    if (const auto busy = summary.busyFraction())
        line += QStringLiteral(", linija zauzeta ") + formatBusy(*busy);
    return line;
}

QString warningLine(const LineSummary &summary)
{
    if (summary.tooLong())
        return QStringLiteral("Preduga povorka: najvise ") +
               counted(trainCapacity(Terminator::None), "bajt", "bajta", "bajtova");
    if (summary.outlastsPeriod())
        return QStringLiteral("Povorka traje duze od periode!");
    if (summary.tooLongToRepeat())
        return QStringLiteral("Ponavljanje prima najvise ") +
               counted(trainCapacity(Terminator::Zero), "bajt", "bajta", "bajtova");
    return {};
}

QStringList noteLines(const LineSummary &summary)
{
    QStringList notes;
    if (!summary.hasRate())
        notes << QStringLiteral("b/s: nije brzina koju port prima");
    if (summary.bytes == 0)
        notes << QStringLiteral("Prazna povorka: nista se ne salje");
    return notes;
}

QString shownBytesLine(const LineSummary &summary)
{
    const qint64 more = summary.bytesNotShown();
    if (more <= 0 || summary.firstBytes.isEmpty())
        return {};
    return QStringLiteral("prvih ") +
           counted(summary.firstBytes.size(), "bajt", "bajta", "bajtova") +
           QStringLiteral(", jos %1").arg(more);
}

QString summaryText(const LineSummary &summary)
{
    QStringList lines;
    lines << sizeLine(summary) << periodLine(summary);
    const QString warning = warningLine(summary);
    if (!warning.isEmpty())
        lines << warning;
    lines << noteLines(summary);
    const QString shown = shownBytesLine(summary);
    if (!shown.isEmpty())
        lines << QStringLiteral("Na slici ") + shown;
    return lines.join(QLatin1Char('\n'));
}
