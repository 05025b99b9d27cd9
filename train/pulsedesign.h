// SPDX-License-Identifier: MIT
#pragma once

#include "train/decoder.h"
#include "train/pulsepattern.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <optional>

// The pulse designer: the way back from the pulses on the TX line to the rate and the train.
namespace PulseDesign {

// What became of a pulse: idle line before the train, bit times of the train, or the line going
// back to idle at its end (the train's last high bits, then idle for as long as it takes).
enum class Role { IdleBefore, Train, IdleAfter };

// A pulse of the pattern as the design makes it.
struct MadePulse
{
    Pulse wanted;
    Role role = Role::Train;
    int bits = 0;         // its bit times in the train (IdleBefore: 0)
    double seconds = 0.0; // bits at the rate: what the line carries (Train)
    double error = 0.0;   // |made - wanted| / wanted (Train; idle line has none)
};

// Which rates the design may choose.
enum class Rates { Any, Standard };

// What the operator chose besides the pattern.
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

// The rate and the train, and what every pulse became at that rate.
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

// The operator names the pulses the TX line must carry ("L26us H26us L52us") and gets the bit
// rate and the bytes whose 8N1 frames make them, with the width every pulse gets and its error.
// The line is the waveform model's (train/waveform.h): per byte a start bit (low), eight data
// bits least significant first, a stop bit (high), bytes back to back, the line idle (high)
// around the train. So inside a train a low or a high stretch is 1 to 9 bit times, the first
// low pulse begins with a start bit, and a high pulse first or last in the pattern is idle line,
// not part of the train.
//
// The best answer: the smallest largest relative error over the pulses of the train; among
// equal ones (closer than 0,01 %, the precision the answer is shown with) the lower rate, then
// the shorter train. A pattern that no rate makes within the tolerance, or only with a train
// longer than the limit, is refused.
Answer design(const QString &pattern, const Options &options = {});

} // namespace PulseDesign
