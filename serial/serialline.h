// SPDX-License-Identifier: MIT
#pragma once

#include "serial/linedriver.h"
#include "serial/portdevice.h"

#include <QIODevice>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

// One open serial device: the queue of what the driver could not take yet, and the worker
// thread that pushes it out and drains the line. Only its owner, SerialLines, makes, takes over
// and closes lines; see seriallines.h for which thread does what.
//
// - Writes go straight to the driver with one non-blocking push while nothing of ours is
//   queued; whatever the driver does not take waits in our queue, and the worker pushes it out
//   in order as the driver makes room. Our queue plus the driver's never exceeds the caller's
//   limit. Writes never touch the QSerialPort, so any thread may make them.
// - release() only marks the line released and returns. The worker pushes the rest of our queue,
//   drains the driver, and then asks the owner to close the line.
// - A later open of the same device takes the released line over (reclaim): nothing already
//   written is lost or reordered. A different rate is a step in the queue: the worker drains the
//   line before it applies the rate, and what was written after the step goes out only at the
//   new rate. If the device refuses the rate (or would run more than 1 % off), what waits behind
//   the step is dropped and 205 is told once.
// - A device that fails (hang-up, unplugged) is marked gone once. The holder learns it from its
//   next call; a released line tells the background failure handler. The worker then asks the
//   owner to close the line.
class SerialLine
{
public:
    enum class State { Owned, Released, Gone, Closed };
    // What close() does with bytes that have not left yet.
    enum class Leftovers { Keep, Discard };

    // A device opened for `rate` that runs at `applied`. Starts the worker. `closeWanted` is
    // called from it once the line has nothing left to do (drained after a release, or gone);
    // it must not block.
    SerialLine(QString path, std::unique_ptr<LineDriver> driver, std::unique_ptr<QIODevice> port,
               qint32 rate, qint32 applied, PortDevice::FailureHandler handler,
               std::function<void()> closeWanted);
    // The owner has closed the line by then; if not, this closes it, dropping what waits.
    ~SerialLine();
    SerialLine(const SerialLine &) = delete;
    SerialLine &operator=(const SerialLine &) = delete;

    const QString &path() const { return m_path; }
    State state() const;

    // Any thread.
    std::optional<PortFailure> write(const QByteArray &bytes, qint64 limit);
    std::optional<PortFailure> setModemLine(LineDriver::ModemLine which, bool on);
    qint64 waiting() const;
    // The holder lets go. A failure not yet told to the holder comes back now.
    std::optional<PortFailure> release();

    // The owner's thread only.
    // Owned again by a new open at `rate`; false when the line is not released.
    bool reclaim(qint32 rate, PortDevice::FailureHandler handler);
    // Gone, or released and drained: nothing is left for it to do.
    bool finished() const;
    // Closed for good: the worker is stopped and joined, the exclusive claim given up, the
    // device closed. Leftovers::Discard drops what the driver holds (ending a drain under way).
    void close(Leftovers leftovers);

    // What became of the bytes written to the line so far.
    struct Counts
    {
        qint64 accepted = 0; // taken by write()
        qint64 lost = 0;     // of those, dropped: the device failed, refused a rate, or was closed
        bool failed = false; // the device failed (hung up, unplugged)
    };
    Counts counts() const;

    // A rate counts as applied when the device runs within 1 % of it; more than that garbles the
    // framing at the other end.
    static bool closeEnough(qint32 rate, qint32 applied);

private:
    struct Segment
    {
        qint32 rate = 0; // applied once everything before has left the line; 0 = no change
        QByteArray bytes;
        qint64 offset = 0; // bytes already handed to the driver
    };

    void run();
    void stepRate(std::unique_lock<std::mutex> &lock);
    void pushFront(std::unique_lock<std::mutex> &lock);
    std::optional<PortFailure> holderFailureLocked();
    bool drainUnlocked(std::unique_lock<std::mutex> &lock);
    void failLocked(std::unique_lock<std::mutex> &lock, qint64 alsoLost);
    void tellLocked(std::unique_lock<std::mutex> &lock, bool owned, const PortFailure &failure);
    void askForCloseLocked();

    const QString m_path;
    std::unique_ptr<QIODevice> m_port; // the owner's thread opened it and closes it
    std::unique_ptr<LineDriver> m_driver;
    const std::function<void()> m_closeWanted;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    State m_state = State::Owned;
    std::deque<Segment> m_queue;
    qint64 m_queuedBytes = 0;
    qint32 m_rate;              // the rate once the queue is through; 0 = unknown
    qint32 m_lineRate;          // the rate the device runs at now
    quint64 m_directWrites = 0; // tells the worker that bytes arrived during a drain
    bool m_drained = false;
    bool m_closeAsked = false;
    Counts m_counts;
    std::optional<PortFailure> m_holderFailure;
    PortDevice::FailureHandler m_handler;
    std::thread m_worker; // last: started once everything above is set up
};
