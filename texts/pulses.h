// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

// The texts of the pulse designer, one named function each: the "Impulsi..." dialog, its
// answers and refusals, and the options of vorlagen-send that use it. A catalogue of its own
// beside the failure texts (texts/failures.h): these are captions and results rather than
// failures. Same namespace, so the two can become one file without touching a caller.
namespace OperatorText {

// A pulse width with four significant digits, decimal comma: "26 us", "26,04 us", "1,5 ms".
QString pulseDuration(double seconds);
// A relative error as a percentage: "0,16 %", "12,5 %"; a tolerance as typed: "2 %", "0,5 %".
QString percent(double fraction);
QString tolerancePercent(double fraction);

// The pattern as typed.
QString pulsesMissing();
QString pulseUnreadable(int number, const QString &word);
QString pulseWithoutLength(int number, const QString &token);
QString pulseSameLevel(int number, const QString &token);
QString pulsesWithoutLow();
QString pulsesTooLongForTrain(int limitBytes);

// A pulse that no rate makes within the tolerance, and over which rates that holds: all of
// them, the standard ones, or those that make the pulses before it.
enum class PulseScope { AllRates, StandardRates, RatesOfThoseBefore, StandardRatesOfThoseBefore };
QString pulseLongerThanNineBits(int number, const QString &token, bool low, PulseScope scope);
QString pulseShorterThanOneBit(int number, const QString &token, PulseScope scope);
QString pulseNotWholeBits(int number, const QString &token, PulseScope scope, double nearest,
                          double tolerance);
QString pulseNotFramed(int number, const QString &token, bool low, PulseScope scope);

// The answer: rate, train, size and largest error; per pulse what it became.
QString pulsesRateLine(qint32 bitRate);
QString pulsesTrainLabel();
QString pulsesTrainLine(const QString &trainText);
QString pulsesSizeLine(qint64 bytes, double seconds, double largestError, double tolerance);
QStringList pulseColumns();
QString pulseMade(int bits, double seconds);
QString pulseIdleBefore();
QString pulseIdleAfter(int bits, double seconds);

// The dialog.
QString pulsesButton();
QString pulsesTitle();
QString pulsesPatternLabel();
QString pulsesPatternHint();
QString pulsesRules();
QString pulsesStandardRates(qint32 lowest, qint32 highest);
QString pulsesToleranceLabel();
QString pulsesLegend();
QString pulsesApply();
QString pulsesApplyHint();
QString pulsesClose();

// vorlagen-send.
QString pulsesOptionHelp();
QString standardRatesOptionHelp(qint32 lowest, qint32 highest);
QString toleranceOptionHelp();
QString planOptionHelp();
QString badTolerance(const QString &text);

} // namespace OperatorText
