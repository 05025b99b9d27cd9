// SPDX-License-Identifier: MIT
#pragma once

#include "train/pulsedesign.h"

#include <QString>
#include <QStringList>

// The designer's answer in the operator's words, shared by the dialog and the command line.
namespace PulseDesign {

// The summary lines (rate, train, size and largest error) and one row per pulse (number, level,
// wanted, made, error).
QStringList summaryLines(const Design &design, const Options &options);
QString sizeLine(const Design &design, const Options &options); // the third summary line
QStringList pulseCells(int number, const MadePulse &pulse);
// Both of the above as plain text, the pulses as aligned columns under a heading.
QString planText(const Design &design, const Options &options);

} // namespace PulseDesign
