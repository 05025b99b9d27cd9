// SPDX-License-Identifier: MIT
#pragma once

#include <QLatin1String>
#include <QString>

// Words and numbers as every text of the catalogue writes them: Serbian-Croatian counting, the
// decimal comma and the unit a duration is read in.
namespace OperatorText {

// Serbian-Croatian counting: "1 bit", "2 bita", "5 bitova" (11-14 take the last form).
QString counted(qint64 n, const char *one, const char *few, const char *many);
QString countedBytes(qint64 n); // "1 bajt", "2 bajta", "5 bajtova"
QString countedBits(qint64 n);  // "1 bit", "2 bita", "5 bitova"

// A number as QString::number writes it (`format` 'f' or 'g', `precision`), with a decimal
// comma: "0,16", "26,04".
QString decimalComma(double value, char format, int precision);

// A duration in us, ms or s: the smallest unit in which its value stays below `below`. The
// caller picks `below` for the digits it shows, so that rounding never writes "1000 us" for 1 ms.
struct InUnit
{
    double value = 0.0;
    QLatin1String unit;
};
InUnit inUnit(double seconds, double below);

// What the operator typed, as a message shows it: in quotes, and only its start when it is long
// (a box is read, not scrolled). Texts put it in with one substitution, never into a format.
QString quotedInput(const QString &text);

} // namespace OperatorText
