// SPDX-License-Identifier: MIT
#pragma once

#include "bench/figures.h"
#include "bench/pty.h"

#include <QString>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

// One train of a reference sender: the deadline it stood for, when its write returned and how
// many deadlines went by without a train just before it.
struct Send
{
    Clock::time_point deadline;
    Clock::time_point written;
    qint64 missedBefore = 0;
};

// The yardstick, run beside the program in the same moment: one thread, clock_nanosleep to
// absolute deadlines, one write per train. After deadlines it was too late for it sends one
// train at once, counts the others as missed and carries on with the grid (the rule the program
// follows). The real-time one asks for SCHED_FIFO 1 as the program's sender does (and, where that
// is refused, the same system service the program asks), so it shows what this machine allows a
// real-time thread at that moment.
class Reference
{
public:
    enum class Kind { Ordinary, Realtime };

    Reference(const Pty &pty, Kind kind, Clock::duration period, size_t wanted);
    ~Reference();
    Reference(const Reference &) = delete;
    Reference &operator=(const Reference &) = delete;

    // Sends one train per period from now on, until stop(). Returns once the thread runs.
    void start();
    // No train after this moment; the figures of the deadlines until then.
    Figures stop();

    // Which scheduling the thread got (after start()).
    QString policy() const { return m_policy; }
    const char *name() const { return m_kind == Kind::Realtime ? "ref-rt" : "ref-ord"; }
    // Whether it stalled between `from` and `to`: a train written more than `late` after its
    // deadline, or deadlines gone by without one (after stop()).
    bool stalledBetween(Clock::time_point from, Clock::time_point to, Clock::duration late) const;
    // Trains written more than a quarter period late (after stop()).
    size_t lateSends() const;
    // CPU time of its sender and receiver so far (while running).
    double cpuSeconds() const;

private:
    void run();
    void tune();

    const Pty &m_pty;
    const Kind m_kind;
    const Clock::duration m_period;
    int m_slave = -1;
    std::unique_ptr<Receiver> m_receiver;
    std::vector<Send> m_sends;
    QString m_policy;
    Clock::time_point m_start;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stop{false};
    quint64 m_missed = 0;
    double m_cpuSeconds = 0;
    std::thread m_thread;
    std::unique_ptr<ThreadCpu> m_cpu;
};
