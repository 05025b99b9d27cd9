// SPDX-License-Identifier: MIT
#pragma once

#include "texts/portfailure.h"
#include "texts/words.h"

#include <QString>
#include <QStringList>

// Every text the operator reads about a failure or a refused field, in one place: the port
// layer's failures with their numbers and sources, the window's checks of its fields, and the
// notice of a second start. The wording is the operator's language; change it here only.
namespace OperatorText {

// The layer that raised a failure, as the report names it.
inline const QString kSourceWindow = QStringLiteral("VorlaGen");
inline const QString kSourcePort = QStringLiteral("MSCommPort");

// The port error report: its title, and "Greska <n> - <description> - <source>" with the line
// that asks the operator to try again.
QString reportTitle();
QString report(const PortFailure &failure);

// The window's own checks of "Port:" (source VorlaGen).
PortFailure portNotANumber(const QString &text);
PortFailure portOutOfRange(const QString &text);

// The port object's rules (source MSCommPort).
PortFailure portBelowOne(qint16 number);
PortFailure badBitRate(const QString &rateText);
PortFailure badQueueSize(qint16 size);
PortFailure numberChangedWhileOpen();
PortFailure portClosed();

// Opening a device.
PortFailure noSuchPort(qint16 number, const QString &tried, const QStringList &present);
PortFailure deviceMissing(const QString &path);
// A virtual port's link whose monitor has ended (serial/virtualport.h).
PortFailure virtualPortEnded(qint16 number, const QString &link);
// With the remedy that fits who the device belongs to (its owner and group, empty if unknown):
// the dialout group only where the device's group is dialout.
PortFailure permissionDenied(const QString &path, const QString &owner, const QString &group);
PortFailure notASerialPort(const QString &path);
PortFailure alreadyOpen(const QString &path);
PortFailure rateNotAccepted(const QString &path, qint32 rate, qint32 applied);

// A device that another holder keeps: the plain case, a live program holding it, a lock file a
// dead process of another user left behind, an exclusive claim with no lock file, and this
// program's own other port object.
PortFailure portBusy(const QString &path);
PortFailure portBusyBy(const QString &path, const QString &program, qint64 pid);
PortFailure portBusyStaleLock(const QString &path, const QString &lockFile, qint64 pid);
PortFailure portHeldExclusively(const QString &path);
PortFailure portOpenInThisProgram(const QString &path);

// While the port is open.
PortFailure deviceGone(const QString &path, qint64 lost);
// With how long the waiting bytes still take on the line at `rate` b/s (8N1: 10 bits a byte).
PortFailure queueFull(const QString &path, qint64 waiting, qint64 bytes, qint64 limit, qint32 rate);
PortFailure writeFailed(const QString &path, int systemError);
PortFailure linesFailed(const QString &line, const QString &path, int systemError);

// The window's refusals that are no port failure.
QString badPeriod(const QString &text);
// The same while a repetition runs: it goes on unchanged with `oldPeriod` milliseconds.
QString badPeriodGoesOn(const QString &text, int oldPeriod);
QString trainTooLong(qint64 bytes, int capacity);

// Which scheduling the repetition's thread got (`policy`, as the system names it), for the
// operator who asks (vorlagen-send -v); and the note the counters carry while it is not real-time.
QString senderPriority(bool realtime, const QString &policy);
QString senderNotRealtime(const QString &policy);

// A second start while the program runs.
QString alreadyRunningTitle();
QString alreadyRunning();

} // namespace OperatorText
