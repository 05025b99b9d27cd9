// SPDX-License-Identifier: MIT
#pragma once

#include "bench/common.h"
#include "train/engine.h"

#include <atomic>
#include <vector>

// A moment on the timer's thread: the clock when the look began and ended, the thread's context
// switches and page faults so far and, where read, how long it has waited runnable for a CPU
// (the scheduler's run delay).
struct Mark
{
    Clock::time_point at;
    Clock::time_point done;
    long voluntary = 0;
    long involuntary = 0;
    long minorFaults = 0;
    long majorFaults = 0;
    qint64 runDelayNs = -1; // -1: not read at this mark
};

// One tick of the program's timer as the probe saw it on the timer's thread: when the send
// routine was entered, when its write began and returned, and when it was left.
struct TickRecord
{
    qint64 index = 0; // which deadline of the grid it stood for (1: the first after the click)
    Clock::time_point deadline;
    Mark entry;
    Mark writeIn;
    Mark writeOut;
    Mark exit;
    bool wrote = false;
};

// Sits between the engine and its timer and devices (the engine's parts are wrapped before the
// engine is made), so the program runs its own code unchanged and the probe only looks: at each
// tick's entry and exit, around each write a tick makes. The grid a tick belongs to is known from
// the moment the repetition was armed and the timer's missed count, so nothing in the program
// needs to tell it. What the looks cost the timer's thread is counted and taken out of its CPU.
class TickProbe
{
public:
    // `looking`: false leaves the engine unwrapped (nothing recorded), to see what the looks
    // cost; the timer thread's CPU is still read.
    explicit TickProbe(bool looking = true, size_t capacity = 50000);
    ~TickProbe();
    TickProbe(const TickProbe &) = delete;
    TickProbe &operator=(const TickProbe &) = delete;

    void wrap(Engine::Parts &parts);
    // The timer's thread, found by its name once it runs: its run delay is read at each tick.
    void watchTimerThread(int tid);
    // Forgets the ticks so far; from the window's thread, with no repetition running.
    void reset();

    // After the run.
    std::vector<TickRecord> records() const;
    Clock::duration period() const { return m_period.load(); }
    // When the repetition was last armed; the epoch when it never was or nothing is looked at.
    Clock::time_point armedAt() const { return m_gridStart.load(); }
    double overheadSeconds() const { return double(m_overheadNs.load()) / 1e9; }
    // The timer thread's CPU time so far, the probe's own looks taken out.
    double timerCpuSeconds() const;

    // Called by the wrappers.
    void armed(Clock::time_point start, int intervalMs, quint64 missed);
    void tick(const TrainTimer::TickHandler &handler, quint64 schedule, quint64 missed);
    void mark(Mark &mark, bool runDelay);

private:
    const bool m_looking;
    std::vector<TickRecord> m_records;
    std::atomic<size_t> m_count{0};
    std::atomic<Clock::duration> m_period{Clock::duration::zero()};
    std::atomic<Clock::time_point> m_gridStart{};
    std::atomic<quint64> m_missedAtStart{0};
    std::atomic<qint64> m_ticks{0};
    std::atomic<qint64> m_overheadNs{0};
    int m_schedstat = -1;
};
