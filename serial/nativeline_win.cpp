// SPDX-License-Identifier: MIT
#include "serial/nativeline_win_p.h"

#include "serial/windowserrors.h"

#include <chrono>
#include <mutex>
#include <utility>
#include <windows.h>

// One overlapped write at a time: push() hands the driver a copy of the bytes and returns; the
// driver's queue (cbOutQue) counts them until they have left.
//
// A handle opened elsewhere may be tied to an I/O completion port whose owner knows only its own
// OVERLAPPEDs (QSerialPort's is): an hEvent with its low bit set keeps the system from queueing
// a packet for our write (documented for GetQueuedCompletionStatus); the event itself is waited
// on untagged, and GetOverlappedResult is only asked once it has finished.
//
// Calls that wait (the drain, waitWritable) do so without the lock; they count as users of the
// handle, and releaseHandle() ends them and waits for them before the handle goes, since Windows
// may give its value to the next handle opened.
namespace {

// How long releaseHandle() waits for a cancelled write, and for calls still under way, before it
// leaves them the buffer.
constexpr DWORD kCancelWaitMs = 2000;
constexpr DWORD kCancelSliceMs = 50;
// After the driver has handed its last byte to the hardware: what a UART's transmitter or an
// adapter's USB frame may still add to the time the bytes need at the rate.
constexpr auto kLineSlack = std::chrono::milliseconds(10);

} // namespace

using namespace NativeLineWin;

NativeLine::NativeLine(Handle handle)
    : NativeLine(handle, false)
{}

NativeLine::NativeLine(Handle handle, bool owned)
    : m_owned(owned)
    , m_handle(handle)
    , m_state(std::make_unique<State>())
{
    // Set while no write is in flight. Without it nothing can be written (and nothing waits).
    m_state->event = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
    if (!m_state->event)
        m_state->eventError = ::GetLastError();
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (::GetCommState(handle, &dcb))
        m_state->rate = std::int32_t(dcb.BaudRate);
}

std::unique_ptr<NativeLine> NativeLine::open(const wchar_t *name, bool dtr, bool rts,
                                             unsigned long *error)
{
    // Read access too: Wine refuses every comm call on a handle opened for writing only.
    const std::wstring path = std::wstring(L"\\\\.\\") + name;
    const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = ::GetLastError();
        return nullptr;
    }
    std::unique_ptr<NativeLine> line(new NativeLine(handle, true));
    // The first DCB carries the chosen levels: no pulse on a line the operator turned off.
    line->m_state->dtr = dtr ? 1 : 0;
    line->m_state->rts = rts ? 1 : 0;
    // The queue sizes the program asks for (a wish the driver may ignore); no time-outs: a
    // write waits until its last byte is in the driver, and a read (never made) returns at once.
    ::SetupComm(handle, 1024, 1024);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    Outcome set;
    if (!::SetCommTimeouts(handle, &timeouts))
        set = failed();
    else
        set = line->m_state->writeDcb(handle, 0, nullptr);
    if (set.error) {
        *error = set.error;
        line->m_owned = false; // a port that refused its set-up gets no settings at the close
        ::CloseHandle(handle);
        return nullptr;
    }
    return line;
}

NativeLine::~NativeLine()
{
    releaseHandle();
    if (m_state->event)
        ::CloseHandle(m_state->event);
}

NativeLine::Pushed NativeLine::push(const char *data, std::int64_t size)
{
    Pushed pushed;
    if (size <= 0)
        return pushed;
    std::lock_guard lock(m_state->lock);
    if (!m_handle) {
        pushed.status = Status::Gone;
        return pushed;
    }
    if (!m_state->event) {
        m_lastError = int(m_state->eventError);
        pushed.status = Status::Failed;
        return pushed;
    }
    const Outcome finished = m_state->finishWrite(m_handle);
    if (finished.status != Status::Ok) {
        if (finished.error)
            m_lastError = int(finished.error);
        pushed.status = finished.status;
        return pushed;
    }
    m_state->inFlight.assign(data, std::size_t(size));
    m_state->offset = 0;
    m_state->aborts = 0;
    if (const DWORD error = m_state->startWrite(m_handle)) {
        m_lastError = int(error);
        pushed.status = writeStatusOf(error);
        return pushed;
    }
    const Clock::time_point now = Clock::now();
    m_state->lineFree = std::max(m_state->lineFree, now) + lineTime(size, m_state->rate);
    pushed.bytes = size;
    return pushed;
}

