// SPDX-License-Identifier: MIT
#include "serial/nativeline.h"

#include <mutex>
#include <string>
#include <utility>
#include <windows.h>

// One overlapped write at a time: push() hands the driver a copy of the bytes and returns; the
// driver's queue (cbOutQue) counts them until they have left. QSerialPort opened the handle
// with FILE_FLAG_OVERLAPPED, so every write here needs its own OVERLAPPED and event.
//
// QSerialPort also ties the handle to an I/O completion port whose notifier knows only its own
// OVERLAPPEDs: a packet for one of ours trips an assertion in a debug Qt and leaves a stray
// event and an error state in a release one. An hEvent with its low bit set keeps the system
// from queueing a packet for the write (documented for GetQueuedCompletionStatus); the event
// itself is waited on untagged, and GetOverlappedResult is only asked once it has finished.
namespace {

// Not in every SDK's headers (MinGW's lack it).
constexpr DWORD kErrorNoSuchDevice = 433;

// How long releaseHandle() waits for a cancelled write before it leaves the buffer to the driver.
constexpr DWORD kCancelWaitMs = 2000;
constexpr DWORD kCancelSliceMs = 50;

NativeLine::Status statusOf(DWORD error)
{
    switch (error) {
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_PARAMETER:
        return NativeLine::Status::Unsupported;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_READY: // what a hung-up line answers
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEV_NOT_EXIST:
    case kErrorNoSuchDevice:
    case ERROR_OPERATION_ABORTED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        return NativeLine::Status::Gone;
    default:
        return NativeLine::Status::Failed;
    }
}

// A write that fails at once is no missing feature of the device.
NativeLine::Status writeStatusOf(DWORD error)
{
    const NativeLine::Status status = statusOf(error);
    return status == NativeLine::Status::Unsupported ? NativeLine::Status::Failed : status;
}

struct Outcome
{
    NativeLine::Status status = NativeLine::Status::Ok;
    DWORD error = 0;
};

} // namespace

// Everything below is used under `lock`.
struct NativeLine::State
{
    std::mutex lock;
    HANDLE event = nullptr; // manual reset; set once the write in flight has finished
    DWORD eventError = 0;   // why there is no event
    OVERLAPPED overlapped{};
    std::string inFlight; // must outlive the write the driver is working on
    DWORD offset = 0;     // bytes of inFlight the driver has finished with
    bool writing = false;
    DWORD writeError = 0; // a write that failed: bytes push() took are lost, so it sticks
    int dtr = -1;         // the levels last chosen (-1: none yet, the open's own stand)
    int rts = -1;

    // Hands the driver the rest of inFlight. 0 or the error.
    DWORD startWrite(HANDLE handle)
    {
        overlapped = OVERLAPPED{};
        overlapped.hEvent = HANDLE(ULONG_PTR(event) | 1);
        ::ResetEvent(event);
        const DWORD size = DWORD(inFlight.size() - offset);
        if (!::WriteFile(handle, inFlight.data() + offset, size, nullptr, &overlapped)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING) {
                ::SetEvent(event);
                return error;
            }
        }
        writing = true;
        return 0;
    }

    // Ok once no write is in flight, WouldBlock while one is. A write the driver ended early
    // (a write time-out) goes on with its rest, so every byte push() took leaves, in order.
    Outcome finishWrite(HANDLE handle)
    {
        if (writeError)
            return {writeStatusOf(writeError), writeError};
        if (!writing)
            return {};
        DWORD done = 0;
        if (!::GetOverlappedResult(handle, &overlapped, &done, FALSE)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_IO_INCOMPLETE)
                return {Status::WouldBlock, 0};
            // A time-out that moved nothing (how Wine ends one) is an early end like any other:
            // the bytes are still ours to send.
            if (error != ERROR_TIMEOUT && error != ERROR_SEM_TIMEOUT) {
                writing = false;
                writeError = error;
                return {writeStatusOf(error), error};
            }
        }
        writing = false;
        offset += done;
        if (offset >= inFlight.size())
            return {};
        if (const DWORD error = startWrite(handle)) {
            writeError = error;
            return {writeStatusOf(error), error};
        }
        return {Status::WouldBlock, 0};
    }

    // Writes the rate (0: keeps it) and the chosen line levels into the device's DCB.
    Outcome writeDcb(HANDLE handle, std::int32_t rate, std::int32_t *applied) const
    {
        DCB dcb{};
        dcb.DCBlength = sizeof(dcb);
        if (!::GetCommState(handle, &dcb))
            return failed();
        if (rate > 0)
            dcb.BaudRate = DWORD(rate);
        // SetCommState applies the whole DCB, line modes included, and some drivers apply them
        // again later on their own: they must say what the operator chose, not what the open
        // left (Qt's open forces RTS off). Qt's own line setters keep the DCB in step likewise.
        if (dtr >= 0)
            dcb.fDtrControl = dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        if (rts >= 0)
            dcb.fRtsControl = rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
        if (!::SetCommState(handle, &dcb))
            return failed();
        if (!applied)
            return {};
        DCB back{};
        back.DCBlength = sizeof(back);
        if (!::GetCommState(handle, &back))
            return failed();
        *applied = std::int32_t(back.BaudRate);
        return {};
    }

    static Outcome failed()
    {
        const DWORD error = ::GetLastError();
        return {statusOf(error), error};
    }
};

