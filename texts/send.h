// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// The texts of vorlagen-send, one named function each: its help, the refusals of a wrong call,
// and what it says while and after it sends. What every command line shares is in
// texts/commandline.h; the pulse options' texts are the pulse designer's (texts/pulses.h), the
// port's failures the window's (texts/failures.h).
namespace OperatorText {

// The help: what the program does, its argument and its options.
QString sendSummary();
QString sendTrainArgumentName(); // "POVORKA"
QString sendTrainArgumentHelp();
QString sendPortOptionHelp();
QString sendDeviceOptionHelp();
QString sendRateOptionHelp();
// "linija DTR (podrazumevano on)": a modem line's option.
QString sendLineOptionHelp(const QString &line, bool onByDefault);
QString sendPeriodOptionHelp();
QString sendCountOptionHelp();
QString sendCountValueName();     // "K"
QString sendPulsesValueName();    // "IMPULSI"
QString sendToleranceValueName(); // "PCT"
QString sendVerboseOptionHelp();
QString sendListOptionHelp();

// Values the options refuse (--port and --period in the window's own words, texts/failures.h).
QString badLineLevel(const QString &option, const QString &value);
QString badTrainCount(const QString &value);

// Options that go only together, or not together.
QString portWithDevice();
QString listWithTrain();
QString countWithoutPeriod();
QString countNeverReached();
QString verboseWithoutPeriod();
QString pulsesWithTrain();
QString pulsesWithRate();
QString pulseOptionsWithoutPulses();
QString missingTrain();

// The train from standard input ("-"): why it could not be read, or that it is longer than
// `limit` bytes of text (a train holds at most `mostBytes`).
QString inputIsFolder();
QString inputIsClosed();
QString inputFailed(int systemError);
QString inputTooLong(qint64 limit, int mostBytes);

// The end: `lost` of `written` bytes did not leave for the line, because the device failed or
// because the line did not take them before the wait ended.
QString bytesNotSent(qint64 lost, qint64 written, bool deviceFailed);

// --list: one port a line, with the link that found it or none for a port the system has.
QString listedPort(int number, const QString &device, const QString &link);

} // namespace OperatorText