std::int64_t NativeLine::queued() const
{
    std::lock_guard lock(m_state->lock);
    if (!m_handle)
        return 0;
    m_state->finishWrite(m_handle);
    DWORD errors = 0;
    COMSTAT stat{};
    const std::int64_t driver = ::ClearCommError(m_handle, &errors, &stat) ? stat.cbOutQue : 0;
    // Drivers that count a write only once they hold its bytes (Wine's counts nothing) say 0
    // while ours still waits to go in: then it is all still waiting.
    if (driver == 0 && m_state->inFlightUnfinished())
        return std::int64_t(m_state->inFlight.size() - m_state->offset);
    return driver;
}

bool NativeLine::writeInFlight() const
{
    std::lock_guard lock(m_state->lock);
    if (m_handle)
        m_state->finishWrite(m_handle); // an aborted write goes on, and is in flight again
    return m_state->inFlightUnfinished();
}

NativeLine::Status NativeLine::waitWritable(int timeoutMs)
{
    // Bound here: a releaseHandle() that gives up on this call leaves it the state it uses.
    State &state = *m_state;
    std::unique_lock lock(state.lock);
    if (!m_handle)
        return Status::Gone;
    if (!state.event) {
        m_lastError = int(state.eventError);
        return Status::Failed;
    }
    if (!state.writing || state.writeError)
        return state.finishWrite(m_handle).status;
    ++state.users;
    lock.unlock();
    ::WaitForSingleObject(state.event, DWORD(timeoutMs));
    lock.lock();
    --state.users;
    state.changed.notify_all();
    if (!m_handle)
        return Status::Gone;
    const Outcome finished = state.finishWrite(m_handle);
    if (finished.error)
        m_lastError = int(finished.error);
    return finished.status;
}

NativeLine::Status NativeLine::drain()
{
    // Bound here: a releaseHandle() that gives up on this call leaves it the state it uses.
    State &state = *m_state;
    std::unique_lock lock(state.lock);
    if (!m_handle)
        return Status::Gone;
    const unsigned discards = state.discards;
    const auto discarded = [&] { return state.discards != discards; };
    ++state.users;
    const auto leave = [&](Status status) {
        --state.users;
        state.changed.notify_all();
        return discarded() ? Status::Ok : status; // dropped on purpose: nothing is left to wait for
    };

    // Our own write first, then the driver's queue, then the hardware.
    while (m_handle) {
        const Outcome finished = state.finishWrite(m_handle);
        if (finished.error)
            m_lastError = int(finished.error);
        if (finished.status != Status::WouldBlock || discarded())
            break;
        lock.unlock();
        ::WaitForSingleObject(state.event, 100);
        lock.lock();
    }
    if (!m_handle)
        return leave(Status::Gone);
    if (state.writeError && !discarded())
        return leave(writeStatusOf(state.writeError));

    // Returns once the driver has handed its last byte to the hardware: a UART's FIFO or an
    // adapter's own buffer still holds some.
    const HANDLE handle = m_handle;
    ++state.flushing;
    lock.unlock();
    const BOOL flushed = ::FlushFileBuffers(handle);
    const DWORD error = flushed ? 0 : ::GetLastError();
    lock.lock();
    --state.flushing;
    if (!m_handle)
        return leave(Status::Gone);
    if (error && !discarded()) {
        m_lastError = int(error);
        // A driver that cannot flush has still finished the write; a device that is gone has not.
        const Status status = WindowsError::lineStatus(error);
        if (status != Status::Unsupported)
            return leave(status);
    }
    // Until the last bit has left at the rate: only then may a setting change (a new rate, the
    // close) without touching it. Nothing tells that on Windows; the bytes taken tell how long
    // the line needs for them at best.
    const Clock::time_point lastBit =
        std::max(state.lineFree, Clock::now()) + lineTime(1, state.rate) + kLineSlack;
    state.changed.wait_until(lock, lastBit, [&] { return discarded() || !m_handle; });
    return leave(m_handle ? Status::Ok : Status::Gone);
}

