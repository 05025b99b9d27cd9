// SPDX-License-Identifier: MIT
#pragma once

#include "train/realtime.h"
#include "train/rtlock.h"
#include "train/traintimer.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

// The real window timer. A thread of its own sleeps to absolute deadlines (start + k x interval)
// and runs the tick handler there, so the period neither drifts nor waits for the window's event
// loop. When the thread finds deadlines already past (the machine stalled, or a send took long),
// it ticks once at once, counts the other passed deadlines as missed and carries on with the same
// grid: one late train instead of a lost one, never a burst of them.
//
// The thread first asks for real-time scheduling as its RealtimeRequest says (the direct request
// alone unless told) and tells through priority() what it got.
//
// Locking: the timer's own mutex is never held while the handler runs, so a handler may take a
// lock of its owner and then ask isCurrent(); the owner in turn may hold that lock while it calls
// setInterval/setEnabled. Only setTickHandler must not be called under a lock the handler takes,
// since it waits for a running tick. The mutex inherits priority (a command holding it is lent
// the thread's real-time priority), and what a tick reads of the schedule (isCurrent, interval,
// isEnabled, the missed count) needs no lock at all.
class PreciseTimer : public TrainTimer
{
public:
    using Clock = std::chrono::steady_clock;

    // A clock that moves only when told. With one, the thread waits until it reaches a deadline
    // instead of sleeping, so tests can stall and move time by hand.
    using ManualClock = std::function<Clock::time_point()>;

    explicit PreciseTimer(RealtimeRequest request = RealtimeRequest::directOnly());
    explicit PreciseTimer(ManualClock manualClock);
    PreciseTimer(RealtimeRequest request, ManualClock manualClock);
    // Waits for a tick in flight; no tick starts afterwards.
    ~PreciseTimer() override;

    PreciseTimer(const PreciseTimer &) = delete;
    PreciseTimer &operator=(const PreciseTimer &) = delete;

    // Called from inside a tick it replaces the handler without waiting (it would wait for
    // itself). Deadlines that pass while no handler is set are passed over and not counted.
    void setTickHandler(TickHandler handler) override;
    void setInterval(int milliseconds) override;
    int interval() const override;
    void setEnabled(bool enabled) override;
    bool isEnabled() const override;
    bool isCurrent(quint64 schedule) const override;
    quint64 missedDeadlines() const override { return m_missed.load(); }

    // What the thread got when it asked for real-time scheduling; ready once it has asked.
    std::shared_future<SenderPriority> priority() const { return m_priority; }

    // Tells the thread that the manual clock has moved.
    void clockMoved();

    // What follows a tick for the deadline `served`, seen at `now`: the next deadline of the grid
    // that is still ahead, and whether deadlines were passed on the way. Then one tick is due at
    // once and all passed deadlines but the one it stands for are missed.
    struct Next
    {
        Clock::time_point deadline;
        bool late = false;
        quint64 missed = 0;
    };
    static Next nextDeadline(Clock::time_point served, Clock::duration period,
                             Clock::time_point now);

private:
    bool armedLocked() const
    {
        return m_enabled && m_interval > 0 && m_handler && m_replacing == 0;
    }
    void restartLocked();
    void waitLocked(std::unique_lock<RtMutex> &lock, quint32 seen, Clock::time_point until);
    void tickLocked(std::unique_lock<RtMutex> &lock);
    Clock::time_point now() const { return m_manualClock ? m_manualClock() : Clock::now(); }
    void run();

    mutable RtMutex m_mutex;
    Doorbell m_bell;    // commands, the end and a moved test clock wake the thread
    RtCondition m_idle; // a tick ended
    TickHandler m_handler;
    bool m_inHandler = false;
    int m_replacing = 0; // setTickHandler calls waiting for a tick to end
    // Changed under the mutex, read without it.
    std::atomic<int> m_interval{0};
    std::atomic<bool> m_enabled{true}; // as the window timer starts: enabled, interval 0
    std::atomic<quint64> m_schedule{0};
    Clock::time_point m_deadline;
    bool m_late = false; // one tick due at once, standing for the deadline before m_deadline
    bool m_quit = false;
    std::atomic<quint64> m_missed{0};
    const ManualClock m_manualClock;
    const RealtimeRequest m_request;
    std::promise<SenderPriority> m_granted;
    const std::shared_future<SenderPriority> m_priority;
    std::thread m_thread; // last: it starts running once everything above is set up
};