NativeLine::NativeLine(Handle handle)
    : m_handle(handle)
    , m_state(std::make_unique<State>())
{
    // Set while no write is in flight. Without it nothing can be written (and nothing waits).
    m_state->event = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
    if (!m_state->event)
        m_state->eventError = ::GetLastError();
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
    if (const DWORD error = m_state->startWrite(m_handle)) {
        m_lastError = int(error);
        pushed.status = writeStatusOf(error);
        return pushed;
    }
    pushed.bytes = size;
    return pushed;
}

std::int64_t NativeLine::queued() const
{
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(m_handle, &errors, &stat))
        return 0;
    return std::int64_t(stat.cbOutQue);
}

bool NativeLine::writeInFlight() const
{
    std::lock_guard lock(m_state->lock);
    return m_state->writing && !HasOverlappedIoCompleted(&m_state->overlapped);
}

NativeLine::Status NativeLine::waitWritable(int timeoutMs)
{
    HANDLE event = nullptr;
    {
        std::lock_guard lock(m_state->lock);
        if (!m_handle)
            return Status::Gone;
        if (!m_state->event) {
            m_lastError = int(m_state->eventError);
            return Status::Failed;
        }
        if (!m_state->writing || m_state->writeError)
            return m_state->finishWrite(m_handle).status;
        event = m_state->event;
    }
    ::WaitForSingleObject(event, DWORD(timeoutMs));
    std::lock_guard lock(m_state->lock);
    const Outcome finished = m_state->finishWrite(m_handle);
    if (finished.error)
        m_lastError = int(finished.error);
    return finished.status;
}

NativeLine::Status NativeLine::drain()
{
    for (;;) {
        const Status status = waitWritable(100);
        if (status == Status::Ok)
            break;
        if (status != Status::WouldBlock)
            return status;
    }
    if (::FlushFileBuffers(m_handle))
        return Status::Ok;
    const DWORD error = ::GetLastError();
    m_lastError = int(error);
    // A driver that cannot flush has still finished the write; a device that is gone has not.
    return statusOf(error) == Status::Unsupported ? Status::Ok : statusOf(error);
}

void NativeLine::discardPending()
{
    // Clearing the output queue lets a FlushFileBuffers that waits for it return.
    ::PurgeComm(m_handle, PURGE_TXABORT | PURGE_TXCLEAR);
}

NativeLine::Status NativeLine::setRate(std::int32_t rate, std::int32_t *applied)
{
    std::lock_guard lock(m_state->lock);
    const Outcome set = m_state->writeDcb(m_handle, rate, applied);
    if (set.error)
        m_lastError = int(set.error);
    return set.status;
}

NativeLine::Status NativeLine::setModemLine(ModemLine line, bool on)
{
    std::lock_guard lock(m_state->lock);
    (line == ModemLine::Dtr ? m_state->dtr : m_state->rts) = on ? 1 : 0;
    const DWORD function = line == ModemLine::Dtr ? (on ? SETDTR : CLRDTR) : (on ? SETRTS : CLRRTS);
    const Outcome set = ::EscapeCommFunction(m_handle, function)
                            ? m_state->writeDcb(m_handle, 0, nullptr)
                            : State::failed();
    if (set.error)
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
    if (!m_state->writing || HasOverlappedIoCompleted(&m_state->overlapped)) {
        m_state->writing = false;
        return;
    }
    // The buffer may only go once the driver is done with it. The cancel is asked again now and
    // then: one that meets the write while it is being worked on can be lost (seen under Wine).
    for (DWORD waited = 0; waited < kCancelWaitMs; waited += kCancelSliceMs) {
        ::CancelIoEx(handle, &m_state->overlapped);
        if (::WaitForSingleObject(m_state->event, kCancelSliceMs) == WAIT_OBJECT_0) {
            m_state->writing = false;
            return;
        }
    }
    // A driver that ignores the cancel still owns the buffer and the event: leave them to it.
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
