// SPDX-License-Identifier: MIT
// The Windows line layer (serial/nativeline_win.cpp) as a Windows program, run under Wine by
// wine_driver.cpp on a pseudo-terminal linked as the COM port named on the command line. The
// driver reads the other end; this program tells it on stdout what to do ("stall", "read",
// "take", "hangup") and reads its answer from stdin. No Qt: there is none for Windows here.
#include "serial/nativeline.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <windows.h>

namespace {

using Status = NativeLine::Status;
constexpr std::size_t kLarge = 256 * 1024; // far more than a pseudo-terminal holds
int g_checks = 0;
int g_failed = 0;

#define CHECK(condition) check(condition, #condition, __LINE__)
bool check(bool ok, const char *what, int line)
{
    ++g_checks;
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

// Every byte value, in a sequence that does not repeat within a write.
std::string pattern(std::size_t from, std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = char(((from + i) * 7 + (from + i) / 251) & 0xFF);
    return bytes;
}

// What the reader got since the last call, until it ends with `tail` and holds `size` bytes
// (20 s at most).
std::string take(std::size_t size, const std::string &tail = {})
{
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((got.size() < size || got.compare(got.size() - tail.size(), tail.size(), tail)) &&
           std::chrono::steady_clock::now() < deadline) {
        const std::string hex = ask("take");
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            got += char(std::stoi(hex.substr(i, 2), nullptr, 16));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return got;
}

// Whether push() takes all of `bytes`; given `waits`, it waits whenever the driver takes
// nothing, and counts those waits.
bool pushAll(NativeLine &line, const std::string &bytes, int *waits = nullptr)
{
    const auto size = std::int64_t(bytes.size());
    NativeLine::Pushed pushed = line.push(bytes.data(), size);
    for (; waits && pushed.bytes == 0 && pushed.status == Status::WouldBlock; ++*waits) {
        if (line.waitWritable(5000) == Status::Gone)
            break;
        pushed = line.push(bytes.data(), size);
    }
    if (waits && pushed.bytes != size)
        std::printf("push: status %d, error %d\n", int(pushed.status), line.lastError());
    return pushed.bytes == size;
}

// What QSerialPort's open leaves: raw 8N1, no flow control, DTR on, RTS off.
bool openLikeQt(HANDLE port)
{
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    GetCommState(port, &dcb);
    dcb.BaudRate = 115200;
    dcb.fBinary = TRUE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fParity = dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = FALSE;
    dcb.fDsrSensitivity = dcb.fNull = dcb.fAbortOnError = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    return SetCommState(port, &dcb);
}

void manyWritesWithASlowReader(HANDLE port)
{
    NativeLine line(port);
    ask("read");
    std::string sent;
    int waits = 0;
    bool pushed = true;
    for (int k = 0; k < 150 && pushed; ++k) {
        const std::string bytes = pattern(sent.size(), 1 + (k * 389) % 3000);
        pushed = pushAll(line, bytes, &waits);
        sent += bytes;
    }
    if (!CHECK(pushed))
        return;       // nothing more to see
    CHECK(waits > 0); // the reader was slower: writes had to wait for the one in flight
    CHECK(line.drain() == Status::Ok && !line.writeInFlight());
    CHECK(take(sent.size()) == sent);
}

void wouldBlockWhileAWriteIsInFlight(HANDLE port)
{
    NativeLine line(port);
    ask("stall");
    const std::string first = pattern(0, kLarge);
    const std::string second = pattern(kLarge, 100);
    CHECK(pushAll(line, first) && line.writeInFlight());
    const NativeLine::Pushed refused = line.push(second.data(), std::int64_t(second.size()));
    CHECK(refused.bytes == 0 && refused.status == Status::WouldBlock);
    CHECK(line.waitWritable(20) == Status::WouldBlock);
    ask("read");
    CHECK(line.drain() == Status::Ok && !line.writeInFlight());
    CHECK(pushAll(line, second) && line.drain() == Status::Ok);
    CHECK(take(kLarge + 100) == first + second);
}

// A write the driver ends early (here its time-out, while the reader is slow) goes on with the
// rest: every byte push() took arrives, in order.
void writeEndedEarlyGoesOn(HANDLE port)
{
    COMMTIMEOUTS timeouts{};
    timeouts.WriteTotalTimeoutConstant = 20;
    CHECK(SetCommTimeouts(port, &timeouts));
    NativeLine line(port);
    ask("read");
    const std::string block = pattern(0, kLarge);
    CHECK(pushAll(line, block) && line.drain() == Status::Ok);
    CHECK(take(kLarge) == block);
    timeouts = COMMTIMEOUTS{};
    SetCommTimeouts(port, &timeouts);
}

// The destructor ends the write in flight (the buffer goes with it) and leaves the handle
// usable; nothing of the cancelled write arrives after what follows it.
void destructorWithAWriteInFlight(HANDLE port)
{
    ask("stall");
    {
        NativeLine line(port);
        CHECK(pushAll(line, std::string(kLarge, '\x5A')) && line.writeInFlight());
    }
    NativeLine line(port);
    const std::string marker(64, '\xA5');
    CHECK(pushAll(line, marker));
    ask("read");
    CHECK(line.drain() == Status::Ok);
    const std::string got = take(marker.size(), marker);
    const std::size_t cancelled = got.size() - std::min(got.size(), marker.size());
    CHECK(got.size() >= marker.size());
    CHECK(cancelled < kLarge); // cut short, not left running
    CHECK(got.find_first_not_of('\x5A') == cancelled);
}

// The write in flight fails (Wine answers error 21, as a hung-up line does on Windows), and so
// does everything after it.
void hangUpIsGone(HANDLE port)
{
    NativeLine line(port);
    ask("stall");
    const std::string block = pattern(0, kLarge);
    CHECK(pushAll(line, block));
    ask("hangup");
    Status status = Status::WouldBlock;
    for (int i = 0; i < 100 && status == Status::WouldBlock; ++i)
        status = line.waitWritable(100);
    if (!CHECK(status == Status::Gone))
        return; // a drain would wait for good
    CHECK(line.push(block.data(), 10).status == Status::Gone);
    CHECK(line.drain() == Status::Gone && !line.writeInFlight());
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2; // usage: wine_nativeline.exe COM<n>
    const std::string name = std::string("\\\\.\\") + argv[1];
    // Read and write: under Wine a write-only handle fails every comm call with error 5.
    const HANDLE port = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE || !openLikeQt(port)) {
        std::printf("FAIL: cannot open %s (error %lu)\n", name.c_str(), GetLastError());
        return 1;
    }
    // As QSerialPort does: a completion port of its own that must never see our writes.
    const HANDLE completion = CreateIoCompletionPort(port, nullptr, 1, 1);
    CHECK(completion != nullptr);

    for (void (*test)(HANDLE) : {manyWritesWithASlowReader, wouldBlockWhileAWriteIsInFlight,
                                 writeEndedEarlyGoesOn, destructorWithAWriteInFlight, hangUpIsGone})
        test(port);

    int packets = 0;
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED *overlapped = nullptr;
    while (GetQueuedCompletionStatus(completion, &bytes, &key, &overlapped, 0) || overlapped)
        ++packets;
    CHECK(packets == 0);

    CloseHandle(completion);
    CloseHandle(port);
    std::printf("%d checks, %d failed\n", g_checks, g_failed);
    return g_failed == 0 ? 0 : 1;
}
