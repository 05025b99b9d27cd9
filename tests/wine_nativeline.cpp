// SPDX-License-Identifier: MIT
// The Windows line layer (serial/nativeline_win.cpp) as a Windows program, run under Wine by
// wine_driver.cpp on a pseudo-terminal linked as the COM port named on the command line. The
// driver reads the other end; this program tells it on stdout what to do ("stall", "read",
// "take", "rate", "hangup") and reads its answer from stdin. No Qt: there is none for Windows
// here.
//
// What Wine cannot show through a pseudo-terminal (modem lines, the DCB's flow-control fields,
// a driver's queue count, a flush that waits, a lost cancel, an unplugged adapter's error codes)
// is seen at the system-call level: the program redirects its own import table entries of those
// calls to recorders that pass on to Wine, or answer as Windows or a serial driver would.
#include "serial/nativeline.h"
#include "serial/windowserrors.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

namespace {

using Status = NativeLine::Status;
constexpr std::size_t kLarge = 256 * 1024; // far more than a pseudo-terminal holds
// A rate at which megabytes take no time on the line (a pseudo-terminal has none).
constexpr DWORD kFastRate = 1000000000;
int g_failed = 0;

#define CHECK(condition) check(condition, #condition, __LINE__)
bool check(bool ok, const char *what, int line)
{
    if (!ok && ++g_failed) // the driver passes it on
        std::printf("FAIL line %d: %s\n", line, what);
    return ok;
}

std::string ask(const char *command)
{
    std::printf("%s\n", command);
    std::fflush(stdout);
    std::string answer;
    std::getline(std::cin, answer);
    return answer;
}

// What the calls under the line did, and how they are to answer.
struct Calls
{
    std::vector<DCB> dcbs;      // every DCB set
    std::vector<DWORD> escapes; // every EscapeCommFunction function
    int flushes = 0;
    bool staleDcb = false;   // GetCommState answers as another program left the port
    DWORD lineRate = 0;      // GetCommState's rate (0: Wine's); a fast one keeps drains short
    bool holdFlush = false;  // a flush waits for a purge, as serial.sys's does behind writes
    HANDLE purged = nullptr; // set by a purge
    long driverCount = -1;   // the driver's queue count to report (-1: Wine's own)
    DWORD failWrites = 0;    // WriteFile fails with this at once
    int cancelsLost = 0;     // so many cancels do nothing
} g_calls;

// The calls redirected: each to on<Call>, which passes on to the system's real<Call>.
// clang-format off
#define REDIRECTED(X) \
    X(SetCommState) X(GetCommState) X(EscapeCommFunction) X(FlushFileBuffers) X(PurgeComm) \
    X(ClearCommError) X(WriteFile) X(CancelIoEx)
// clang-format on
#define DECLARE_REAL(call) decltype(&call) real##call;
REDIRECTED(DECLARE_REAL)

BOOL WINAPI onSetCommState(HANDLE handle, LPDCB dcb)
{
    g_calls.dcbs.push_back(*dcb);
    if (dcb->XonChar == dcb->XoffChar) { // Windows refuses it, Wine does not
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return realSetCommState(handle, dcb);
}

BOOL WINAPI onGetCommState(HANDLE handle, LPDCB dcb)
{
    if (!realGetCommState(handle, dcb))
        return FALSE;
    if (g_calls.lineRate)
        dcb->BaudRate = g_calls.lineRate;
    if (!g_calls.staleDcb)
        return TRUE;
    dcb->fOutxCtsFlow = dcb->fOutxDsrFlow = dcb->fDsrSensitivity = dcb->fAbortOnError = TRUE;
    dcb->fOutX = dcb->fInX = dcb->fParity = dcb->fNull = dcb->fErrorChar = TRUE;
    dcb->fTXContinueOnXoff = FALSE;
    dcb->fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb->fRtsControl = RTS_CONTROL_TOGGLE;
    dcb->ByteSize = 7;
    dcb->Parity = ODDPARITY;
    dcb->StopBits = TWOSTOPBITS;
    dcb->XonChar = dcb->XoffChar = 0;
    return TRUE;
}

BOOL WINAPI onEscapeCommFunction(HANDLE handle, DWORD function)
{
    g_calls.escapes.push_back(function);
    realEscapeCommFunction(handle, function); // a pseudo-terminal has no modem lines
    return TRUE;
}

BOOL WINAPI onFlushFileBuffers(HANDLE handle)
{
    ++g_calls.flushes;
    if (g_calls.holdFlush && ::WaitForSingleObject(g_calls.purged, 10000) == WAIT_OBJECT_0) {
        ::SetLastError(ERROR_OPERATION_ABORTED);
        return FALSE;
    }
    return realFlushFileBuffers(handle);
}

BOOL WINAPI onPurgeComm(HANDLE handle, DWORD flags)
{
    ::SetEvent(g_calls.purged);
    return realPurgeComm(handle, flags);
}

BOOL WINAPI onClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT stat)
{
    const BOOL ok = realClearCommError(handle, errors, stat);
    if (ok && stat && g_calls.driverCount >= 0)
        stat->cbOutQue = DWORD(g_calls.driverCount);
    return ok;
}

BOOL WINAPI onWriteFile(HANDLE handle, LPCVOID data, DWORD size, LPDWORD written,
                        LPOVERLAPPED overlapped)
{
    if (g_calls.failWrites) {
        ::SetLastError(g_calls.failWrites);
        return FALSE;
    }
    return realWriteFile(handle, data, size, written, overlapped);
}

BOOL WINAPI onCancelIoEx(HANDLE handle, LPOVERLAPPED overlapped)
{
    if (g_calls.cancelsLost > 0 && g_calls.cancelsLost--)
        return TRUE;
    return realCancelIoEx(handle, overlapped);
}

// Points the import table's entry at `hook`, keeping the system's function in `real`.
template<typename F> void redirect(void **entry, F hook, F *real)
{
    DWORD protection = 0;
    ::VirtualProtect(entry, sizeof(void *), PAGE_READWRITE, &protection);
    *real = reinterpret_cast<F>(*entry);
    *entry = reinterpret_cast<void *>(hook);
    ::VirtualProtect(entry, sizeof(void *), protection, &protection);
}

} // namespace

