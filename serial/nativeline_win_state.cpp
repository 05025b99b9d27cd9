// SPDX-License-Identifier: MIT
#include "serial/nativeline_win_p.h"

#include "serial/windowserrors.h"

#include <utility>

namespace NativeLineWin {

Outcome failed()
{
    const DWORD error = ::GetLastError();
    return {WindowsError::lineStatus(error), error};
}

Status writeStatusOf(DWORD error)
{
    const Status status = WindowsError::lineStatus(error);
    return status == Status::Unsupported ? Status::Failed : status;
}

Clock::duration lineTime(std::int64_t bytes, std::int32_t rate)
{
    if (rate <= 0)
        return {};
    return std::chrono::microseconds(bytes * 10 * 1000000 / rate);
}

namespace {

// The rates a driver lists in its properties (BAUD_* bits), for drivers without BAUD_USER.
constexpr std::pair<DWORD, std::int32_t> kListedRates[] = {
    {BAUD_075, 75},        {BAUD_110, 110},     {BAUD_150, 150},   {BAUD_300, 300},
    {BAUD_600, 600},       {BAUD_1200, 1200},   {BAUD_1800, 1800}, {BAUD_2400, 2400},
    {BAUD_4800, 4800},     {BAUD_7200, 7200},   {BAUD_9600, 9600}, {BAUD_14400, 14400},
    {BAUD_19200, 19200},   {BAUD_38400, 38400}, {BAUD_56K, 56000}, {BAUD_57600, 57600},
    {BAUD_115200, 115200}, {BAUD_128K, 128000},
};

} // namespace

std::int32_t rateOffered(HANDLE handle, std::int32_t rate)
{
    COMMPROP properties{};
    if (!::GetCommProperties(handle, &properties) || (properties.dwSettableBaud & BAUD_USER))
        return rate;
    std::int32_t nearest = 0;
    for (const auto &[bit, listed] : kListedRates) {
        const auto distance = [rate](std::int32_t r) { return r > rate ? r - rate : rate - r; };
        if ((properties.dwSettableBaud & bit) && (!nearest || distance(listed) < distance(nearest)))
            nearest = listed;
    }
    return nearest ? nearest : rate; // a driver that lists nothing says nothing
}

} // namespace NativeLineWin

using namespace NativeLineWin;

namespace {

// A write that Windows aborted without our asking (its thread ended) is issued again; this many
// aborts in a row without a byte moved are taken as the device's answer.
constexpr int kAbortsTaken = 3;

} // namespace

// Hands the driver the rest of inFlight. 0 or the error.
DWORD NativeLine::State::startWrite(HANDLE handle)
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

// Ok once no write is in flight, WouldBlock while one is. A write the driver ended early (a
// write time-out), or one that Windows aborted because the thread that issued it ended,
// goes on with its rest, so every byte push() took leaves, in order.
Outcome NativeLine::State::finishWrite(HANDLE handle)
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
        const bool early = error == ERROR_TIMEOUT || error == ERROR_SEM_TIMEOUT;
        const bool orphaned =
            error == ERROR_OPERATION_ABORTED && !dropping && (done > 0 || ++aborts < kAbortsTaken);
        if (!early && !orphaned && !dropping) {
            writing = false;
            writeError = error;
            return {writeStatusOf(error), error};
        }
    }
    writing = false;
    if (std::exchange(dropping, false)) {
        inFlight.clear();
        offset = 0;
        return {};
    }
    if (done > 0)
        aborts = 0;
    offset += done;
    if (offset >= inFlight.size())
        return {};
    if (const DWORD error = startWrite(handle)) {
        writeError = error;
        return {writeStatusOf(error), error};
    }
    return {Status::WouldBlock, 0};
}

// Writes the whole DCB: the rate (0: keeps it), 8N1, and no flow control of any kind. Another
// program may have left DSR or CTS flow control on, and a write would then wait for a line
// nobody raises. Read back, the rate the driver reports goes to `applied`.
Outcome NativeLine::State::writeDcb(HANDLE handle, std::int32_t newRate, std::int32_t *applied)
{
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!::GetCommState(handle, &dcb))
        return failed();
    if (newRate > 0)
        dcb.BaudRate = DWORD(newRate);
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.Parity = NOPARITY;
    dcb.ByteSize = 8;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    // Windows refuses a DCB whose XON and XOFF characters are equal, even with XON/XOFF off,
    // and some drivers report them so (both 0): the usual ones.
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    // The driver applies these modes at the next open and after some events of its own:
    // they say what the operator chose. Until a level is chosen, a handshake mode (flow
    // control) becomes a plain one.
    if (dtr >= 0)
        dcb.fDtrControl = dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    else if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE)
        dcb.fDtrControl = DTR_CONTROL_DISABLE;
    if (rts >= 0)
        dcb.fRtsControl = rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    else if (dcb.fRtsControl != RTS_CONTROL_ENABLE)
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
    if (!::SetCommState(handle, &dcb))
        return failed();
    DCB back{};
    back.DCBlength = sizeof(back);
    if (!::GetCommState(handle, &back))
        return failed();
    rate = std::int32_t(back.BaudRate);
    if (applied)
        *applied = rate;
    return {};
}
