// SPDX-License-Identifier: MIT
#include "serial/serialline.h"

#include "serial/operatortexts.h"

#include <QMetaObject>
#include <QThread>
#include <cstdlib>
#include <map>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Status = LineDriver::Status;

constexpr int kWaitSliceMs = 50;

// A rate counts as applied when the device runs within 1 % of it; more than that garbles the
// framing at the other end.
bool closeEnough(qint32 rate, qint32 applied)
{
    return qAbs(qint64(applied) - qint64(rate)) * 100 <= qint64(rate);
}

// Lines that are open or draining, by resolved path. Never destroyed: workers may outlive main().
struct Registry
{
    std::mutex mutex;
    std::map<QString, std::shared_ptr<SerialLine>> lines;
};

Registry &registry()
{
    static Registry *instance = new Registry;
    return *instance;
}

} // namespace

SerialLine::SerialLine(QString path, std::unique_ptr<LineDriver> driver, QIODevice *port,
                       qint32 rate, PortDevice::FailureHandler handler)
    : m_path(std::move(path))
    , m_port(port)
    , m_driver(std::move(driver))
    , m_rate(rate)
    , m_lineRate(rate)
    , m_handler(std::move(handler))
{}

SerialLine::Taken SerialLine::takeOver(const QString &path, qint32 rate,
                                       PortDevice::FailureHandler handler)
{
    std::unique_lock registryLock(registry().mutex);
    const auto it = registry().lines.find(path);
    if (it == registry().lines.end())
        return {};
    const std::shared_ptr<SerialLine> line = it->second;
    if (line->reclaim(rate, std::move(handler)))
        return {line, std::nullopt};
    registryLock.unlock();
    // Gone and waiting for its close on the opening thread: do it now if this is that thread
    // (no worker touches a gone line any more), then the device opens afresh.
    if (line->state() == State::Owned)
        return {nullptr, OperatorText::portOpenInThisProgram(path)};
    if (!line->finalize(false))
        return {nullptr, OperatorText::portStillClosing(path)};
    return {};
}

std::shared_ptr<SerialLine> SerialLine::start(const QString &path,
                                              std::unique_ptr<LineDriver> driver,
                                              std::unique_ptr<QIODevice> port, qint32 rate,
                                              PortDevice::FailureHandler handler,
                                              std::optional<PortFailure> *failure)
{
    driver->claimExclusive();
    qint32 applied = 0;
    const Status rated = driver->setRate(rate, &applied);
    std::unique_lock registryLock(registry().mutex);
    if (registry().lines.count(path))
        *failure = OperatorText::portOpenInThisProgram(path);
    else if (rated != Status::Ok || !closeEnough(rate, applied))
        *failure = OperatorText::rateNotAccepted(path, rate, rated == Status::Ok ? applied : 0);
    if (*failure) {
        driver->detach();
        port->close();
        return nullptr;
    }
    auto line = std::make_shared<SerialLine>(path, std::move(driver), port.release(), applied,
                                             std::move(handler));
    line->m_rate = rate;
    registry().lines.emplace(path, line);
    registryLock.unlock();

    // For a program that ends through exit() without finishing its lines (a library that gives
    // up when the display goes away at a logout does that).
    static std::once_flag once;
    std::call_once(once, [] { std::atexit([] { finishAll(kExitGrace, {}); }); });
    std::thread([line] { line->run(); }).detach();
    return line;
}

// Under the registry lock. False when the line cannot be taken over.
bool SerialLine::reclaim(qint32 rate, PortDevice::FailureHandler handler)
{
    std::lock_guard lock(m_mutex);
    if (m_state != State::Released)
        return false;
    m_state = State::Owned;
    m_handler = std::move(handler);
    m_drained = false;
    m_finalizePosted = false;
    if (rate != m_rate) {
        m_queue.push_back(Segment{rate, {}, 0});
        m_rate = rate;
    }
    m_wake.notify_all();
    return true;
}

SerialLine::State SerialLine::state() const
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

std::optional<PortFailure> SerialLine::write(const QByteArray &bytes, qint64 limit)
{
    std::unique_lock lock(m_mutex);
    if (auto failure = ownerFailureLocked())
        return failure;
    const qint64 waiting = m_queuedBytes + m_driver->queued();
    if (waiting + bytes.size() > limit)
        return OperatorText::queueFull(m_path, waiting, bytes.size(), limit, m_lineRate);
    if (bytes.isEmpty())
        return std::nullopt;

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
            return ownerFailureLocked();
        }
        if (pushed.status != Status::Ok && pushed.status != Status::WouldBlock && taken == 0)
            return OperatorText::writeFailed(m_path, m_driver->lastError());
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
    if (auto failure = ownerFailureLocked())
        return failure;
    switch (m_driver->setModemLine(which, on)) {
    case Status::Ok:
    case Status::Unsupported: // no modem lines (a pseudo-terminal)
        return std::nullopt;
    case Status::Gone:
        failLocked(lock, 0);
        return ownerFailureLocked();
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
    auto failure = ownerFailureLocked();
    if (m_state == State::Owned) {
        m_state = State::Released;
        m_drained = false;
        m_wake.notify_all();
    }
    return failure;
}

