// SPDX-License-Identifier: MIT
#pragma once

// What the Windows line keeps between its calls, and the steps of a write and of the port's
// set-up; shared by nativeline_win.cpp (the calls) and nativeline_win_state.cpp (the steps).

#include "serial/nativeline.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <windows.h>

namespace NativeLineWin {

using Clock = std::chrono::steady_clock;
using Status = NativeLine::Status;

struct Outcome
{
    Status status = Status::Ok;
    DWORD error = 0;
};

// The last error as an outcome.
Outcome failed();
// A write that fails at once is no missing feature of the device.
Status writeStatusOf(DWORD error);
// How long `bytes` take on the line at `rate` b/s, 8N1: ten bits a byte.
Clock::duration lineTime(std::int64_t bytes, std::int32_t rate);
// The rate the driver can run for `rate`: the rate itself where it takes any, else the nearest
// rate it lists.
std::int32_t rateOffered(HANDLE handle, std::int32_t rate);

} // namespace NativeLineWin

// Everything below is used under `lock`.
struct NativeLine::State
{
    std::mutex lock;
    std::condition_variable changed; // users left, or a discard came
    HANDLE event = nullptr;          // manual reset; set once the write in flight has finished
    DWORD eventError = 0;            // why there is no event
    OVERLAPPED overlapped{};
    std::string inFlight; // must outlive the write the driver is working on
    DWORD offset = 0;     // bytes of inFlight the driver has finished with
    bool writing = false;
    DWORD writeError = 0;  // a write that failed: bytes push() took are lost, so it sticks
    int aborts = 0;        // aborts in a row that nobody here asked for, without a byte moved
    bool dropping = false; // the write in flight is being discarded on purpose
    unsigned discards = 0; // discardPending() calls so far
    int users = 0;         // calls that use the handle without the lock
    int flushing = 0;      // of them, in FlushFileBuffers
    int dtr = -1;          // the levels last chosen (-1: none yet, the port's own stand)
    int rts = -1;
    std::int32_t rate = 0; // what the device runs at, for the drain's wait (0: unknown)
    NativeLineWin::Clock::time_point
        lineFree; // when the bytes taken so far can have left the line, at best

    // Hands the driver the rest of inFlight. 0 or the error.
    DWORD startWrite(HANDLE handle);

    bool inFlightUnfinished() const { return writing && !HasOverlappedIoCompleted(&overlapped); }

    // Ok once no write is in flight, WouldBlock while one is. A write the driver ended early (a
    // write time-out), or one that Windows aborted because the thread that issued it ended,
    // goes on with its rest, so every byte push() took leaves, in order.
    NativeLineWin::Outcome finishWrite(HANDLE handle);

    // Writes the whole DCB: the rate (0: keeps it), 8N1, and no flow control of any kind. Another
    // program may have left DSR or CTS flow control on, and a write would then wait for a line
    // nobody raises. Read back, the rate the driver reports goes to `applied`.
    NativeLineWin::Outcome writeDcb(HANDLE handle, std::int32_t newRate, std::int32_t *applied);
};
