// SPDX-License-Identifier: MIT
#pragma once

#include "bench/common.h"

#include <QString>
#include <atomic>
#include <thread>
#include <vector>

// Both ends of a pseudo-terminal; the slave is raw so bytes pass unchanged.
struct Pty
{
    int master = -1;
    QString slave;

    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    // Opens the slave raw with `flags`; the bench ends if it cannot.
    int openSlave(int flags) const;
};

// Reads a master, stamps every read and groups the bytes into trains of kTrainBytes; a pause of
// half a period inside a train splits it (counted as a fragment).
class Receiver
{
public:
    // `wanted`: about how many trains will come.
    Receiver(int master, Clock::duration period, size_t wanted);
    ~Receiver() { stop(); }
    Receiver(const Receiver &) = delete;
    Receiver &operator=(const Receiver &) = delete;

    void stop();
    size_t received() const { return m_count.load(); }
    // Waits, at most a second, until `sent` trains are in.
    void awaitTrains(quint64 sent) const;
    // Valid after stop().
    const std::vector<Clock::time_point> &trains() const { return m_trains; }
    int fragments() const { return m_fragments; }
    qint64 wrongBytes() const { return m_wrong; }
    // While running.
    double cpu() const { return m_cpu.seconds(); }

private:
    void run();

    int m_master;
    Clock::duration m_period;
    size_t m_wanted;
    std::atomic<bool> m_stop{false};
    std::atomic<size_t> m_count{0};
    std::vector<Clock::time_point> m_trains;
    int m_fragments = 0;
    qint64 m_wrong = 0;
    std::thread m_thread; // starts once the rest is set up
    ThreadCpu m_cpu;
};
