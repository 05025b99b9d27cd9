// SPDX-License-Identifier: MIT
#pragma once

#include "serial/linedriver.h"

#include <atomic>
#include <cstdint>
#include <memory>

// The native handle of a serial device that QSerialPort opened, for what QSerialPort does
// badly here: non-blocking writes that never queue without bound, the driver's own queue, the
// drain before a close, exact rates, and modem lines on devices that have none. Every
// platform-specific call of the port layer lives behind this class (one file per platform).
// Standard C++ only, no Qt: the Windows file builds alone into a test program run under Wine.
class NativeLine final : public LineDriver
{
public:
    // What QSerialPort::handle() gives (a descriptor; a HANDLE on Windows).
#ifdef _WIN32
    using Handle = void *;
#else
    using Handle = int;
#endif

    explicit NativeLine(Handle handle);
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
    // handle may be reused once closed.
    void releaseHandle() override;
    int lastError() const override
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