void NativeLine::discardPending()
{
    std::lock_guard lock(m_state->lock);
    if (!m_handle)
        return;
    ++m_state->discards;
    if (m_state->inFlightUnfinished()) {
        m_state->dropping = true;
        ::CancelIoEx(m_handle, &m_state->overlapped);
    }
    // Ends outstanding writes and a flush waiting behind them (serial.sys keeps both in one
    // queue), and empties the driver's queue.
    ::PurgeComm(m_handle, PURGE_TXABORT | PURGE_TXCLEAR);
    m_state->lineFree = Clock::time_point();
    m_state->changed.notify_all();
}

NativeLine::Status NativeLine::setRate(std::int32_t rate, std::int32_t *applied)
{
    std::lock_guard lock(m_state->lock);
    if (!m_handle)
        return Status::Gone;
    // A driver without BAUD_USER runs only the rates it lists; one that is not within 1 % of
    // the rate asked for is then told back as what the device gives.
    const Outcome set = m_state->writeDcb(m_handle, rateOffered(m_handle, rate), applied);
    if (set.error)
        m_lastError = int(set.error);
    return set.status;
}

NativeLine::Status NativeLine::setModemLine(ModemLine line, bool on)
{
    std::lock_guard lock(m_state->lock);
    if (!m_handle)
        return Status::Gone;
    // The line changes at once; the DCB learns the level at the next rate or close, never while
    // a byte may be on its way (a whole DCB can glitch it on some drivers).
    (line == ModemLine::Dtr ? m_state->dtr : m_state->rts) = on ? 1 : 0;
    const DWORD function = line == ModemLine::Dtr ? (on ? SETDTR : CLRDTR) : (on ? SETRTS : CLRRTS);
    if (::EscapeCommFunction(m_handle, function))
        return Status::Ok;
    const Outcome set = failed();
    m_lastError = int(set.error);
    return set.status;
}

NativeLine::Status NativeLine::claimExclusive()
{
    return Status::Ok; // a COM port opens exclusively on this platform
}

void NativeLine::releaseHandle()
{
    std::unique_lock lock(m_state->lock);
    if (!m_handle)
        return;
    const HANDLE handle = std::exchange(m_handle, nullptr);
    State &state = *m_state;
    const bool writing = state.inFlightUnfinished();
    // Calls under way on other threads: a flush ends with the purge (a close during a flush
    // drops what waits anyway), the waits with the cancel and the notification. Without a
    // flush there is no purge: some adapters would drop the bytes they hold.
    if (state.flushing > 0)
        ::PurgeComm(handle, PURGE_TXABORT | PURGE_TXCLEAR);
    state.changed.notify_all();
    // The buffer may only go once the driver is done with it. The cancel is asked again now and
    // then: one that meets the write while it is being worked on can be lost (seen under Wine).
    bool ended = !writing;
    for (DWORD waited = 0; !ended && waited < kCancelWaitMs; waited += kCancelSliceMs) {
        ::CancelIoEx(handle, &state.overlapped);
        ended = ::WaitForSingleObject(state.event, kCancelSliceMs) == WAIT_OBJECT_0;
    }
    state.changed.wait_for(lock, std::chrono::milliseconds(kCancelWaitMs),
                           [&] { return state.users == 0; });
    state.writing = state.writing && !ended;
    if (m_owned) {
        // Nothing on its way: the DCB learns the levels chosen last, which the driver applies
        // at the next open.
        if (!writing && !state.writeError && state.users == 0 && Clock::now() >= state.lineFree)
            state.writeDcb(handle, 0, nullptr);
        ::CloseHandle(handle);
    }
    if (ended && state.users == 0)
        return;
    // A driver that ignores the cancel, or a call that never came back, still owns the buffer
    // and the event: leave them to it.
    lock.unlock();
    State *const abandoned = m_state.release();
    static_cast<void>(abandoned);
    m_state = std::make_unique<State>();
}

bool NativeLine::accessDenied(const char *localPath)
{
    static_cast<void>(localPath);
    return false; // an open that is refused means another program holds the port
}
