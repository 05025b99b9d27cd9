// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

// The texts every program's command line shares, one named function each: the layout words of
// the help, the usage errors with their hint, the names of values that more than one program
// takes, and the window program's own help. What is only vorlagen-send's or vorlagen-monitor's is
// in texts/send.h and texts/monitor.h.
namespace OperatorText {

// The programs as their help and their messages name them.
inline const QString kWindowProgram = QStringLiteral("vorlagen");
inline const QString kSendProgram = QStringLiteral("vorlagen-send");
inline const QString kMonitorProgram = QStringLiteral("vorlagen-monitor");

// A line on stderr: "vorlagen-send: <message>\n". It may share a terminal with other programs.
QString programMessage(const QString &program, const QString &message);
// A wrong call: the message and the hint "Pomoc: <program> --help".
QString usageError(const QString &program, const QString &message);

// The help's layout: "Upotreba: <program> [opcije]" (the arguments follow), a further usage
// "   ili: <program> -l", and the headings of the two tables.
QString helpUsage(const QString &program);
QString helpOtherUsage(const QString &program, const QString &option);
QString helpArgumentsHeading();
QString helpOptionsHeading();
QString helpOptionHelp();
QString versionOptionHelp();

// Mistakes in the line itself; what the user typed is quoted.
QString extraArgument(const QString &argument);
QString missingArgument(const QString &name);
// "nedostaje argument POVORKA (ili --pulses)": an argument that an option may replace.
QString missingArgumentOr(const QString &name, const QString &instead);
QString unknownOption(const QString &spelled);
QString ambiguousOption(const QString &spelled, const QStringList &options);
QString optionTakesNoValue(const QString &spelled);
QString optionNeedsValue(const QString &spelled);

// A value an option refuses, named by the option: "--<option>: <rule>, a zadato je <value>".
QString optionRefused(const QString &option, const QString &rule, const QString &value);
// Refusals vorlagen-send and vorlagen-monitor share.
QString emptyDevicePath();
QString badRateOption(const QString &value);

// Names of values in the help and in the messages.
QString portArgumentName();      // "N"
QString devicePathValueName();   // "PUTANJA"
QString rateValueName();         // "BPS"
QString millisecondsValueName(); // "MS"

// The window program's help.
QString windowProgramSummary();

} // namespace OperatorText
