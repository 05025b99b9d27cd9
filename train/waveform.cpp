// SPDX-License-Identifier: MIT
#include "train/waveform.h"

#include "texts/line.h"
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

// Some of the train is not drawn: the picture says how much it shows.
bool someNotShown(const LineSummary &summary)
{
    return summary.bytesNotShown() > 0 && !summary.firstBytes.isEmpty();
}

} // namespace

QString formatDuration(double seconds)
{
    return OperatorText::lineDuration(seconds);
}

QString sizeLine(const LineSummary &summary)
{
    return OperatorText::lineSize(summary.bytes, summary.bits(), summary.trainSeconds());
}

QString periodLine(const LineSummary &summary)
{
    return OperatorText::linePeriod(summary.periodMs, summary.busyFraction());
}

QString warningLine(const LineSummary &summary)
{
    if (summary.tooLong())
        return OperatorText::lineTrainTooLong(trainCapacity(Terminator::None));
    if (summary.outlastsPeriod())
        return OperatorText::lineTrainOutlastsPeriod();
    if (summary.tooLongToRepeat())
        return OperatorText::lineTooLongToRepeat(trainCapacity(Terminator::Zero));
    return {};
}

QStringList noteLines(const LineSummary &summary)
{
    QStringList notes;
    if (!summary.hasRate())
        notes << OperatorText::lineNoRate();
    if (summary.bytes == 0)
        notes << OperatorText::lineEmptyTrain();
    return notes;
}

QString shownBytesLine(const LineSummary &summary)
{
    if (!someNotShown(summary))
        return {};
    return OperatorText::lineShownBytes(summary.firstBytes.size(), summary.bytesNotShown());
}

QString summaryText(const LineSummary &summary)
{
    QStringList lines{sizeLine(summary), periodLine(summary)};
    const QString warning = warningLine(summary);
    if (!warning.isEmpty())
        lines << warning;
    lines << noteLines(summary);
    if (someNotShown(summary))
        lines << OperatorText::lineShownInPicture(summary.firstBytes.size(),
                                                  summary.bytesNotShown());
    return lines.join(QLatin1Char('\n'));
}
