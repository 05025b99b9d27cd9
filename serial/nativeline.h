// SPDX-License-Identifier: MIT
#pragma once

#include "serial/linedriver.h"
#ifdef _WIN32
#include "serial/windowserrors.h" // what open()'s error means
#endif

#include <atomic>
#include <cstdint>
#include <memory>

// The native handle of a serial device, for what QSerialPort does badly here: non-blocking
// writes that never queue without bound, the driver's own queue, the drain before a close, exact
// rates, and modem lines on devices that have none. On Linux QSerialPort opens the device (its
// lock file) and this class drives the descriptor; on Windows the class opens the COM port
// itself (see open()). Every platform-specific call of the port layer lives behind this class
// (one file per platform). Standard C++ only, no Qt: the Windows file builds alone into a test
// program run under Wine.
class NativeLine final : public LineDriver
{
public:
    // What QSerialPort::handle() gives (a descriptor; a HANDLE on Windows).
#ifdef _WIN32
    using Handle = void *;
#else
    using Handle = int;
#endif

    // Drives a handle that its opener closes (after releaseHandle()).
    explicit NativeLine(Handle handle);
#ifdef _WIN32
    // Opens the COM port `name` ("COM3") exclusively and sets it up in full: the rate it has,
    // 8N1, no flow control of any kind, DTR and RTS as given. The line owns the
    // handle and closes it in releaseHandle(); no one restores the settings the port had before, so
    // no setting changes under the last bytes of a train and the next open starts with ours. Null
    // on failure, with Windows' error number in `error`.
    static std::unique_ptr<NativeLine> open(const wchar_t *name, bool dtr, bool rts,
                                            unsigned long *error);
#endif
    // Releases the handle (see releaseHandle()) if that was not done yet.
    ~NativeLine() override;

    Pushed push(const char *data, std::int64_t size) override;
    std::int64_t queued() const override;
    bool writeInFlight() const override;
    Status waitWritable(int timeoutMs) override;
    Status drain() override;
    void discardPending() override;
    Status setRate(std::int32_t rate, std::int32_t *applied) override;
    Status setModemLine(ModemLine line, bool on) override;
    Status claimExclusive() override;
    // Also: the terminal's exclusive flag outlives our descriptor while anyone else holds the
    // device open (a monitor on a pseudo-terminal) and would refuse our own next open; the
    // handle may be reused once closed. On Windows a call still under way on another thread is
    // ended and waited for, and a handle that open() opened is closed.
    void releaseHandle() override;
    int lastError() const override
    {
        return m_lastError.load();
    }

    // Whether the user may not open the device at `localPath` (a name in the file system's
    // encoding) at all; checked before the open. Never true on Windows.
    static bool accessDenied(const char *localPath);

#ifndef _WIN32
    // Whether `localPath` is the pseudo-terminal multiplexer (/dev/ptmx, /dev/pts/ptmx): it opens
    // as a terminal, but every open makes a new one that nobody reads, so bytes would go nowhere.
    static bool terminalMultiplexer(const char *localPath);

    // Any whole rate on the terminal at `handle`, the rest of its settings left as they are;
    // `applied` is what it reads back, `error` the system's error number on failure. The
    // monitor sets up the device it listens on with it too.
    static Status setExactRate(Handle handle, std::int32_t rate, std::int32_t *applied, int *error);
    // The rate the terminal runs at, any whole rate; 0 when it cannot tell.
    static std::int32_t rateOf(Handle handle);
#endif

private:
    struct State;
#ifdef _WIN32
    NativeLine(Handle handle, bool owned);
    bool m_owned = false;
#endif
    Handle m_handle;
    std::unique_ptr<State> m_state;
    std::atomic<int> m_lastError{0};
};
