// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <array>
#include <optional>

// The train buffer: slots 0..1000. Only the first BrojBajtova of them are ever sent; the rest
// keep what earlier walks left there.
inline constexpr int kPovorkaSlots = 1001;
using PovorkaBuffer = std::array<quint8, kPovorkaSlots>;

// Value of one token of at most two characters: 16 x the first digit + the second. Digits are
// "0"-"9" and upper-case "A"-"F"; everything else (lower case too) counts 0. Characters after
// the second are never looked at.
qint16 HexStringToChar(const QString &DioZapisa);

// Whether the walk stores a zero after the last byte (for the repetition).
enum class Terminator { None, Zero };

// How many bytes a train text yields: one per started group of three characters.
qint64 trainByteCount(const QString &text);

// The most bytes a walk can place: the terminating zero takes a slot of its own.
int trainCapacity(Terminator terminator);

// A walk that would not fit the buffer: it is refused before anything is written.
struct TrainTooLong
{
    qint64 bytes = 0;
    int capacity = 0;
};

// Walks the train text in steps of three characters, a token of two characters at each step (one
// when it is the last character), into `povorka` from slot 0, and sets `brojBajtova` to the
// count. With Terminator::Zero a zero follows the last byte, not counted. A train that does not
// fit changes nothing and is returned as the refusal.
std::optional<TrainTooLong> walkTrain(const QString &text, Terminator terminator,
                                      PovorkaBuffer &povorka, qint16 &brojBajtova);
