// SPDX-License-Identifier: MIT
#include "train/precisetimer.h"

#include <algorithm>
#include <utility>

// Everything that differs between platforms: how the sender thread is tuned and how it covers the
// last stretch before a deadline.
#if defined(Q_OS_WIN)
// The high-resolution waitable timer needs the Windows 10 declarations.
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0A00
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

// A condition variable on Windows wakes in whole scheduler ticks (up to about 16 ms late), so it
// only takes us to this far before a deadline; a high-resolution waitable timer does the rest.
constexpr PreciseTimer::Clock::duration kFinalStretch = std::chrono::milliseconds(20);

// What the timer's thread sets up for itself while it runs (its priority, the waitable timer),
// and its last stretch of waiting before a deadline.
class SenderThreadSetup
{
public:
    // The direct request there is the time-critical thread priority.
    explicit SenderThreadSetup(const RealtimeRequest &request)
        : m_timer(CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                         TIMER_ALL_ACCESS))
        , m_priority(raiseThisThread(request, THREAD_PRIORITY_TIME_CRITICAL))
    {}
    ~SenderThreadSetup()
    {
        if (m_timer)
            CloseHandle(m_timer);
    }
    SenderThreadSetup(const SenderThreadSetup &) = delete;
    SenderThreadSetup &operator=(const SenderThreadSetup &) = delete;

    SenderPriority priority() const { return m_priority; }

    void sleepUntil(PreciseTimer::Clock::time_point deadline)
    {
        const auto left = deadline - PreciseTimer::Clock::now();
        if (left <= PreciseTimer::Clock::duration::zero())
            return;
        // Older systems have no high-resolution timer; they get what the scheduler gives.
        if (!m_timer) {
            std::this_thread::sleep_until(deadline);
            return;
        }
        LARGE_INTEGER due;
        due.QuadPart = -std::max<LONGLONG>(
            1, std::chrono::duration_cast<std::chrono::nanoseconds>(left).count() / 100);
        if (SetWaitableTimer(m_timer, &due, 0, nullptr, nullptr, FALSE))
            WaitForSingleObject(m_timer, INFINITE);
        else
            std::this_thread::sleep_until(deadline);
    }

private:
    HANDLE m_timer;
    SenderPriority m_priority;
};

} // namespace

#else
#ifdef Q_OS_LINUX
#include <pthread.h>
#include <sys/prctl.h>
#endif

namespace {

// The monotonic condition-variable wait is as exact here as clock_nanosleep with an absolute
// time (both are kernel high-resolution timers), and a command can interrupt it; no final
// stretch is needed.
constexpr PreciseTimer::Clock::duration kFinalStretch = PreciseTimer::Clock::duration::zero();

// The lowest real-time priority: ahead of every ordinary thread, behind audio and the kernel's
// own real-time threads.
constexpr int kRealtimePriority = 1;

// What the timer's thread sets up for itself while it runs (its priority, the timer slack).
class SenderThreadSetup
{
public:
    // On a busy machine an ordinary thread waits for a core behind everything else; a real-time
    // one gets it at once.
    explicit SenderThreadSetup(const RealtimeRequest &request)
    {
#ifdef Q_OS_LINUX
        // The default 50 us of slack would be most of the error budget at short periods.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        pthread_setname_np(pthread_self(), "train-timer"); // for top -H and debuggers
#endif
        m_priority = raiseThisThread(request, kRealtimePriority);
    }
    SenderPriority priority() const
    {
        return m_priority;
    }
    void sleepUntil(PreciseTimer::Clock::time_point) {}

private:
    SenderPriority m_priority;
};

} // namespace
#endif

PreciseTimer::PreciseTimer(RealtimeRequest request)
    : PreciseTimer(std::move(request), ManualClock())
{}

PreciseTimer::PreciseTimer(ManualClock manualClock)
    : PreciseTimer(RealtimeRequest::directOnly(), std::move(manualClock))
{}

PreciseTimer::PreciseTimer(RealtimeRequest request, ManualClock manualClock)
    : m_manualClock(std::move(manualClock))
    , m_request(std::move(request))
    , m_priority(m_granted.get_future().share())
    , m_thread([this] { run(); })
{}

PreciseTimer::~PreciseTimer()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_bell.ring();
    m_thread.join();
}

