// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

// The port always runs 8N1: per byte a start bit, eight data bits and a stop bit.
inline constexpr int kBitsPerByte = 10;

// The levels a train puts on the TX line, one per bit time: per byte a start bit (0), the eight
// data bits least significant first, a stop bit (1). The idle line around it is mark (1).
QVector<bool> lineBits(const QByteArray &train);

// Equal levels in a row: what a drawing needs, one step per change of level.
struct LineRun
{
    bool level = true;
    qint64 firstBit = 0;
    qint64 bits = 0;
};
QVector<LineRun> lineRuns(const QByteArray &train);

// Seconds a whole train takes on the line at `bitRate` b/s (which must be above 0).
double trainSeconds(qint64 bytes, qint32 bitRate);

// What the fields mean for the line, decoded the way the send commands decode them. Every
// field text gives a result; one that the commands would refuse gives a note instead of a value.
struct LineSummary
{
    qint64 bytes = 0;            // the whole train as the walk counts it, also when too long
    QByteArray firstBytes;       // its first bytes, at most the number asked for
    qint32 bitRate = 0;          // 0 when the rate text is no rate the port runs
    std::optional<int> periodMs; // empty when the period text is no number 0..32767

    qint64 bits() const { return bytes * kBitsPerByte; }
    bool hasRate() const { return bitRate > 0; }
    // The train's time on the line; needs a rate.
    std::optional<double> trainSeconds() const;
    // Share of the period the line is busy; needs a rate and a period above 0.
    std::optional<double> busyFraction() const;
    // The train needs longer on the line than the period gives it.
    bool outlastsPeriod() const;
    // Refused by both commands, or only by "Ponavljanje" (its terminating zero takes a slot).
    bool tooLong() const;
    bool tooLongToRepeat() const;
    qint64 bytesNotShown() const { return bytes - firstBytes.size(); }
};

// Decodes the three field texts: the train as the token walk does, the rate as the port set-up
// does (the text followed by ",n,8,1"), the period as "Ponavljanje" does. `shownBytes` limits
// how many bytes are decoded for drawing.
LineSummary summarizeLine(const QString &trainText, const QString &rateText,
                          const QString &periodText, int shownBytes);

// The summary in the operator's language, line by line: the values picked from the summary and
// written by the catalogue (texts/line.h). formatDuration gives "868 us", "8,68 ms", "1,25 s"
// (three significant digits, decimal comma).
QString formatDuration(double seconds);
QString sizeLine(const LineSummary &summary);       // bytes, bits, time on the line
QString periodLine(const LineSummary &summary);     // period and how busy the line is
QString warningLine(const LineSummary &summary);    // empty unless the operator must act
QStringList noteLines(const LineSummary &summary);  // fields the commands would refuse
QString shownBytesLine(const LineSummary &summary); // empty when every byte is drawn
// All of the above, one per line, for tooltips and screen readers.
QString summaryText(const LineSummary &summary);
