#include "serial/serialportdevice.h"

#include "serial/commcontrol.h"
#include "serial/nativeline.h"
#include "serial/operatortexts.h"
#include "serial/portbusy.h"

#include <QFile>
#include <QMetaObject>
#include <QSerialPort>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

// How a device lives (one SerialLine per open device, shared by the SerialPortDevice that
// opened it, a per-process registry keyed by the resolved path, and one worker thread):
//
// - Writes go straight to the driver with one non-blocking write while nothing of ours is
//   queued; whatever the driver does not take waits in our queue, and the worker pushes it out
//   in order as the driver makes room. Our queue plus the driver's never exceeds the caller's
//   limit. Writes never touch the QSerialPort object, so any thread may make them.
// - close() only marks the line released and returns. The worker pushes the rest of our queue,
//   drains the driver, and then posts the final QSerialPort::close() to the thread that opened
//   the port (QSerialPort is a QObject of that thread).
// - An open of a path whose line is released but not yet closed takes that line over instead of
//   opening the device a second time (which would fail on our own lock): nothing already
//   written is lost or reordered. A different rate is queued as a step of its own behind the
//   bytes still waiting; the worker drains the line before it applies the rate, and new bytes
//   queue behind it.
// - A device that fails (hang-up, unplugged) is marked gone once. The owner learns it from its
//   next call; a released line tells the background failure handler. The worker then has the
//   port closed.

namespace {

using namespace std::chrono_literals;

constexpr int kWaitSliceMs = 50;

static_assert(
    std::is_same_v<decltype(std::declval<const QSerialPort &>().handle()), NativeLine::Handle>,
    "NativeLine takes QSerialPort's native handle as it is");

// What a failed QSerialPort::open of `path` means, as a PortError number.
int openFailureNumber(const QString &path, QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return PortError::NoSuchPort;
    case QSerialPort::PermissionError:
        // Access itself was checked before; what is left is another holder: the lock file or
        // TIOCEXCL (EBUSY), on Windows any other open (ERROR_ACCESS_DENIED).
        return NativeLine::accessDenied(QFile::encodeName(path).constData())
                   ? PortError::PermissionDenied
                   : PortError::PortInUse;
    default:
        return PortError::NotASerialPort;
    }
}

// A rate counts as applied when the device runs within 1 % of it; more than that garbles the
// framing at the other end.
bool closeEnough(qint32 rate, qint32 applied)
{
    return qAbs(qint64(applied) - qint64(rate)) * 100 <= qint64(rate);
}

struct Segment
{
    qint32 rate = 0; // applied once everything before has left the line; 0 = no change
    QByteArray bytes;
    qint64 offset = 0; // bytes already handed to the driver
};

} // namespace

class SerialLine : public std::enable_shared_from_this<SerialLine>
{
public:
    enum class State { Owned, Released, Gone, Closed };

    SerialLine(QString path, QSerialPort *port, qint32 rate, PortDevice::FailureHandler handler)
        : m_path(std::move(path))
        , m_port(port)
        , m_native(port->handle())
        , m_rate(rate)
        , m_handler(std::move(handler))
    {}

    const QString &path() const { return m_path; }
    NativeLine &native() { return m_native; }

    void start()
    {
        std::thread([self = shared_from_this()] { self->run(); }).detach();
    }

    // Under the registry lock. False when the line cannot be taken over.
    bool reclaim(qint32 rate, PortDevice::FailureHandler handler)
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

    State state() const
    {
        std::lock_guard lock(m_mutex);
        return m_state;
    }

    std::optional<PortFailure> write(const QByteArray &bytes, qint64 limit)
    {
        std::unique_lock lock(m_mutex);
        if (auto failure = ownerFailureLocked())
            return failure;
        const qint64 waiting = m_queuedBytes + m_native.queued();
        if (waiting + bytes.size() > limit)
            return OperatorText::queueFull(m_path, waiting, bytes.size(), limit);
        if (bytes.isEmpty())
            return std::nullopt;

        qint64 taken = 0;
        if (m_queue.empty()) {
            const NativeLine::Pushed pushed = m_native.push(bytes.constData(), bytes.size());
            taken = pushed.bytes;
            if (taken > 0) {
                ++m_directWrites;
                m_drained = false;
            }
            if (pushed.status == NativeLine::Status::Gone) {
                failLocked(lock, bytes.size() - taken);
                return ownerFailureLocked();
            }
            if (pushed.status != NativeLine::Status::Ok &&
                pushed.status != NativeLine::Status::WouldBlock && taken == 0)
                return OperatorText::writeFailed(m_path, m_native.lastError());
        }
        if (taken < bytes.size()) {
            if (m_queue.empty())
                m_queue.push_back(Segment{});
            m_queue.back().bytes.append(bytes.constData() + taken, bytes.size() - taken);
            m_queuedBytes += bytes.size() - taken;
            m_drained = false;
            m_wake.notify_all();
        }
        return std::nullopt;
    }