#define DECLARE_IMPORT(call) extern "C" void *__imp_##call;
REDIRECTED(DECLARE_IMPORT)

namespace {

__attribute__((noinline)) void redirectCalls()
{
    g_calls.purged = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
#define REDIRECT(call) redirect(&__imp_##call, &on##call, &real##call);
    REDIRECTED(REDIRECT)
}

// Every byte value, in a sequence that does not repeat within a write.
std::string pattern(std::size_t from, std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = char(((from + i) * 7 + (from + i) / 251) & 0xFF);
    return bytes;
}

// What the reader got since the last call, once it ends with `tail` (20 s at most).
std::string take(const std::string &tail)
{
    std::string got;
    for (int i = 0; i < 2000 && (got.size() < tail.size() ||
                                 got.compare(got.size() - tail.size(), tail.size(), tail));
         ++i) {
        const std::string hex = ask("take");
        for (std::size_t at = 0; at + 1 < hex.size(); at += 2)
            got += char(std::stoi(hex.substr(at, 2), nullptr, 16));
        Sleep(10);
    }
    return got;
}

// Whether push() takes all of `bytes`; given `waits`, it waits while a write is in flight, and
// counts those waits.
bool pushAll(NativeLine &line, const std::string &bytes, int *waits = nullptr)
{
    const auto size = std::int64_t(bytes.size());
    NativeLine::Pushed pushed = line.push(bytes.data(), size);
    for (; waits && pushed.status == Status::WouldBlock && line.waitWritable(5000) != Status::Gone;
         ++*waits)
        pushed = line.push(bytes.data(), size);
    if (pushed.bytes != size)
        std::printf("push: status %d, error %d\n", int(pushed.status), line.lastError());
    return pushed.bytes == size;
}

// The open sets the port up in full, whatever another program left in its DCB (DSR and CTS flow
// control, XON/XOFF with equal characters, 7O2): 8N1 without flow control, or Windows would
// refuse the DCB. A rate reaches the terminal; one the driver does not list (Wine lists the
// standard ones, without "any rate") comes back as the nearest it lists. A box sets its line
// alone, the DCB learns the levels at the next rate. A port that is not there is missing (Wine
// lets a second open of a held port through, so "in use" is not seen here).
void opens(const std::wstring &name)
{
    g_calls.staleDcb = true;
    unsigned long error = 0;
    std::unique_ptr<NativeLine> line = NativeLine::open(name.c_str(), true, false, &error);
    g_calls.staleDcb = false;
    if (!CHECK(line && !g_calls.dcbs.empty())) {
        std::printf("open: error %lu\n", error);
        return;
    }
    const DCB &set = g_calls.dcbs.back();
    CHECK(set.ByteSize == 8 && set.Parity == NOPARITY && !set.fParity &&
          set.StopBits == ONESTOPBIT && set.fBinary);
    CHECK(!set.fOutxDsrFlow && !set.fDsrSensitivity && !set.fOutxCtsFlow && !set.fOutX &&
          !set.fInX && set.fTXContinueOnXoff && !set.fAbortOnError && !set.fNull);
    CHECK(set.fDtrControl != DTR_CONTROL_HANDSHAKE && set.fRtsControl == RTS_CONTROL_DISABLE);

    std::int32_t applied = 0;
    CHECK(line->setRate(9600, &applied) == Status::Ok && applied == 9600 && ask("rate") == "9600");
    CHECK(line->setRate(250000, &applied) == Status::Ok && applied == 115200 &&
          ask("rate") == "115200");

    const std::size_t dcbs = g_calls.dcbs.size();
    CHECK(line->setModemLine(NativeLine::ModemLine::Dtr, false) == Status::Ok);
    CHECK(line->setModemLine(NativeLine::ModemLine::Rts, true) == Status::Ok);
    CHECK((g_calls.escapes == std::vector<DWORD>{CLRDTR, SETRTS}) && g_calls.dcbs.size() == dcbs);
    CHECK(line->setRate(19200, &applied) == Status::Ok && ask("rate") == "19200");
    CHECK(g_calls.dcbs.back().fDtrControl == DTR_CONTROL_DISABLE &&
          g_calls.dcbs.back().fRtsControl == RTS_CONTROL_ENABLE);

    CHECK(!NativeLine::open(L"COM43", true, false, &error) &&
          WindowsError::openRefusal(error) == WindowsError::OpenRefusal::NoSuchPort);
}

// One write at a time: while the reader is stalled push() refuses more, queued() counts the
// write Wine's driver does not, and a write the driver ends early (its time-out, set here), even
// one that moved nothing, goes on with the rest. Then many writes, the first waiting for the
// stalled one: every byte push() took arrives, in order, and the drain asks the driver to flush.
void writesOneAtATime(HANDLE port)
{
    COMMTIMEOUTS timeouts{0, 0, 0, 0, 20}; // a write ends early after 20 ms
    CHECK(SetCommTimeouts(port, &timeouts));
    NativeLine line(port);
    ask("stall");
    std::string sent = pattern(0, kLarge);
    CHECK(pushAll(line, sent) && line.writeInFlight());
    const NativeLine::Pushed refused = line.push(sent.data(), 100);
    CHECK(refused.bytes == 0 && refused.status == Status::WouldBlock);
    CHECK(line.queued() > 0);
    g_calls.driverCount = 700; // a driver that counts its queue is believed
    CHECK(line.queued() == 700);
    g_calls.driverCount = -1;
    // Each wait sees the write ended early (after the first, with nothing moved) and gone on.
    for (int i = 0; i < 5; ++i)
        CHECK(line.waitWritable(2000) == Status::WouldBlock);
    ask("read");
    int waits = 0;
    bool pushed = true;
    for (int k = 0; k < 100 && pushed; ++k) {
        const std::string bytes = pattern(sent.size(), 1 + (k * 7919) % 100000);
        pushed = pushAll(line, bytes, &waits);
        sent += bytes;
    }
    CHECK(pushed && waits > 0);
    const int flushes = g_calls.flushes;
    CHECK(line.drain() == Status::Ok && !line.writeInFlight() && g_calls.flushes > flushes);
    CHECK(take(sent) == sent);
    timeouts = {};
    CHECK(SetCommTimeouts(port, &timeouts));
}

// The drain lasts at least as long as the bytes need on the line at the rate: the driver's flush
// returns while the hardware still sends, and a new rate or the close must wait for the last bit.
// A discard ends a drain under way on another thread, the flush that serial.sys would hold
// behind the writes included, and the discarded write is no failure. A write whose thread ends
// is aborted by Windows: its rest still goes, in order.
void drains(HANDLE port)
{
    g_calls.lineRate = 0;
    NativeLine line(port);
    std::int32_t applied = 0;
    CHECK(line.setRate(9600, &applied) == Status::Ok);
    const std::string short_ = pattern(0, 288); // 300 ms at 9600 b/s
    const DWORD start = ::GetTickCount();
    CHECK(pushAll(line, short_) && line.drain() == Status::Ok);
    CHECK(::GetTickCount() - start >= 290);
    CHECK(take(short_) == short_);

    ask("stall");
    CHECK(pushAll(line, std::string(kLarge, '\x33')));
    g_calls.holdFlush = true;
    ::ResetEvent(g_calls.purged);
    Status drained = Status::Failed;
    std::thread drainer([&] { drained = line.drain(); });
    Sleep(100);
    line.discardPending();
    drainer.join();
    CHECK(drained == Status::Ok);
    g_calls.holdFlush = false;
    CHECK(!line.writeInFlight());

    ask("stall");
    g_calls.lineRate = kFastRate;
    NativeLine fast(port);
    const std::string orphan = pattern(0, kLarge);
    bool pushedAll = false;
    std::thread([&] { pushedAll = pushAll(fast, orphan); }).join();
    CHECK(pushedAll);
    ask("read");
    CHECK(fast.drain() == Status::Ok);
    const std::string got = take(orphan);
    const std::size_t before = got.size() - orphan.size(); // the discarded write's first bytes
    CHECK(got == std::string(before, '\x33') + orphan);
}

// The destructor ends the write in flight (its buffer goes with it), also when the first cancel
// is lost, and leaves the handle usable: nothing of that write arrives after what follows it. A
// hang-up fails the write in flight (Wine answers error 21, as a hung-up line does on Windows) and
// everything after it; so do the errors unplugged adapters answer.
void endingWrites(HANDLE port)
{
    g_calls.lineRate = kFastRate;
    const std::string large(kLarge, '\x5A');
    ask("stall");
    {
        NativeLine line(port);
        CHECK(pushAll(line, large) && line.writeInFlight());
        g_calls.cancelsLost = 1;
    }
    g_calls.cancelsLost = 0;
    NativeLine line(port);
    const std::string marker(64, '\xA5');
    CHECK(pushAll(line, marker));
    ask("read");
    CHECK(line.drain() == Status::Ok);
    const std::string got = take(marker);
    const std::size_t cancelled = got.size() - marker.size(); // what left before the cancel
    CHECK(cancelled < kLarge && got == std::string(cancelled, '\x5A') + marker);

    for (const DWORD unplugged : {ERROR_BAD_COMMAND, ERROR_GEN_FAILURE, ERROR_NOT_READY}) {
        NativeLine failing(port);
        g_calls.failWrites = unplugged;
        CHECK(failing.push(marker.data(), 10).status == Status::Gone);
        g_calls.failWrites = 0;
    }

    ask("stall");
    CHECK(pushAll(line, large));
    ask("hangup");
    Status status = Status::WouldBlock;
    for (int i = 0; i < 100 && status == Status::WouldBlock; ++i)
        status = line.waitWritable(100);
    if (!CHECK(status == Status::Gone))
        return; // a drain would wait for good
    CHECK(line.push(large.data(), 10).status == Status::Gone);
    CHECK(line.drain() == Status::Gone && !line.writeInFlight());
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2; // usage: wine_nativeline.exe COM<n>
    redirectCalls();
    const std::string name = argv[1];
    opens(std::wstring(name.begin(), name.end()));

    // A handle of the test's own, opened the way QSerialPort opens one, for what follows.
    const std::string path = "\\\\.\\" + name;
    // Read and write: under Wine a write-only handle fails every comm call with error 5.
    const HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    // Raw 8N1, no flow control, DTR on, RTS off.
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (port == INVALID_HANDLE_VALUE || !GetCommState(port, &dcb) ||
        !BuildCommDCBA("baud=115200 parity=N data=8 stop=1 xon=off odsr=off octs=off idsr=off "
                       "dtr=on rts=off",
                       &dcb) ||
        (dcb.XonChar = 0x11, dcb.XoffChar = 0x13, !SetCommState(port, &dcb))) {
        std::printf("FAIL: cannot open %s (error %lu)\n", path.c_str(), GetLastError());
        return 1;
    }
    // As QSerialPort does: a completion port of its own that must never see our writes.
    const HANDLE completion = CreateIoCompletionPort(port, nullptr, 1, 1);
    CHECK(completion != nullptr);
    g_calls.lineRate = kFastRate;

    writesOneAtATime(port);
    drains(port);
    endingWrites(port);

    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED *overlapped = nullptr;
    CHECK(!GetQueuedCompletionStatus(completion, &bytes, &key, &overlapped, 0) && !overlapped);

    CloseHandle(completion);
    CloseHandle(port);
    std::printf("%d checks failed\n", g_failed);
    return g_failed == 0 ? 0 : 1;
}
