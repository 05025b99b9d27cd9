// SPDX-License-Identifier: MIT
#pragma once

#include "train/decoder.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

// The way back from the line to the fields: the operator names the pulses the TX line must carry
// ("L26us H26us L52us") and gets the bit rate and the bytes whose 8N1 frames make them, with the
// width every pulse gets and its error. The line is the waveform model's (train/waveform.h): per
// byte a start bit (low), eight data bits least significant first, a stop bit (high), bytes
// back to back, the line idle (high) around the train. So inside a train a low or a high stretch
// is 1 to 9 bit times, the first low pulse begins with a start bit, and a high pulse first or
// last in the pattern is idle line, not part of the train.
namespace PulseDesign {

enum class Level { Low, High };

// One pulse as the operator wrote it; `token` is its text, for messages and tables.
struct Pulse
{
    Level level = Level::Low;
    double seconds = 0.0;
    QString token;
};

// What became of a pulse: idle line before the train, bit times of the train, or the line going
// back to idle at its end (the train's last high bits, then idle for as long as it takes).
enum class Role { IdleBefore, Train, IdleAfter };

struct MadePulse
{
    Pulse wanted;
    Role role = Role::Train;
    int bits = 0;         // its bit times in the train (IdleBefore: 0)
    double seconds = 0.0; // bits at the rate: what the line carries (Train)
    double error = 0.0;   // |made - wanted| / wanted (Train; idle line has none)
};

enum class Rates { Any, Standard };

struct Options
{
    // Any: every whole rate the port layer takes (1 .. 2147483647 b/s); Standard: the rates
    // "b/s:" lists.
    Rates rates = Rates::Any;
    double tolerance = 0.02; // the largest relative error any pulse may have
    // Whose length limit the train keeps. "Ponavljanje" takes one byte less than "Jednom" (its
    // terminating zero takes a slot), so a train within it works with both commands: the window
    // cannot know which of them comes next.
    Terminator terminator = Terminator::Zero;
};

struct Design
{
    qint32 bitRate = 0;
    QByteArray bytes;
    QVector<MadePulse> pulses; // one per pulse of the pattern, in its order
    int trailingBits = 0;      // high bits the train ends with after its last low pulse
    double largestError = 0.0;
};

// A design, or why there is none: which pulse and the reason, in the operator's words.
struct Answer
{
    std::optional<Design> design;
    QString refusal;
};

// The pattern: tokens L<duration> or H<duration>, the duration a number (decimal point or comma)
// with "us" or "ms"; spaces, commas or semicolons between tokens. Levels must alternate. Gives
// the pulses, or the refusal that names the token at fault.
std::optional<QVector<Pulse>> parsePattern(const QString &text, QString *refusal);

// The best answer: the smallest largest relative error over the pulses of the train; among
// equal ones (closer than 1e-12) the lower rate, then the shorter train. A pattern that no rate
// makes within the tolerance, or only with a train longer than the limit, is refused.
Answer design(const QString &pattern, const Options &options = {});

// The bytes as the train text of "Podaci za slanje": "55 F0 0A".
QString trainText(const QByteArray &bytes);

// A tolerance as typed, in percent ("2", "0.5", "0,5 %"): 0 to 50 %, as a fraction.
std::optional<double> toleranceFromPercent(const QString &text);

// The answer for the operator, shared by the dialog and the command line: the summary lines
// (rate, train, size and largest error) and one row per pulse (number, level, wanted, made,
// error).
QStringList summaryLines(const Design &design, const Options &options);
QString sizeLine(const Design &design, const Options &options); // the third summary line
QStringList pulseCells(int number, const MadePulse &pulse);
// Both of the above as plain text, the pulses as aligned columns under a heading.
QString planText(const Design &design, const Options &options);

} // namespace PulseDesign