    std::optional<PortFailure> setModemLine(NativeLine::ModemLine which, bool on)
    {
        std::unique_lock lock(m_mutex);
        if (auto failure = ownerFailureLocked())
            return failure;
        switch (m_native.setModemLine(which, on)) {
        case NativeLine::Status::Ok:
        case NativeLine::Status::Unsupported: // no modem lines (a pseudo-terminal)
            return std::nullopt;
        case NativeLine::Status::Gone:
            failLocked(lock, 0);
            return ownerFailureLocked();
        default:
            return OperatorText::linesFailed(
                which == NativeLine::ModemLine::Dtr ? QStringLiteral("DTR") : QStringLiteral("RTS"),
                m_path, m_native.lastError());
        }
    }

    qint64 waiting() const
    {
        std::lock_guard lock(m_mutex);
        if (m_state == State::Gone || m_state == State::Closed)
            return 0;
        return m_queuedBytes + m_native.queued();
    }

    // The owner lets go. A failure not yet told to the owner comes back now.
    std::optional<PortFailure> release()
    {
        std::lock_guard lock(m_mutex);
        if (auto failure = ownerFailureLocked())
            return failure;
        if (m_state == State::Owned) {
            m_state = State::Released;
            m_drained = false;
            m_wake.notify_all();
        }
        return std::nullopt;
    }

    // Closes the QSerialPort for good, on its own thread. Does nothing when the line was taken
    // over again or still has work to do. Returns whether it closed the port.
    bool finalize(bool fromEvent);

    // The program ends: closes the line once nothing is left to send, or at once when `now`.
    // Returns whether the line is closed.
    bool finishForExit(bool now);

private:
    // The failure the owner has not heard of yet, if any; Gone lines report once.
    std::optional<PortFailure> ownerFailureLocked()
    {
        if (m_ownerFailure) {
            auto failure = std::move(m_ownerFailure);
            m_ownerFailure.reset();
            return failure;
        }
        if (m_state == State::Gone || m_state == State::Closed)
            return OperatorText::deviceGone(m_path, 0);
        return std::nullopt;
    }

    // Nothing of ours is left to send: our queue is empty and the driver has nothing in hand.
    // On Windows a write still in flight is cancelled when the process's handles close, so it
    // must have ended too.
    bool idleLocked() const
    {
        return m_queuedBytes == 0 && m_native.queued() == 0 && !m_native.writeInFlight();
    }

    // Waits, without the lock, until the driver has sent everything; false when the device died
    // meanwhile or the drain failed (then it is failed already: what it held is not sent).
    bool drainUnlocked(std::unique_lock<std::mutex> &lock)
    {
        lock.unlock();
        const NativeLine::Status drained = m_native.drain();
        lock.lock();
        if (drained == NativeLine::Status::Ok || drained == NativeLine::Status::Unsupported)
            return true;
        failLocked(lock, 0);
        return false;
    }

    // The device is dead: drop what waits, tell the owner (next call) or the handler (now).
    void failLocked(std::unique_lock<std::mutex> &lock, qint64 alsoLost)
    {
        if (m_state == State::Gone || m_state == State::Closed)
            return;
        const qint64 lost = alsoLost + m_queuedBytes + m_native.queued();
        const bool owned = m_state == State::Owned;
        m_queue.clear();
        m_queuedBytes = 0;
        m_state = State::Gone;
        m_wake.notify_all();
        const PortFailure failure = OperatorText::deviceGone(m_path, lost);
        tellLocked(lock, owned, failure);
    }

    void tellLocked(std::unique_lock<std::mutex> &lock, bool owned, const PortFailure &failure)
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

    void postFinalizeLocked()
    {
        if (m_finalizePosted || !m_port)
            return;
        m_finalizePosted = true;
        QMetaObject::invokeMethod(
            m_port, [self = shared_from_this()] { self->finalize(true); }, Qt::QueuedConnection);
    }

    void run();

    const QString m_path;
    QSerialPort *m_port; // lives on the thread that opened it; closed there
    NativeLine m_native;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    State m_state = State::Owned;
    std::deque<Segment> m_queue;
    qint64 m_queuedBytes = 0;
    qint32 m_rate;              // the rate once the queue is through
    quint64 m_directWrites = 0; // tells the worker that bytes arrived during a drain
    bool m_drained = false;
    bool m_finalizePosted = false;
    std::optional<PortFailure> m_ownerFailure;
    PortDevice::FailureHandler m_handler;
};

