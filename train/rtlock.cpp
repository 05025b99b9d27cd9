// SPDX-License-Identifier: MIT
#include "train/rtlock.h"

#ifdef Q_OS_LINUX

#include <cerrno>
#include <climits>
#include <ctime>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// steady_clock counts from the monotonic clock's zero.
timespec monotonic(std::chrono::steady_clock::time_point at)
{
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
    return timespec{time_t(ns / 1000000000), long(ns % 1000000000)};
}

} // namespace

RtMutex::RtMutex()
{
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    // A kernel without priority-inheriting futexes refuses them; a plain lock is all it has.
    if (pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT) != 0 ||
        pthread_mutex_init(&m_mutex, &attributes) != 0)
        pthread_mutex_init(&m_mutex, nullptr);
    pthread_mutexattr_destroy(&attributes);
}

RtMutex::~RtMutex()
{
    pthread_mutex_destroy(&m_mutex);
}

void RtMutex::lock()
{
    pthread_mutex_lock(&m_mutex);
}

bool RtMutex::try_lock()
{
    return pthread_mutex_trylock(&m_mutex) == 0;
}

void RtMutex::unlock()
{
    pthread_mutex_unlock(&m_mutex);
}

RtCondition::RtCondition()
{
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&m_condition, &attributes);
    pthread_condattr_destroy(&attributes);
}

RtCondition::~RtCondition()
{
    pthread_cond_destroy(&m_condition);
}

void RtCondition::notify_all()
{
    pthread_cond_broadcast(&m_condition);
}

void RtCondition::wait(std::unique_lock<RtMutex> &lock)
{
    pthread_cond_wait(&m_condition, lock.mutex()->native());
}

std::cv_status RtCondition::wait_until(std::unique_lock<RtMutex> &lock,
                                       std::chrono::steady_clock::time_point deadline)
{
    const timespec at = monotonic(deadline);
    const int result = pthread_cond_timedwait(&m_condition, lock.mutex()->native(), &at);
    return result == ETIMEDOUT ? std::cv_status::timeout : std::cv_status::no_timeout;
}

void Doorbell::ring()
{
    ++m_count;
    syscall(SYS_futex, &m_count, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

void Doorbell::waitUntil(quint32 seen, Clock::time_point deadline)
{
    static_assert(sizeof(m_count) == sizeof(quint32), "the futex is the count itself");
    if (deadline == Clock::time_point::max()) {
        syscall(SYS_futex, &m_count, FUTEX_WAIT_PRIVATE, seen, nullptr, nullptr, 0);
        return;
    }
    // An absolute time on the monotonic clock, as clock_nanosleep's TIMER_ABSTIME.
    const timespec at = monotonic(deadline);
    syscall(SYS_futex, &m_count, FUTEX_WAIT_BITSET_PRIVATE, seen, &at, nullptr,
            FUTEX_BITSET_MATCH_ANY);
}

#else

void Doorbell::ring()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_count;
    }
    m_rung.notify_all();
}

void Doorbell::waitUntil(quint32 seen, Clock::time_point deadline)
{
    std::unique_lock lock(m_mutex);
    const auto moved = [&] { return m_count != seen; };
    if (deadline == Clock::time_point::max())
        m_rung.wait(lock, moved);
    else
        m_rung.wait_until(lock, deadline, moved);
}

#endif
