// SPDX-License-Identifier: MIT
#pragma once

#include "texts/portfailure.h"
#include "train/decoder.h"

#include <QString>
#include <optional>

// The rules for the window's fields, in one place: which "Port:", "b/s:" and "Perioda:" texts
// the commands take, and how long a train may be. The commands, the waveform model and the
// preview all ask here, so what the preview shows is what a command will do.
namespace Fields {

// Text to a signed 16-bit integer: decimal digits with an optional sign, spaces around allowed.
// Anything else, or a value outside -32768..32767, is no number.
std::optional<qint16> toInteger16(const QString &text);

// Whether the text has the form of a whole number at all, whatever its size: tells a number
// out of range from text that is no number.
bool isWholeNumber(const QString &text);

// "Port:" as the set-up takes it: nothing when it goes on to look for the port, otherwise the
// failure it reports for the text (no number, out of range, below 1) before any device is
// touched. The command-line programs refuse their port numbers by the same rule.
std::optional<PortFailure> portRefusal(const QString &text);

// The port settings the set-up builds from the "b/s:" text: the text followed by ",n,8,1".
QString settingsText(const QString &rateText);

// The bit rate the port runs for a "b/s:" text; 0 when the port refuses the text.
qint32 bitRate(const QString &rateText);
// The "b/s:" text a settings text was built from; none when it is no "<rate>,n,8,1".
std::optional<QString> rateTextOf(const QString &settings);

// The rates "b/s:" offers, in its order; any other whole rate may be typed.
inline constexpr qint32 kStandardBitRates[] = {110,  300,   600,   1200,  2400,  4800,
                                               9600, 19200, 38400, 57600, 115200};

// "Perioda:" in milliseconds, 0..32767; nothing for any other text.
std::optional<int> periodMs(const QString &text);

// How much of a field's text the window keeps. A number field: far more than any number the
// commands take, spaces and zeros included. The train: with two UTF-16 units per character at
// most, a text cut at this length still makes more bytes than fit, so a paste that is too long
// is still refused as too long, never sent cut short.
inline constexpr int kNumberFieldLength = 100;
inline constexpr int kTrainFieldLength = 2 * 3 * (kPovorkaSlots + 1);

// Whether the train text fits the buffer for "Jednom" (Terminator::None) or "Ponavljanje"
// (Terminator::Zero, whose zero takes a slot of its own).
bool trainFits(qint64 bytes, Terminator terminator);

} // namespace Fields