// The failure the owner has not heard of yet, if any; Gone lines report once.
std::optional<PortFailure> SerialLine::ownerFailureLocked()
{
    if (m_ownerFailure)
        return std::exchange(m_ownerFailure, std::nullopt);
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
    if (drained == Status::Ok || drained == Status::Unsupported)
        return true;
    failLocked(lock, 0);
    return false;
}

// The device is dead: drop what waits, tell the owner (next call) or the handler (now).
void SerialLine::failLocked(std::unique_lock<std::mutex> &lock, qint64 alsoLost)
{
    if (m_state == State::Gone || m_state == State::Closed)
        return;
    const qint64 lost = alsoLost + m_queuedBytes + m_driver->queued();
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
        if (!m_ownerFailure)
            m_ownerFailure = failure;
        return;
    }
    const auto handler = m_handler;
    if (!handler)
        return;
    lock.unlock();
    handler(failure);
    lock.lock();
}

void SerialLine::postFinalizeLocked()
{
    if (m_finalizePosted || !m_port)
        return;
    m_finalizePosted = true;
    QMetaObject::invokeMethod(
        m_port, [self = shared_from_this()] { self->finalize(true); }, Qt::QueuedConnection);
}

// Closes the port for good, on its own thread. Does nothing when the line was taken over again
// or still has work to do. Returns whether it closed the port.
bool SerialLine::finalize(bool fromEvent)
{
    QIODevice *port = nullptr;
    {
        std::lock_guard registryLock(registry().mutex);
        std::lock_guard lock(m_mutex);
        const bool done =
            m_state == State::Gone || (m_state == State::Released && m_drained && m_queue.empty());
        if (!done || !m_finalizePosted || !m_port)
            return false;
        if (!fromEvent && m_port->thread() != QThread::currentThread())
            return false;
        port = closeLocked();
    }
    closePort(port, fromEvent);
    return true;
}

// The program ends: closes the line once nothing is left to send, or at once when `now`.
// Returns whether the line is closed.
bool SerialLine::finishForExit(bool now)
{
    QIODevice *port = nullptr;
    {
        std::lock_guard registryLock(registry().mutex);
        std::lock_guard lock(m_mutex);
        if (m_state == State::Closed)
            return true;
        // Not while anything of ours is left to send. On Windows a write still in flight is
        // cancelled when the process's handles close, so it must have ended too.
        const bool idle =
            m_queuedBytes == 0 && m_driver->queued() == 0 && !m_driver->writeInFlight();
        if (!now && m_state != State::Gone && !idle)
            return false;
        m_queue.clear();
        m_queuedBytes = 0;
        port = closeLocked();
    }
    if (port)
        closePort(port, false);
    return true;
}

// Under both locks: the line is closed for good; returns the port to close.
QIODevice *SerialLine::closeLocked()
{
    m_state = State::Closed;
    const auto it = registry().lines.find(m_path);
    if (it != registry().lines.end() && it->second.get() == this)
        registry().lines.erase(it);
    m_wake.notify_all();
    return std::exchange(m_port, nullptr);
}

// Gives the claim up and closes the port; only its own thread may close it.
void SerialLine::closePort(QIODevice *port, bool deferred)
{
    m_driver->detach();
    if (port->thread() != QThread::currentThread()) {
        QMetaObject::invokeMethod(
            port,
            [port] {
                port->close();
                port->deleteLater();
            },
            Qt::QueuedConnection);
        return;
    }
    port->close();
    if (deferred)
        port->deleteLater();
    else
        delete port;
}

// A rate queued by a later open: everything before it leaves at the old rate, everything behind
// it at the new one or not at all.
void SerialLine::stepRate(std::unique_lock<std::mutex> &lock)
{
    if (!drainUnlocked(lock) || m_queue.empty() || m_queue.front().rate == 0)
        return; // failed or dropped meanwhile
    Segment &step = m_queue.front();
    const qint32 rate = std::exchange(step.rate, 0);
    qint32 applied = 0;
    const Status set = m_driver->setRate(rate, &applied);
    if (set == Status::Ok)
        m_lineRate = applied;
    if (set != Status::Ok || !closeEnough(rate, applied)) {
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
        return; // closed at the end of the program meanwhile: the handle is no longer ours
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
            postFinalizeLocked();
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
            postFinalizeLocked();
        m_wake.wait(lock);
    }
}

void SerialLine::finishAll(std::chrono::milliseconds grace, const std::function<bool()> &hurry)
{
    const auto deadline = std::chrono::steady_clock::now() + grace;
    for (;;) {
        std::vector<std::shared_ptr<SerialLine>> lines;
        {
            std::lock_guard lock(registry().mutex);
            for (const auto &entry : registry().lines)
                lines.push_back(entry.second);
        }
        const bool now = std::chrono::steady_clock::now() >= deadline || (hurry && hurry());
        bool waiting = false;
        for (const auto &line : lines)
            waiting = !line->finishForExit(now) || waiting;
        if (!waiting)
            return;
        std::this_thread::sleep_for(10ms);
    }
}

int SerialLine::linesInUse()
{
    std::lock_guard lock(registry().mutex);
    return int(registry().lines.size());
}
