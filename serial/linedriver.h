// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

// What the line worker asks of an open serial device: non-blocking writes, the driver's own
// queue, the drain, the rate and the modem lines. NativeLine is the real one; tests drive the
// worker through a fake. Standard C++ only, no Qt (NativeLine builds alone under Wine).
//
// No event loop: any thread may call. push(), queued(), writeInFlight() and the line setters
// may run while another thread sits in waitWritable() or drain() on the same line.
class LineDriver
{
public:
    enum class Status {
        Ok,
        WouldBlock,  // the driver takes nothing more just now
        Unsupported, // the device has no such thing (modem lines on a pseudo-terminal)
        Gone,        // hung up, unplugged: the device will never work again
        Failed,
    };
    struct Pushed
    {
        std::int64_t bytes = 0; // taken by the driver
        Status status = Status::Ok;
    };
    enum class ModemLine { Dtr, Rts };

    LineDriver() = default;
    virtual ~LineDriver() = default;
    LineDriver(const LineDriver &) = delete;
    LineDriver &operator=(const LineDriver &) = delete;

    // As much of `data` as the driver takes without waiting, in order.
    virtual Pushed push(const char *data, std::int64_t size) = 0;
    // Bytes in the driver's transmit queue (0 when the platform cannot tell); on Windows a write
    // still on its way into a driver that does not count it counts whole.
    virtual std::int64_t queued() const = 0;
    // Whether bytes that push() took are still on their way into the driver. On Windows a
    // write in flight is cancelled when the process's handles close, so an exit must wait for
    // this (bounded) besides its own queue; elsewhere push() hands bytes over at once.
    virtual bool writeInFlight() const = 0;
    // Waits at most `timeoutMs` until push() can take something: Ok, WouldBlock (timed out),
    // Gone, or Failed (a write in flight failed otherwise; push() says so again).
    virtual Status waitWritable(int timeoutMs) = 0;
    // Blocks until everything handed to the driver has left the line: only then may a setting
    // change (a new rate, the close) without touching the last bits. (Windows has no call that
    // tells; there the driver's flush is followed by the time the bytes need at the rate.)
    virtual Status drain() = 0;
    // Drops what the driver still holds, which also ends a drain() under way on another thread:
    // the program is ending and its grace time is over.
    virtual void discardPending() = 0;
    // 8N1 stays; the rate changes to `rate`, `applied` tells what the device reports back.
    virtual Status setRate(std::int32_t rate, std::int32_t *applied) = 0;
    virtual Status setModemLine(ModemLine line, bool on) = 0;
    // Other programs (that honour it) cannot open the device while we hold it.
    virtual Status claimExclusive() = 0;
    // Right before the device is closed: gives the exclusive claim up, ends a write still in
    // flight, and never touches the device again. No other call may run during or after it;
    // they answer Gone.
    virtual void releaseHandle() = 0;
    // The platform's last error number, for descriptions.
    virtual int lastError() const = 0;
};
