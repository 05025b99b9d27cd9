// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The texts of the TX line preview, one named function each: what the fields mean for the line.
// They take the values the waveform model works out (train/waveform.h) and decide nothing else.
namespace OperatorText {

// A time on the line with three significant digits: "868 us", "8,68 ms", "1,25 s".
QString lineDuration(double seconds);
// The share of the period the line is busy: "< 0,1 %", "0,9 %", "104 %".
QString lineBusy(double fraction);

// "10 bajtova, 100 bitova, na liniji 868 us"; the time only when there is a rate.
QString lineSize(qint64 bytes, qint64 bits, std::optional<double> seconds);
// The period, none when its text is no number 0..32767, and the busy share when there is one.
QString linePeriod(std::optional<int> periodMs, std::optional<double> busyFraction);

// What the operator must act on: a train too long for both commands or for "Ponavljanje", or
// one that outlasts its period.
QString lineTrainTooLong(int mostBytes);
QString lineTrainOutlastsPeriod();
QString lineTooLongToRepeat(int mostBytes);

// Fields the commands would refuse.
QString lineNoRate();
QString lineEmptyTrain();

// How much of the train the picture shows: "prvih 10 bajtova, jos 991", and the same as a line
// of the summary ("Na slici prvih ...").
QString lineShownBytes(qint64 shown, qint64 more);
QString lineShownInPicture(qint64 shown, qint64 more);

// While repeating: "Poslato povorki: 3, propusteno rokova: 0" (the preview, vorlagen-send -v).
QString repetitionCounters(quint64 sent, quint64 missed);

// The time axis: where a train without a rate ends, "100 bit"; what an empty train shows.
QString lineAxisBits(qint64 bits);
QString lineAxisEmpty();

// Where "Port:" leads: "COM1" (not looked yet, or Windows' own name), "COM1 = /dev/ttyUSB0",
// "COM1 ne postoji", and the virtual port whose monitor has ended.
QString linePortName(qint16 number);
QString linePortAt(qint16 number, const QString &device);
QString linePortMissing(qint16 number);
QString linePortEnded(qint16 number);
// The details of a missing port: what was looked for, and the ports there are.
QString linePortTried(const QString &tried);
QString linePortsPresent(const QStringList &present);
// "Port:" that the set-up would refuse before it looks for a device, in short: no number,
// out of range, below 1.
QString linePortNotANumber();
QString linePortOutOfRange();
QString linePortBelowOne();

} // namespace OperatorText
