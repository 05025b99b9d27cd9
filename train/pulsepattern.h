// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <optional>

// The pulse designer's input and output as text: the pattern, the tolerance, the train.
namespace PulseDesign {

// A pulse's level on the TX line; high is also the idle line.
enum class Level { Low, High };

// One pulse as the operator wrote it; `token` is its text, for messages and tables.
struct Pulse
{
    Level level = Level::Low;
    double seconds = 0.0;
    QString token;
};

// The pattern: tokens L<duration> or H<duration>, the duration a number (decimal point or comma)
// with "us" or "ms"; spaces, commas or semicolons between tokens. Levels must alternate. Gives
// the pulses, or the refusal that names the token at fault.
std::optional<QVector<Pulse>> parsePattern(const QString &text, QString *refusal);

// A tolerance as typed, in percent ("2", "0.5", "0,5 %"): 0 to 50 %, as a fraction.
std::optional<double> toleranceFromPercent(const QString &text);

// The bytes as the train text of "Podaci za slanje": "55 F0 0A".
QString trainText(const QByteArray &bytes);

} // namespace PulseDesign
