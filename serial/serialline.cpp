// SPDX-License-Identifier: MIT
#include "serial/serialline.h"

#include "texts/failures.h"

#include <utility>

namespace {

using Status = LineDriver::Status;

constexpr int kWaitSliceMs = 50;

} // namespace

bool SerialLine::closeEnough(qint32 rate, qint32 applied)
{
    return qAbs(qint64(applied) - qint64(rate)) * 100 <= qint64(rate);
}

SerialLine::SerialLine(QString path, std::unique_ptr<LineDriver> driver,
                       std::unique_ptr<QIODevice> port, qint32 rate, qint32 applied,
                       PortDevice::FailureHandler handler, std::function<void()> closeWanted)
    : m_path(std::move(path))
    , m_port(std::move(port))
    , m_driver(std::move(driver))
    , m_closeWanted(std::move(closeWanted))
    , m_rate(rate)
    , m_lineRate(applied)
    , m_handler(std::move(handler))
    , m_worker([this] { run(); })
{}

SerialLine::~SerialLine()
{
    close(Leftovers::Discard);
}

bool SerialLine::reclaim(qint32 rate, PortDevice::FailureHandler handler)
{
    std::lock_guard lock(m_mutex);
    if (m_state != State::Released)
        return false;
    m_state = State::Owned;
    m_handler = std::move(handler);
    m_drained = false;
    m_closeAsked = false;
    if (rate != m_rate) {
        m_queue.push_back(Segment{rate, {}, 0});
        m_rate = rate;
    }
    m_wake.notify_all();
    return true;
}

SerialLine::Counts SerialLine::counts() const
{
    std::lock_guard lock(m_mutex);
    return m_counts;
}

SerialLine::State SerialLine::state() const
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

bool SerialLine::finished() const
{
    std::lock_guard lock(m_mutex);
    return m_state == State::Gone || (m_state == State::Released && m_drained && m_queue.empty());
}

std::optional<PortFailure> SerialLine::write(const QByteArray &bytes, qint64 limit)
{
    std::unique_lock lock(m_mutex);
    if (auto failure = holderFailureLocked())
        return failure;
    const qint64 waiting = m_queuedBytes + m_driver->queued();
    if (waiting + bytes.size() > limit)
        return OperatorText::queueFull(m_path, waiting, bytes.size(), limit, m_lineRate);
    if (bytes.isEmpty())
        return std::nullopt;

    m_counts.accepted += bytes.size();
    qint64 taken = 0;
    if (m_queue.empty()) {
        const LineDriver::Pushed pushed = m_driver->push(bytes.constData(), bytes.size());
        taken = pushed.bytes;
        if (taken > 0) {
            ++m_directWrites;
            m_drained = false;
        }
        if (pushed.status == Status::Gone) {
            failLocked(lock, bytes.size() - taken);
            return holderFailureLocked();
        }
        if (pushed.status != Status::Ok && pushed.status != Status::WouldBlock && taken == 0) {
            m_counts.lost += bytes.size();
            return OperatorText::writeFailed(m_path, m_driver->lastError());
        }
    }
    if (taken < bytes.size()) {
        // Behind a rate step this joins the step's segment: it leaves at the new rate or never.
        if (m_queue.empty())
            m_queue.push_back(Segment{});
        m_queue.back().bytes.append(bytes.constData() + taken, bytes.size() - taken);
        m_queuedBytes += bytes.size() - taken;
        m_drained = false;
        m_wake.notify_all();
    }
    return std::nullopt;
}

std::optional<PortFailure> SerialLine::setModemLine(LineDriver::ModemLine which, bool on)
{
    std::unique_lock lock(m_mutex);
    if (auto failure = holderFailureLocked())
        return failure;
    switch (m_driver->setModemLine(which, on)) {
    case Status::Ok:
    case Status::Unsupported: // no modem lines (a pseudo-terminal)
        return std::nullopt;
    case Status::Gone:
        failLocked(lock, 0);
        return holderFailureLocked();
    default:
        return OperatorText::linesFailed(
            which == LineDriver::ModemLine::Dtr ? QStringLiteral("DTR") : QStringLiteral("RTS"),
            m_path, m_driver->lastError());
    }
}

qint64 SerialLine::waiting() const
{
    std::lock_guard lock(m_mutex);
    const bool dead = m_state == State::Gone || m_state == State::Closed;
    return dead ? 0 : m_queuedBytes + m_driver->queued();
}

std::optional<PortFailure> SerialLine::release()
{
    std::lock_guard lock(m_mutex);
    auto failure = holderFailureLocked();
    if (m_state == State::Owned) {
        m_state = State::Released;
        m_drained = false;
        m_wake.notify_all();
    }
    return failure;
}

void SerialLine::close(Leftovers leftovers)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_state == State::Closed && !m_worker.joinable() && !m_port)
            return;
        // A dead device counted its losses when it failed; the driver of a live one is asked
        // before its queue is dropped below.
        if (m_state != State::Gone && m_state != State::Closed)
            m_counts.lost +=
                m_queuedBytes + (leftovers == Leftovers::Discard ? m_driver->queued() : 0);
        m_state = State::Closed;
        m_queue.clear();
        m_queuedBytes = 0;
    }
    m_wake.notify_all();
    // The worker may sit in a drain that would last as long as the bytes need on the line.
    if (leftovers == Leftovers::Discard)
        m_driver->discardPending();
    if (m_worker.joinable())
        m_worker.join();
    m_driver->releaseHandle();
    if (m_port) {
        m_port->close();
        m_port.reset();
    }
}

