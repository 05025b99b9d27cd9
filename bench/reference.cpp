// SPDX-License-Identifier: MIT
#include "bench/reference.h"

#include "train/realtime.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

double threadCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    const auto s = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return s(usage.ru_utime) + s(usage.ru_stime);
}

QString policyOfThisThread()
{
    sched_param param{};
    const int policy = ::sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
    ::sched_getparam(0, &param);
    if (policy == SCHED_FIFO)
        return QStringLiteral("SCHED_FIFO %1").arg(param.sched_priority);
    if (policy == SCHED_RR)
        return QStringLiteral("SCHED_RR %1").arg(param.sched_priority);
    return QStringLiteral("SCHED_OTHER");
}

} // namespace

Reference::Reference(const Pty &pty, Kind kind, Clock::duration period, size_t wanted)
    : m_pty(pty)
    , m_kind(kind)
    , m_period(period)
    , m_slave(pty.openSlave(O_WRONLY))
    , m_receiver(std::make_unique<Receiver>(pty.master, period, wanted))
{
    m_sends.reserve(wanted * 2 + 1000); // it starts before the program's run and ends after it
}

Reference::~Reference()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    m_receiver.reset();
    ::close(m_slave);
}

void Reference::start()
{
    m_thread = std::thread([this] { run(); });
    m_cpu = std::make_unique<ThreadCpu>(m_thread);
    while (!m_running)
        std::this_thread::sleep_for(1ms);
}

double Reference::cpuSeconds() const
{
    return (m_cpu ? m_cpu->seconds() : 0.0) + m_receiver->cpu();
}

void Reference::tune()
{
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    pthread_setname_np(pthread_self(), m_kind == Kind::Realtime ? "bench-ref-rt" : "bench-ref");
    if (m_kind == Kind::Realtime)
        m_policy = raiseThisThread(RealtimeRequest::system(), 1).name();
    else
        m_policy = policyOfThisThread();
}

void Reference::run()
{
    tune();
    unsigned char train[kTrainBytes];
    std::memset(train, kTrainByte, sizeof train);
    m_start = Clock::now();
    m_running = true;
    qint64 missedBefore = 0;
    for (qint64 k = 1;;) {
        const auto deadline = m_start + k * m_period;
        const auto ns = std::chrono::nanoseconds(deadline.time_since_epoch());
        const timespec at{time_t(ns.count() / 1000000000), long(ns.count() % 1000000000)};
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
        }
        if (m_stop)
            break;
        if (::write(m_slave, train, sizeof train) != ssize_t(sizeof train))
            std::perror("reference write");
        const auto now = Clock::now();
        m_sends.push_back({deadline, now, missedBefore});
        missedBefore = 0;
        const qint64 passed = (now - m_start) / m_period;
        if (passed > k) {
            missedBefore = passed - k - 1;
            m_missed += quint64(missedBefore);
            k = passed;
        } else {
            ++k;
        }
    }
    m_cpuSeconds = threadCpuSeconds();
}

Figures Reference::stop()
{
    const auto stopped = Clock::now();
    m_stop = true;
    m_thread.join();
    // Trains due after the stop were not sent: the thread saw the flag first.
    while (!m_sends.empty() && m_sends.back().deadline > stopped)
        m_sends.pop_back();
    m_receiver->awaitTrains(m_sends.size());
    m_receiver->stop();

    const auto expected = size_t((stopped - m_start) / m_period);
    Figures f = analyse(m_receiver->trains(), expected, m_period, m_start, m_missed);
    f.sent = m_sends.size();
    f.fragments = m_receiver->fragments();
    f.wrongBytes = m_receiver->wrongBytes();
    f.cpuPercent = 100.0 * m_cpuSeconds / std::chrono::duration<double>(stopped - m_start).count();
    return f;
}

bool Reference::stalledBetween(Clock::time_point from, Clock::time_point to,
                               Clock::duration late) const
{
    return std::any_of(m_sends.begin(), m_sends.end(), [&](const Send &s) {
        if (s.written - s.deadline <= late && s.missedBefore == 0)
            return false;
        const auto began = s.deadline - s.missedBefore * m_period;
        return began <= to && s.written >= from;
    });
}

size_t Reference::lateSends() const
{
    return size_t(std::count_if(m_sends.begin(), m_sends.end(), [this](const Send &s) {
        return s.written - s.deadline > m_period / 4;
    }));
}