namespace {

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

// For a program that ends through exit() without finishing its lines (a library that gives up
// when the display goes away at a logout does that).
void finishAtExit()
{
    SerialPortDevice::finishAll();
}

void registerExitHandler()
{
    static std::once_flag once;
    std::call_once(once, [] { std::atexit(&finishAtExit); });
}

} // namespace

bool SerialLine::finalize(bool fromEvent)
{
    QSerialPort *port = nullptr;
    {
        std::lock_guard registryLock(registry().mutex);
        std::lock_guard lock(m_mutex);
        const bool done =
            m_state == State::Gone || (m_state == State::Released && m_drained && m_queue.empty());
        if (!done || !m_finalizePosted || !m_port)
            return false;
        if (!fromEvent && m_port->thread() != QThread::currentThread())
            return false;
        m_state = State::Closed;
        const auto it = registry().lines.find(m_path);
        if (it != registry().lines.end() && it->second.get() == this)
            registry().lines.erase(it);
        port = std::exchange(m_port, nullptr);
        m_wake.notify_all();
    }
    m_native.detach();
    port->close();
    if (fromEvent)
        port->deleteLater();
    else
        delete port;
    return true;
}

bool SerialLine::finishForExit(bool now)
{
    QSerialPort *port = nullptr;
    {
        std::lock_guard registryLock(registry().mutex);
        std::lock_guard lock(m_mutex);
        if (m_state == State::Closed)
            return true;
        if (!now && m_state != State::Gone && !idleLocked())
            return false;
        m_state = State::Closed;
        m_queue.clear();
        m_queuedBytes = 0;
        const auto it = registry().lines.find(m_path);
        if (it != registry().lines.end() && it->second.get() == this)
            registry().lines.erase(it);
        port = std::exchange(m_port, nullptr);
        m_wake.notify_all();
    }
    if (!port)
        return true;
    m_native.detach();
    if (port->thread() == QThread::currentThread()) {
        port->close();
        delete port;
    } else {
        // Only its own thread may close it; the claim is given up already.
        QMetaObject::invokeMethod(
            port,
            [port] {
                port->close();
                port->deleteLater();
            },
            Qt::QueuedConnection);
    }
    return true;
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
            if (m_queue.front().rate != 0) {
                // A rate queued by a later open: everything before it leaves at the old rate.
                if (!drainUnlocked(lock))
                    continue;
                if (m_queue.empty())
                    continue; // dropped meanwhile
                const qint32 rate = std::exchange(m_queue.front().rate, 0);
                qint32 applied = 0;
                const NativeLine::Status set = m_native.setRate(rate, &applied);
                if (set != NativeLine::Status::Ok || !closeEnough(rate, applied))
                    tellLocked(lock, m_state == State::Owned,
                               OperatorText::rateNotAccepted(m_path, rate, applied));
                if (!m_queue.empty() && m_queue.front().rate == 0 &&
                    m_queue.front().offset == m_queue.front().bytes.size())
                    m_queue.pop_front();
                continue;
            }
            lock.unlock();
            const NativeLine::Status ready = m_native.waitWritable(kWaitSliceMs);
            lock.lock();
            if (m_state == State::Closed)
                return; // closed at the end of the program meanwhile: the handle is no longer ours
            if (ready == NativeLine::Status::Gone) {
                failLocked(lock, 0);
                continue;
            }
            if (m_queue.empty() || m_queue.front().rate != 0)
                continue;
            Segment &front = m_queue.front();
            const NativeLine::Pushed pushed = m_native.push(front.bytes.constData() + front.offset,
                                                            front.bytes.size() - front.offset);
            front.offset += pushed.bytes;
            m_queuedBytes -= pushed.bytes;
            if (front.offset == front.bytes.size())
                m_queue.pop_front();
            if (pushed.status != NativeLine::Status::Ok &&
                pushed.status != NativeLine::Status::WouldBlock)
                failLocked(lock, 0); // a write error that does not pass would spin here
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

SerialPortDevice::SerialPortDevice() = default;

// Program exit or a window that goes away: the same close, nothing discarded.
SerialPortDevice::~SerialPortDevice()
{
    if (m_line)
        close();
}

std::optional<PortFailure> SerialPortDevice::open(const QString &path, qint32 baudRate, bool dtr,
                                                  bool rts)
{
    if (m_line)
        return OperatorText::alreadyOpen(m_line->path());
    if (baudRate < 1)
        return OperatorText::rateNotAccepted(path, baudRate, 0);

    std::unique_lock registryLock(registry().mutex);
    std::shared_ptr<SerialLine> line;
    const auto it = registry().lines.find(path);
    if (it != registry().lines.end()) {
        line = it->second;
        if (!line->reclaim(baudRate, m_handler)) {
            // Gone and waiting for its close on the opening thread: do it now if this is that
            // thread (no worker touches a gone line any more), otherwise the port is busy.
            registryLock.unlock();
            if (line->state() == SerialLine::State::Owned || !line->finalize(false))
                return line->state() == SerialLine::State::Owned
                           ? OperatorText::portOpenInThisProgram(path)
                           : OperatorText::portStillClosing(path);
            return open(path, baudRate, dtr, rts);
        }
    } else {
        if (NativeLine::accessDenied(QFile::encodeName(path).constData()))
            return OperatorText::permissionDenied(path);
        auto port = std::make_unique<QSerialPort>();
        port->setPortName(path);
        port->setDataBits(QSerialPort::Data8);
        port->setParity(QSerialPort::NoParity);
        port->setStopBits(QSerialPort::OneStop);
        port->setFlowControl(QSerialPort::NoFlowControl);
        // Write only: with nothing to read, a hung-up device cannot flood us with read errors.
        if (!port->open(QIODevice::WriteOnly)) {
            switch (openFailureNumber(path, port->error())) {
            case PortError::NoSuchPort:
                return OperatorText::deviceMissing(path);
            case PortError::PermissionDenied:
                return OperatorText::permissionDenied(path);
            case PortError::PortInUse:
                return portBusyFailure(path);
            default:
                return OperatorText::notASerialPort(path);
            }
        }
        line = std::make_shared<SerialLine>(path, port.get(), baudRate, m_handler);
        line->native().claimExclusive();
        qint32 applied = 0;
        const NativeLine::Status rated = line->native().setRate(baudRate, &applied);
        if (rated != NativeLine::Status::Ok || !closeEnough(baudRate, applied)) {
            line->native().detach();
            port->close();
            return OperatorText::rateNotAccepted(path, baudRate,
                                                 rated == NativeLine::Status::Ok ? applied : 0);
        }
        port.release(); // the line closes it from now on
        registry().lines.emplace(path, line);
        registerExitHandler();
        line->start();
    }
    registryLock.unlock();

    // The open left the lines as the system has them (Linux raises both, Qt on Windows DTR
    // alone); now they follow the flags.
    m_line = line;
    auto failure = setDtr(dtr);
    if (!failure)
        failure = setRts(rts);
    if (failure && m_line) {
        m_line->release();
        m_line.reset();
    }
    return failure;
}

bool SerialPortDevice::isOpen() const
{
    return m_line != nullptr;
}

std::optional<PortFailure> SerialPortDevice::forgetIfGone(std::optional<PortFailure> failure)
{
    if (failure && failure->number == PortError::DeviceGone)
        m_line.reset();
    return failure;
}

std::optional<PortFailure> SerialPortDevice::setDtr(bool on)
{
    if (!m_line)
        return std::nullopt;
    return forgetIfGone(m_line->setModemLine(NativeLine::ModemLine::Dtr, on));
}

std::optional<PortFailure> SerialPortDevice::setRts(bool on)
{
    if (!m_line)
        return std::nullopt;
    return forgetIfGone(m_line->setModemLine(NativeLine::ModemLine::Rts, on));
}

std::optional<PortFailure> SerialPortDevice::write(const QByteArray &bytes, qint64 limit)
{
    if (!m_line)
        return OperatorText::portClosed();
    return forgetIfGone(m_line->write(bytes, limit));
}

qint64 SerialPortDevice::bytesWaiting() const
{
    return m_line ? m_line->waiting() : 0;
}

std::optional<PortFailure> SerialPortDevice::close()
{
    if (!m_line)
        return std::nullopt;
    const auto line = std::move(m_line);
    m_line.reset();
    return line->release();
}

void SerialPortDevice::setBackgroundFailureHandler(FailureHandler handler)
{
    m_handler = std::move(handler);
}

void SerialPortDevice::finishAll(std::chrono::milliseconds grace,
                                 const std::function<bool()> &hurry)
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

int SerialPortDevice::linesInUse()
{
    std::lock_guard lock(registry().mutex);
    return int(registry().lines.size());
}

std::unique_ptr<PortDevice> makeSerialPortDevice()
{
    return std::make_unique<SerialPortDevice>();
}
