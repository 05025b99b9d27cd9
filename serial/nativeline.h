#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

// The native handle of a serial device that QSerialPort opened, for what QSerialPort does
// badly here: non-blocking writes that never queue without bound, the driver's own queue, the
// drain before a close, exact rates, and modem lines on devices that have none. Every
// platform-specific call of the port layer lives behind this class (one file per platform).
// Standard C++ only, no Qt: the Windows file builds alone into a test program run under Wine.
//
// No event loop: any thread may call. push(), queued(), writeInFlight() and the line setters
// may run while another thread sits in waitWritable() or drain() on the same handle.
class NativeLine
{
public:
    // What QSerialPort::handle() gives (a descriptor; a HANDLE on Windows).
#ifdef _WIN32
    using Handle = void *;
#else
    using Handle = int;
#endif

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

    explicit NativeLine(Handle handle);
    // Detaches (see detach()) if that was not done yet.
    ~NativeLine();
    NativeLine(const NativeLine &) = delete;
    NativeLine &operator=(const NativeLine &) = delete;

    // As much of `data` as the driver takes without waiting, in order.
    Pushed push(const char *data, std::int64_t size);
    // Bytes in the driver's transmit queue (0 when the platform cannot tell).
    std::int64_t queued() const;
    // Whether bytes that push() took are still on their way into the driver. On Windows a
    // write in flight is cancelled when the process's handles close, so an exit must wait for
    // this (bounded) besides its own queue; elsewhere push() hands bytes over at once.
    bool writeInFlight() const;
    // Waits at most `timeoutMs` until push() can take something: Ok, WouldBlock (timed out),
    // Gone, or Failed (a write in flight failed otherwise; push() says so again).
    Status waitWritable(int timeoutMs);
    // Blocks until everything handed to the driver has left the line.
    Status drain();
    // 8N1 stays; the rate changes to `rate`, `applied` tells what the device reports back.
    Status setRate(std::int32_t rate, std::int32_t *applied);
    Status setModemLine(ModemLine line, bool on);
    // Other programs (that honour it) cannot open the device while we hold it.
    Status claimExclusive();
    // Right before the device is closed: gives the exclusive claim up (the terminal's flag
    // outlives our descriptor while anyone else holds the device open, a monitor on a
    // pseudo-terminal, and would refuse our own next open), ends a write still in flight, and
    // never touches the handle again (it may be reused once closed). No other call may run
    // during or after it; they answer Gone.
    void detach();
    // The platform's last error number, for descriptions.
    int lastError() const
    {
        return m_lastError.load();
    }

    // Whether the user may not open the device at `localPath` (a name in the file system's
    // encoding) at all; checked before the open. Never true on Windows.
    static bool accessDenied(const char *localPath);

private:
    struct State;
    Handle m_handle;
    std::unique_ptr<State> m_state;
    std::atomic<int> m_lastError{0};
};
