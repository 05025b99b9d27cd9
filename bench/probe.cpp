// SPDX-License-Identifier: MIT
#include "bench/probe.h"

#include "train/precisetimer.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// The tick the timer's thread is in, for the device's writes; null outside a tick and on every
// other thread.
thread_local TickRecord *t_current = nullptr;

// The program's timer with the probe around its ticks. Everything else passes through.
class ProbedTimer : public TrainTimer
{
public:
    ProbedTimer(std::unique_ptr<TrainTimer> inner, TickProbe &probe)
        : m_inner(std::move(inner))
        , m_probe(probe)
    {}

    void setTickHandler(TickHandler handler) override
    {
        if (!handler) {
            m_inner->setTickHandler({});
            return;
        }
        m_inner->setTickHandler([this, handler = std::move(handler)](quint64 schedule) {
            m_probe.tick(handler, schedule, m_inner->missedDeadlines());
        });
    }
    void setInterval(int milliseconds) override
    {
        const auto before = Clock::now();
        m_inner->setInterval(milliseconds);
        rearmed(before);
    }
    int interval() const override { return m_inner->interval(); }
    void setEnabled(bool enabled) override
    {
        const auto before = Clock::now();
        m_inner->setEnabled(enabled);
        rearmed(before);
    }
    bool isEnabled() const override { return m_inner->isEnabled(); }
    bool isCurrent(quint64 schedule) const override { return m_inner->isCurrent(schedule); }
    quint64 missedDeadlines() const override { return m_inner->missedDeadlines(); }

private:
    // Both calls start a new grid one interval after the call, if the timer is armed.
    void rearmed(Clock::time_point start)
    {
        if (m_inner->isEnabled() && m_inner->interval() > 0)
            m_probe.armed(start, m_inner->interval(), m_inner->missedDeadlines());
    }

    std::unique_ptr<TrainTimer> m_inner;
    TickProbe &m_probe;
};

// The program's device with the probe around the writes a tick makes.
class ProbedDevice : public PortDevice
{
public:
    ProbedDevice(std::unique_ptr<PortDevice> inner, TickProbe &probe)
        : m_inner(std::move(inner))
        , m_probe(probe)
    {}

    std::optional<PortFailure> open(const QString &path, qint32 baudRate, bool dtr,
                                    bool rts) override
    {
        return m_inner->open(path, baudRate, dtr, rts);
    }
    bool isOpen() const override { return m_inner->isOpen(); }
    std::optional<PortFailure> setDtr(bool on) override { return m_inner->setDtr(on); }
    std::optional<PortFailure> setRts(bool on) override { return m_inner->setRts(on); }
    std::optional<PortFailure> write(const QByteArray &bytes, qint64 limit) override
    {
        TickRecord *const tick = t_current;
        if (!tick)
            return m_inner->write(bytes, limit);
        m_probe.mark(tick->writeIn, false);
        auto failure = m_inner->write(bytes, limit);
        m_probe.mark(tick->writeOut, false);
        tick->wrote = !failure;
        return failure;
    }
    qint64 bytesWaiting() const override { return m_inner->bytesWaiting(); }
    std::optional<PortFailure> close() override { return m_inner->close(); }
    void setBackgroundFailureHandler(FailureHandler handler) override
    {
        m_inner->setBackgroundFailureHandler(std::move(handler));
    }

private:
    std::unique_ptr<PortDevice> m_inner;
    TickProbe &m_probe;
};

} // namespace

TickProbe::TickProbe(bool looking, size_t capacity)
    : m_looking(looking)
    , m_records(looking ? capacity : 0)
{}

TickProbe::~TickProbe()
{
    if (m_schedstat >= 0)
        ::close(m_schedstat);
}

void TickProbe::wrap(Engine::Parts &parts)
{
    if (!m_looking)
        return;
    parts.timer = std::make_unique<ProbedTimer>(std::move(parts.timer), *this);
    parts.devices = [inner = std::move(parts.devices), this] {
        return std::make_unique<ProbedDevice>(inner(), *this);
    };
}

void TickProbe::watchTimerThread(int tid)
{
    const QByteArray path = QByteArray("/proc/self/task/") + QByteArray::number(tid) + "/schedstat";
    m_schedstat = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (m_schedstat < 0)
        std::fprintf(stderr, "note: no %s: the run delay is not known\n", path.constData());
}

double TickProbe::timerCpuSeconds() const
{
    char text[96] = {};
    if (m_schedstat < 0 || ::pread(m_schedstat, text, sizeof text - 1, 0) <= 0)
        return NAN;
    return double(std::strtoll(text, nullptr, 10)) / 1e9 - overheadSeconds();
}

void TickProbe::reset()
{
    m_gridStart = Clock::time_point();
    m_count = 0;
    m_overheadNs = 0;
}

std::vector<TickRecord> TickProbe::records() const
{
    const size_t n = m_count.load(std::memory_order_acquire);
    return std::vector<TickRecord>(m_records.begin(), m_records.begin() + qint64(n));
}

void TickProbe::armed(Clock::time_point start, int intervalMs, quint64 missed)
{
    m_period = std::chrono::milliseconds(intervalMs);
    m_missedAtStart = missed;
    m_gridStart = start;
    m_ticks = 0;
}

void TickProbe::mark(Mark &mark, bool runDelay)
{
    mark.at = Clock::now();
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    mark.voluntary = usage.ru_nvcsw;
    mark.involuntary = usage.ru_nivcsw;
    mark.minorFaults = usage.ru_minflt;
    mark.majorFaults = usage.ru_majflt;
    if (runDelay && m_schedstat >= 0) {
        char text[96] = {};
        if (::pread(m_schedstat, text, sizeof text - 1, 0) > 0) {
            // "<ns on a CPU> <ns waiting runnable> <time slices>"
            char *end = nullptr;
            std::strtoll(text, &end, 10);
            mark.runDelayNs = std::strtoll(end, nullptr, 10);
        }
    }
    mark.done = Clock::now();
    m_overheadNs += std::chrono::nanoseconds(mark.done - mark.at).count();
}

void TickProbe::tick(const TrainTimer::TickHandler &handler, quint64 schedule, quint64 missed)
{
    const size_t n = m_count.load(std::memory_order_relaxed);
    if (n >= m_records.size()) {
        handler(schedule);
        return;
    }
    TickRecord &record = m_records[n];
    record = TickRecord();
    mark(record.entry, true);
    record.index = ++m_ticks + qint64(missed - m_missedAtStart.load());
    record.deadline = m_gridStart.load() + record.index * m_period.load();
    t_current = &record;
    handler(schedule);
    t_current = nullptr;
    mark(record.exit, true);
    m_count.store(n + 1, std::memory_order_release);
}
