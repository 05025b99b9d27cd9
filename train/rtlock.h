// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#ifdef Q_OS_LINUX
#include <pthread.h>
#endif

// The locks on the repetition's way from the timer's deadline to the write. The timer's thread
// runs at real-time priority; the window's thread, which takes the same locks for its commands,
// does not. Should the window's thread be switched out while it holds one, an ordinary lock
// would keep the tick waiting for as long as other threads have the CPU. These lend the waiting
// thread's priority to the holder until it lets go (priority inheritance), so the wait is only
// as long as the holder's own work. Where the system has no such lock (Windows) they are the
// standard ones.
#ifdef Q_OS_LINUX

class RtMutex
{
public:
    RtMutex();
    ~RtMutex();
    RtMutex(const RtMutex &) = delete;
    RtMutex &operator=(const RtMutex &) = delete;

    void lock();
    bool try_lock();
    void unlock();
    pthread_mutex_t *native() { return &m_mutex; }

private:
    pthread_mutex_t m_mutex;
};

// Waits on the monotonic clock, the one steady_clock reads.
class RtCondition
{
public:
    RtCondition();
    ~RtCondition();
    RtCondition(const RtCondition &) = delete;
    RtCondition &operator=(const RtCondition &) = delete;

    void notify_all();
    void wait(std::unique_lock<RtMutex> &lock);
    std::cv_status wait_until(std::unique_lock<RtMutex> &lock,
                              std::chrono::steady_clock::time_point deadline);

    template<class Predicate> void wait(std::unique_lock<RtMutex> &lock, Predicate done)
    {
        while (!done())
            wait(lock);
    }
    template<class Predicate>
    bool wait_until(std::unique_lock<RtMutex> &lock, std::chrono::steady_clock::time_point deadline,
                    Predicate done)
    {
        while (!done()) {
            if (wait_until(lock, deadline) == std::cv_status::timeout)
                return done();
        }
        return true;
    }

private:
    pthread_cond_t m_condition;
};

#else

using RtMutex = std::mutex;
using RtCondition = std::condition_variable;

#endif

// Wakes one waiting thread from any other, as a condition variable would, but without a mutex of
// its own: the waiter reads count() (under its own lock, before it looks at what it waits for),
// lets its lock go and waits until the count is no longer what it read or a deadline passes. A
// ring in between is never lost. On Linux the wait is one futex call, where a condition variable
// costs a second system call each time to take its mutex back; at a thousand waits a second that
// is a good part of the sender's CPU.
class Doorbell
{
public:
    using Clock = std::chrono::steady_clock;

    Doorbell() = default;
    Doorbell(const Doorbell &) = delete;
    Doorbell &operator=(const Doorbell &) = delete;

    quint32 count() const { return m_count.load(); }
    void ring();
    // Returns when the count has moved from `seen` or `deadline` has passed
    // (Clock::time_point::max(): no deadline), or earlier now and then: the caller looks again
    // either way.
    void waitUntil(quint32 seen, Clock::time_point deadline);

private:
    std::atomic<quint32> m_count{0};
#ifndef Q_OS_LINUX
    std::mutex m_mutex;
    std::condition_variable m_rung;
#endif
};
