// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The texts of vorlagen-monitor, one named function each: its help and refusals, what it says
// when it cannot start or go on, and the lines it prints for what arrives. System errors come in
// as the system words them (strerror). What every command line shares is in texts/commandline.h.
namespace OperatorText {

// The help.
QString monitorSummary();
QString monitorPortArgumentHelp();
QString monitorDeviceOptionHelp();
QString monitorRateOptionHelp();
QString monitorOnceOptionHelp();
QString monitorGapOptionHelp(int defaultMs);
QString monitorAllOptionHelp(int shownBytes);

// A wrong call.
QString monitorNumberWithDevice();
QString monitorOnceWithDevice();
QString monitorRateWithoutDevice();
QString monitorMissingPort();
QString badGap(const QString &value, int mostMs);

// The virtual port cannot be made, or the device cannot be listened on.
QString terminalNotMade(const QString &reason);
QString terminalNameUnknown(const QString &reason);
QString notOpened(const QString &path, const QString &reason);
QString opensNotWatched(const QString &reason);
QString folderNotMade(const QString &folder);
QString linkReplaced(const QString &link);
QString portMonitoredElsewhere(int number, const QString &link);
// `target`: where the link leads, empty when it is no link.
QString linkOccupied(const QString &link, const QString &target);
QString linkNotMade(const QString &link, const QString &reason);
QString notASerialDevice(const QString &path);
QString rateRefused(const QString &path, qint64 rate);
QString deviceVanished(const QString &path);
QString outputFailed(const QString &reason);

// What it prints on stdout: where it listens, the program's opens and closes with their time of
// day, and the settings the program chose.
QString monitorListening(const QString &device, const QString &settings);
QString monitorLinked(int number, const QString &link, const QString &terminal);
QString monitorInvitation(int number, bool untilClosed);
QString monitorPortOpened(const QString &clock);
QString monitorPortClosed(const QString &clock);
QString monitorPortSet(const QString &settings);
QString monitorLinkRemoved(const QString &link);
QString monitorStaleLockRemoved(const QString &lockFile);
// "115200 b/s, 8N1", and what it says when the settings cannot be read.
QString lineSettings(qint64 rate, int dataBits, char parity, int stopBits);
QString lineSettingsUnknown();

// A train that arrived: its time of day, its number since the start, its size and the bytes
// shown of it; in an opening of the port after the first, the period since the one before and,
// from the third on, how far that lies from the mean so far.
struct ArrivedTrain
{
    QString clock;
    qint64 number = 0;
    qint64 size = 0;
    QByteArray shown;
    std::optional<double> periodMs;
    std::optional<double> deviationMs;
};
QString arrivedTrain(const ArrivedTrain &train);
// The sums of one opening's periods.
QString periodSums(qint64 trains, double meanMs, double minMs, double maxMs, double deviationMs);

} // namespace OperatorText
