#include "train/precisetimer.h"

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

PreciseTimer::PreciseTimer()
    : m_thread([this] { run(); })
{
}

PreciseTimer::~PreciseTimer()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void PreciseTimer::setTickHandler(TickHandler handler)
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_inHandler; });
    m_handler = std::move(handler);
}

void PreciseTimer::setInterval(int milliseconds)
{
    std::lock_guard lock(m_mutex);
    m_interval = std::max(milliseconds, 0);
    restartLocked();
}

int PreciseTimer::interval() const
{
    std::lock_guard lock(m_mutex);
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
    std::lock_guard lock(m_mutex);
    return m_enabled;
}

bool PreciseTimer::isCurrent(quint64 schedule) const
{
    std::lock_guard lock(m_mutex);
    return m_enabled && m_interval > 0 && schedule == m_schedule;
}

void PreciseTimer::restartLocked()
{
    ++m_schedule;
    m_deadline = Clock::now() + std::chrono::milliseconds(m_interval);
    m_wake.notify_all();
}

PreciseTimer::Next PreciseTimer::nextDeadline(Clock::time_point previous, Clock::duration period,
                                              Clock::time_point now)
{
    Next next{previous + period, 0};
    if (next.deadline < now) {
        const auto behind = (now - next.deadline + period - Clock::duration(1)) / period;
        next.skipped = quint64(behind);
        next.deadline += behind * period;
    }
    return next;
}

void PreciseTimer::run()
{
#ifdef Q_OS_LINUX
    // The default 50 us slack would be most of our error budget at short periods.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
    std::unique_lock lock(m_mutex);
    while (!m_quit) {
        if (!m_enabled || m_interval <= 0 || !m_handler) {
            m_wake.wait(lock);
            continue;
        }
        const quint64 schedule = m_schedule;
        const auto deadline = m_deadline;
        // Waits on the monotonic clock to an absolute time; a command that changes the
        // schedule wakes us early.
        if (m_wake.wait_until(lock, deadline, [&] { return m_quit || m_schedule != schedule; }))
            continue;

        const auto period = std::chrono::milliseconds(m_interval);
        TickHandler handler = m_handler;
        m_inHandler = true;
        lock.unlock();
        handler(schedule);
        lock.lock();
        m_inHandler = false;
        m_idle.notify_all();

        if (m_schedule == schedule) {
            const Next next = nextDeadline(deadline, period, Clock::now());
            m_deadline = next.deadline;
            m_missed += next.skipped;
        }
    }
}
