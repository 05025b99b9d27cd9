#include "serial/nativeline.h"

#include "serial/portfailure.h"

#include <QByteArray>
#include <mutex>
#include <windows.h>

// One overlapped write at a time: push() hands the driver a copy of the bytes and returns; the
// driver's queue (cbOutQue) counts them until they have left. QSerialPort opened the handle
// with FILE_FLAG_OVERLAPPED, so every write here needs its own OVERLAPPED and event.
struct NativeLine::State
{
    std::mutex lock;
    OVERLAPPED overlapped{};
    QByteArray inFlight; // must outlive the write the driver is working on
    bool writing = false;
};

namespace {

NativeLine::Status statusOf(DWORD error)
{
    switch (error) {
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_PARAMETER:
        return NativeLine::Status::Unsupported;
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_OPERATION_ABORTED:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
        return NativeLine::Status::Gone;
    default:
        return NativeLine::Status::Failed;
    }
}

} // namespace

NativeLine::NativeLine(Handle handle)
    : m_handle(handle)
    , m_state(std::make_unique<State>())
{
    m_state->overlapped.hEvent = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
}

NativeLine::~NativeLine()
{
    std::lock_guard lock(m_state->lock);
    if (m_state->writing) {
        ::CancelIoEx(m_handle, &m_state->overlapped);
        DWORD done = 0;
        ::GetOverlappedResult(m_handle, &m_state->overlapped, &done, TRUE);
    }
    if (m_state->overlapped.hEvent)
        ::CloseHandle(m_state->overlapped.hEvent);
}

NativeLine::Pushed NativeLine::push(const char *data, qint64 size)
{
    Pushed pushed;
    if (size <= 0)
        return pushed;
    std::lock_guard lock(m_state->lock);
    if (m_state->writing) {
        DWORD done = 0;
        if (!::GetOverlappedResult(m_handle, &m_state->overlapped, &done, FALSE)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_IO_INCOMPLETE) {
                pushed.status = Status::WouldBlock;
                return pushed;
            }
            m_state->writing = false;
            m_lastError = int(error);
            pushed.status = statusOf(error);
            return pushed;
        }
        m_state->writing = false;
    }
    m_state->inFlight = QByteArray(data, size);
    OVERLAPPED &ov = m_state->overlapped;
    const HANDLE event = ov.hEvent;
    ov = OVERLAPPED{};
    ov.hEvent = event;
    ::ResetEvent(event);
    if (!::WriteFile(m_handle, m_state->inFlight.constData(), DWORD(size), nullptr, &ov)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
            m_lastError = int(error);
            pushed.status =
                statusOf(error) == Status::Unsupported ? Status::Failed : statusOf(error);
            return pushed;
        }
    }
    m_state->writing = true;
    pushed.bytes = size;
    return pushed;
}

qint64 NativeLine::queued() const
{
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(m_handle, &errors, &stat))
        return 0;
    return qint64(stat.cbOutQue);
}

NativeLine::Status NativeLine::waitWritable(int timeoutMs)
{
    HANDLE event = nullptr;
    {
        std::lock_guard lock(m_state->lock);
        if (!m_state->writing)
            return Status::Ok;
        event = m_state->overlapped.hEvent;
    }
    if (::WaitForSingleObject(event, DWORD(timeoutMs)) != WAIT_OBJECT_0)
        return Status::WouldBlock;
    std::lock_guard lock(m_state->lock);
    if (!m_state->writing)
        return Status::Ok;
    DWORD done = 0;
    if (::GetOverlappedResult(m_handle, &m_state->overlapped, &done, FALSE)) {
        m_state->writing = false;
        return Status::Ok;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_INCOMPLETE)
        return Status::WouldBlock;
    m_state->writing = false;
    m_lastError = int(error);
    return statusOf(error) == Status::Unsupported ? Status::Failed : statusOf(error);
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
    return statusOf(error) == Status::Unsupported ? Status::Ok : statusOf(error);
}

NativeLine::Status NativeLine::setRate(qint32 rate, qint32 *applied)
{
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!::GetCommState(m_handle, &dcb)) {
        m_lastError = int(::GetLastError());
        return statusOf(DWORD(m_lastError.load()));
    }
    dcb.BaudRate = DWORD(rate);
    if (!::SetCommState(m_handle, &dcb)) {
        const DWORD error = ::GetLastError();
        m_lastError = int(error);
        return error == ERROR_INVALID_PARAMETER ? Status::Unsupported : statusOf(error);
    }
    DCB back{};
    back.DCBlength = sizeof(back);
    if (!::GetCommState(m_handle, &back)) {
        m_lastError = int(::GetLastError());
        return statusOf(DWORD(m_lastError.load()));
    }
    if (applied)
        *applied = qint32(back.BaudRate);
    return Status::Ok;
}

NativeLine::Status NativeLine::setModemLine(ModemLine line, bool on)
{
    const DWORD function = line == ModemLine::Dtr ? (on ? SETDTR : CLRDTR) : (on ? SETRTS : CLRRTS);
    if (::EscapeCommFunction(m_handle, function))
        return Status::Ok;
    const DWORD error = ::GetLastError();
    m_lastError = int(error);
    return statusOf(error);
}

NativeLine::Status NativeLine::claimExclusive()
{
    return Status::Ok; // a COM port opens exclusively on this platform
}

void NativeLine::releaseExclusive() {}

int NativeLine::openFailureNumber(const QString &path, QSerialPort::SerialPortError error)
{
    (void)path;
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return PortError::NoSuchPort;
    case QSerialPort::PermissionError:
        return PortError::PortInUse; // ERROR_ACCESS_DENIED: another program holds it
    default:
        return PortError::OpenFailed;
    }
}

bool NativeLine::accessDenied(const QString &path)
{
    (void)path;
    return false;
}