void PreciseTimer::setTickHandler(TickHandler handler)
{
    TickHandler old;
    {
        std::unique_lock lock(m_mutex);
        if (std::this_thread::get_id() != m_thread.get_id()) {
            // While we wait no new tick starts: at short periods the thread would otherwise
            // win the lock back first, again and again.
            ++m_replacing;
            m_idle.wait(lock, [this] { return !m_inHandler; });
            --m_replacing;
        }
        const bool resumes = !m_handler && handler;
        old = std::exchange(m_handler, std::move(handler));
        if (resumes && m_enabled && m_interval > 0) {
            // Nobody was there for the deadlines gone by meanwhile; carry on from the next one
            // of the same schedule, without a late tick for them.
            const auto period = std::chrono::milliseconds(m_interval.load());
            m_deadline = nextDeadline(m_deadline - period, period, now()).deadline;
            m_late = false;
        }
    }
    m_bell.ring();
    // `old` goes here, outside the lock, in case its captures have work to do when released.
}

void PreciseTimer::setInterval(int milliseconds)
{
    std::lock_guard lock(m_mutex);
    m_interval = std::max(milliseconds, 0);
    restartLocked();
}

int PreciseTimer::interval() const
{
    return m_interval;
}

void PreciseTimer::setEnabled(bool enabled)
{
    std::lock_guard lock(m_mutex);
    m_enabled = enabled;
    restartLocked();
}

bool PreciseTimer::isEnabled() const
{
    return m_enabled;
}

// A tick asks this under its owner's lock, which the owner also holds while it changes the
// schedule: what it reads here is settled without the timer's own lock.
bool PreciseTimer::isCurrent(quint64 schedule) const
{
    return m_enabled && m_interval > 0 && schedule == m_schedule;
}

void PreciseTimer::clockMoved()
{
    m_bell.ring();
}

void PreciseTimer::restartLocked()
{
    ++m_schedule;
    m_deadline = now() + std::chrono::milliseconds(m_interval.load());
    m_late = false;
    m_bell.ring();
}

PreciseTimer::Next PreciseTimer::nextDeadline(Clock::time_point served, Clock::duration period,
                                              Clock::time_point now)
{
    if (period <= Clock::duration::zero())
        return Next{now};
    // A deadline reached exactly is passed: its tick can only be late from here.
    const auto passed = now < served + period ? 0 : (now - served) / period;
    if (passed == 0)
        return Next{served + period};
    return Next{served + (passed + 1) * period, true, quint64(passed - 1)};
}

void PreciseTimer::run()
{
    SenderThreadSetup setup(m_request);
    m_granted.set_value(setup.priority());
    std::unique_lock lock(m_mutex);
    while (!m_quit) {
        // Read before anything is looked at: whatever changes after this rings the bell, so the
        // wait below returns at once rather than miss it.
        const quint32 seen = m_bell.count();
        if (!armedLocked()) {
            waitLocked(lock, seen, Clock::time_point::max());
            continue;
        }
        // A late tick goes at once. Otherwise the thread waits for the deadline or for a command
        // that changes the schedule, takes the handler away or ends the timer, and looks again.
        const auto deadline = m_deadline;
        const auto at = now();
        if (!m_late && at < deadline) {
            if (m_manualClock) {
                waitLocked(lock, seen, Clock::time_point::max()); // the test's move rings
            } else if (at < deadline - kFinalStretch) {
                waitLocked(lock, seen, deadline - kFinalStretch);
            } else {
                lock.unlock();
                setup.sleepUntil(deadline);
                lock.lock();
            }
            continue;
        }
        tickLocked(lock);
    }
}

void PreciseTimer::waitLocked(std::unique_lock<RtMutex> &lock, quint32 seen,
                              Clock::time_point until)
{
    lock.unlock();
    m_bell.waitUntil(seen, until);
    lock.lock();
}

void PreciseTimer::tickLocked(std::unique_lock<RtMutex> &lock)
{
    const quint64 schedule = m_schedule;
    const auto deadline = m_deadline;
    const bool late = m_late;
    const auto period = std::chrono::milliseconds(m_interval.load());
    TickHandler handler = m_handler; // a tick may replace the handler from inside
    m_inHandler = true;
    lock.unlock();
    handler(schedule);
    handler = nullptr; // our copy goes before anyone hears the tick is over
    lock.lock();
    m_inHandler = false;
    m_idle.notify_all();

    if (m_schedule == schedule) {
        // A late tick stood for the last deadline before the one now waited for.
        const Next next = nextDeadline(late ? deadline - period : deadline, period, now());
        m_deadline = next.deadline;
        m_late = next.late;
        m_missed += next.missed;
    }
}
