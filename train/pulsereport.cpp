// SPDX-License-Identifier: MIT
#include "train/pulsereport.h"

#include "texts/pulses.h"
#include "train/waveform.h"

#include <algorithm>

// The designer's answer in the operator's words.
namespace PulseDesign {

QStringList summaryLines(const Design &design, const Options &options)
{
    return {OperatorText::pulsesRateLine(design.bitRate),
            OperatorText::pulsesTrainLine(trainText(design.bytes)), sizeLine(design, options)};
}

QString sizeLine(const Design &design, const Options &options)
{
    return OperatorText::pulsesSizeLine(design.bytes.size(),
                                        ::trainSeconds(design.bytes.size(), design.bitRate),
                                        design.largestError, options.tolerance);
}

QStringList pulseCells(int number, const MadePulse &pulse)
{
    QString made;
    QString error;
    switch (pulse.role) {
    case Role::IdleBefore:
        made = OperatorText::pulseIdleBefore();
        break;
    case Role::IdleAfter:
        made = OperatorText::pulseIdleAfter(pulse.bits, pulse.seconds);
        break;
    case Role::Train:
        made = OperatorText::pulseMade(pulse.bits, pulse.seconds);
        error = OperatorText::percent(pulse.error);
        break;
    }
    return {QString::number(number),
            pulse.wanted.level == Level::Low ? QStringLiteral("L") : QStringLiteral("H"),
            OperatorText::pulseDuration(pulse.wanted.seconds), made, error};
}

QString planText(const Design &design, const Options &options)
{
    QList<QStringList> rows{OperatorText::pulseColumns()};
    for (int index = 0; index < design.pulses.size(); ++index)
        rows.append(pulseCells(index + 1, design.pulses[index]));
    QList<qsizetype> widths(rows.first().size(), 0);
    for (const QStringList &row : rows)
        for (qsizetype column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], row[column].size());
    QStringList lines = summaryLines(design, options);
    for (const QStringList &row : rows) {
        QString line;
        for (qsizetype column = 0; column < row.size(); ++column) {
            // Numbers to the right, words to the left, two spaces between columns.
            const QString cell = column == 0 ? row[column].rightJustified(widths[column])
                                             : row[column].leftJustified(widths[column]);
            line += (column == 0 ? QString() : QStringLiteral("  ")) + cell;
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        lines << line;
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace PulseDesign
