// SPDX-License-Identifier: MIT
#pragma once

#include "serial/linedriver.h"
#include "serial/portdevice.h"

#include <QIODevice>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// One open device of this process, shared by the port device that opened it and a background
// worker thread; kept in a per-process registry by the resolved path until it is closed for good.
//
// - Writes go straight to the driver with one non-blocking push while nothing of ours is
//   queued; whatever the driver does not take waits in our queue, and the worker pushes it out
//   in order as the driver makes room. Our queue plus the driver's never exceeds the caller's
//   limit. Writes never touch the port object, so any thread may make them.
// - release() only marks the line released and returns. The worker pushes the rest of our queue,
//   drains the driver, and then posts the final close of the port object to its own thread.
// - An open of a path whose line is released but not yet closed takes that line over (a second
//   open would fail on our own lock): nothing already written is lost or reordered. A different
//   rate is a step in the queue: the worker drains the line before it applies the rate, and what
//   was written after the step goes out only at the new rate. If the device refuses the rate (or
//   would run more than 1 % off), what waits behind the step is dropped and 205 is told once.
// - A device that fails (hang-up, unplugged) is marked gone once. The owner learns it from its
//   next call; a released line tells the background failure handler. The worker then has the
//   port closed.
class SerialLine : public std::enable_shared_from_this<SerialLine>
{
public:
    enum class State { Owned, Released, Gone, Closed };

    struct Taken
    {
        std::shared_ptr<SerialLine> line;   // taken over
        std::optional<PortFailure> failure; // the path is busy
        // Neither: no line of this process has the path; open the device afresh.
    };
    // Takes over the line of `path` that is still draining, at `rate`.
    static Taken takeOver(const QString &path, qint32 rate, PortDevice::FailureHandler handler);

    // Starts the line of a device just opened: claims it, applies `rate` (refused when the device
    // would run more than 1 % off) and registers it. On failure the port is closed and deleted.
    static std::shared_ptr<SerialLine>
    start(const QString &path, std::unique_ptr<LineDriver> driver, std::unique_ptr<QIODevice> port,
          qint32 rate, PortDevice::FailureHandler handler, std::optional<PortFailure> *failure);

    SerialLine(QString path, std::unique_ptr<LineDriver> driver, QIODevice *port, qint32 rate,
               PortDevice::FailureHandler handler);

    const QString &path() const { return m_path; }
    State state() const;

    std::optional<PortFailure> write(const QByteArray &bytes, qint64 limit);
    std::optional<PortFailure> setModemLine(LineDriver::ModemLine which, bool on);
    qint64 waiting() const;
    // The owner lets go. A failure not yet told to the owner comes back now.
    std::optional<PortFailure> release();

    // See SerialPortDevice::finishAll and linesInUse.
    static void finishAll(std::chrono::milliseconds grace, const std::function<bool()> &hurry);
    static constexpr std::chrono::milliseconds kExitGrace{2000};
    static int linesInUse();

private:
    struct Segment
    {
        qint32 rate = 0; // applied once everything before has left the line; 0 = no change
        QByteArray bytes;
        qint64 offset = 0; // bytes already handed to the driver
    };

    bool reclaim(qint32 rate, PortDevice::FailureHandler handler);
    bool finalize(bool fromEvent);
    bool finishForExit(bool now);
    void run();
    void stepRate(std::unique_lock<std::mutex> &lock);
    void pushFront(std::unique_lock<std::mutex> &lock);
    std::optional<PortFailure> ownerFailureLocked();
    bool drainUnlocked(std::unique_lock<std::mutex> &lock);
    void failLocked(std::unique_lock<std::mutex> &lock, qint64 alsoLost);
    void tellLocked(std::unique_lock<std::mutex> &lock, bool owned, const PortFailure &failure);
    void postFinalizeLocked();
    QIODevice *closeLocked();
    void closePort(QIODevice *port, bool deferred);

    const QString m_path;
    QIODevice *m_port; // lives on the thread that opened it; closed there
    std::unique_ptr<LineDriver> m_driver;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    State m_state = State::Owned;
    std::deque<Segment> m_queue;
    qint64 m_queuedBytes = 0;
    qint32 m_rate;              // the rate once the queue is through; 0 = unknown
    qint32 m_lineRate;          // the rate the device runs at now
    quint64 m_directWrites = 0; // tells the worker that bytes arrived during a drain
    bool m_drained = false;
    bool m_finalizePosted = false;
    std::optional<PortFailure> m_ownerFailure;
    PortDevice::FailureHandler m_handler;
};