// The failure the holder has not heard of yet, if any; Gone lines report once.
std::optional<PortFailure> SerialLine::holderFailureLocked()
{
    if (m_holderFailure)
        return std::exchange(m_holderFailure, std::nullopt);
    if (m_state == State::Gone || m_state == State::Closed)
        return OperatorText::deviceGone(m_path, 0);
    return std::nullopt;
}

// Waits, without the lock, until the driver has sent everything; false when the device died
// meanwhile or the drain failed (then it is failed already: what it held is not sent).
bool SerialLine::drainUnlocked(std::unique_lock<std::mutex> &lock)
{
    lock.unlock();
    const Status drained = m_driver->drain();
    lock.lock();
    if (m_state == State::Closed)
        return false;
    if (drained == Status::Ok || drained == Status::Unsupported)
        return true;
    failLocked(lock, 0);
    return false;
}

// The device is dead: drop what waits, tell the holder (next call) or the handler (now).
void SerialLine::failLocked(std::unique_lock<std::mutex> &lock, qint64 alsoLost)
{
    if (m_state == State::Gone || m_state == State::Closed)
        return;
    const qint64 lost = alsoLost + m_queuedBytes + m_driver->queued();
    m_counts.lost += lost;
    m_counts.failed = true;
    const bool owned = m_state == State::Owned;
    m_queue.clear();
    m_queuedBytes = 0;
    m_state = State::Gone;
    m_wake.notify_all();
    tellLocked(lock, owned, OperatorText::deviceGone(m_path, lost));
}

void SerialLine::tellLocked(std::unique_lock<std::mutex> &lock, bool owned,
                            const PortFailure &failure)
{
    if (owned) {
        if (!m_holderFailure)
            m_holderFailure = failure;
        return;
    }
    const auto handler = m_handler;
    if (!handler)
        return;
    lock.unlock();
    handler(failure);
    lock.lock();
}

void SerialLine::askForCloseLocked()
{
    if (!std::exchange(m_closeAsked, true) && m_closeWanted)
        m_closeWanted();
}

// A rate queued by a later open: everything before it leaves at the old rate, everything behind
// it at the new one or not at all.
void SerialLine::stepRate(std::unique_lock<std::mutex> &lock)
{
    if (!drainUnlocked(lock) || m_queue.empty() || m_queue.front().rate == 0)
        return; // failed, closed or dropped meanwhile
    Segment &step = m_queue.front();
    const qint32 rate = std::exchange(step.rate, 0);
    qint32 applied = 0;
    const Status set = m_driver->setRate(rate, &applied);
    if (set == Status::Ok)
        m_lineRate = applied;
    if (set != Status::Ok || !closeEnough(rate, applied)) {
        m_counts.lost += step.bytes.size();
        m_queuedBytes -= step.bytes.size();
        step.bytes.clear();
        if (m_queue.size() == 1)
            m_rate = m_lineRate; // a later open at `rate` must try the step again
        tellLocked(lock, m_state == State::Owned,
                   OperatorText::rateNotAccepted(m_path, rate, set == Status::Ok ? applied : 0));
    }
    if (!m_queue.empty() && m_queue.front().rate == 0 &&
        m_queue.front().offset == m_queue.front().bytes.size())
        m_queue.pop_front();
}

void SerialLine::pushFront(std::unique_lock<std::mutex> &lock)
{
    lock.unlock();
    const Status ready = m_driver->waitWritable(kWaitSliceMs);
    lock.lock();
    if (m_state == State::Closed)
        return;
    if (ready == Status::Gone) {
        failLocked(lock, 0);
        return;
    }
    if (m_queue.empty() || m_queue.front().rate != 0)
        return;
    Segment &front = m_queue.front();
    const LineDriver::Pushed pushed =
        m_driver->push(front.bytes.constData() + front.offset, front.bytes.size() - front.offset);
    front.offset += pushed.bytes;
    m_queuedBytes -= pushed.bytes;
    if (front.offset == front.bytes.size())
        m_queue.pop_front();
    if (pushed.status != Status::Ok && pushed.status != Status::WouldBlock)
        failLocked(lock, 0); // a write error that does not pass would spin here
}

void SerialLine::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_state == State::Closed)
            return;
        if (m_state == State::Gone) {
            askForCloseLocked();
            m_wake.wait(lock);
            continue;
        }
        if (!m_queue.empty()) {
            if (m_queue.front().rate != 0)
                stepRate(lock);
            else
                pushFront(lock);
            continue;
        }
        if (m_state == State::Released && !m_drained) {
            const quint64 before = m_directWrites;
            if (!drainUnlocked(lock))
                continue;
            if (m_state == State::Released && m_queue.empty() && m_directWrites == before)
                m_drained = true;
            continue;
        }
        if (m_state == State::Released && m_drained)
            askForCloseLocked();
        m_wake.wait(lock);
    }
}
