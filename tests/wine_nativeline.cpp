// SPDX-License-Identifier: MIT
// The Windows line layer (serial/nativeline_win.cpp) as a Windows program, run under Wine by
// wine_driver.cpp on a pseudo-terminal linked as the COM port named on the command line. The
// driver reads the other end; this program tells it on stdout what to do ("stall", "read",
// "take", "hangup") and reads its answer from stdin. No Qt: there is none for Windows here.
#include "serial/nativeline.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <windows.h>

namespace {

using Status = NativeLine::Status;
constexpr std::size_t kLarge = 256 * 1024; // far more than a pseudo-terminal holds
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

// One write at a time: while the reader is stalled push() refuses more, and a write the driver
// ends early (its time-out, set here), even one that moved nothing, goes on with the rest. Then
// many writes, the first waiting for the stalled one: every byte push() took arrives, in order.
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
    CHECK(line.drain() == Status::Ok && !line.writeInFlight());
    CHECK(take(sent) == sent);
    timeouts = {};
    CHECK(SetCommTimeouts(port, &timeouts));
}

// The destructor ends the write in flight (its buffer goes with it) and leaves the handle usable:
// nothing of that write arrives after what follows it. A hang-up fails the write in flight (Wine
// answers error 21, as a hung-up line does on Windows) and everything after it.
void endingWrites(HANDLE port)
{
    const std::string large(kLarge, '\x5A');
    ask("stall");
    {
        NativeLine line(port);
        CHECK(pushAll(line, large) && line.writeInFlight());
    }
    NativeLine line(port);
    const std::string marker(64, '\xA5');
    CHECK(pushAll(line, marker));
    ask("read");
    CHECK(line.drain() == Status::Ok);
    const std::string got = take(marker);
    const std::size_t cancelled = got.size() - marker.size(); // what left before the cancel
    CHECK(cancelled < kLarge && got == std::string(cancelled, '\x5A') + marker);

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
    const std::string name = std::string("\\\\.\\") + argv[1];
    // Read and write: under Wine a write-only handle fails every comm call with error 5.
    const HANDLE port = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    // What QSerialPort's open leaves: raw 8N1, no flow control, DTR on, RTS off.
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (port == INVALID_HANDLE_VALUE || !GetCommState(port, &dcb) ||
        !BuildCommDCBA("baud=115200 parity=N data=8 stop=1 xon=off odsr=off octs=off idsr=off "
                       "dtr=on rts=off",
                       &dcb) ||
        !SetCommState(port, &dcb)) {
        std::printf("FAIL: cannot open %s (error %lu)\n", name.c_str(), GetLastError());
        return 1;
    }
    // As QSerialPort does: a completion port of its own that must never see our writes.
    const HANDLE completion = CreateIoCompletionPort(port, nullptr, 1, 1);
    CHECK(completion != nullptr);

    writesOneAtATime(port);
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
