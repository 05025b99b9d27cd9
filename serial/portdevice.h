// SPDX-License-Identifier: MIT
#pragma once

#include "serial/portfailure.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

// One open of one serial device, as the port object drives it: 8 data bits, no parity, one stop
// bit, raw, no flow control. The real one sits on QSerialPort and the native handle; tests use a
// fake. Calls never overlap (the caller serialises them), but may come from the window's thread
// or from the sender thread.
class PortDevice
{
public:
    virtual ~PortDevice() = default;

    // Opens the device at `path` (already resolved, no links) at `baudRate` b/s and then sets DTR
    // and RTS as given. A device without modem lines takes the line levels silently.
    virtual std::optional<PortFailure> open(const QString &path, qint32 baudRate, bool dtr,
                                            bool rts) = 0;
    virtual bool isOpen() const = 0;

    // Line levels while open. A device without modem lines is not a failure.
    virtual std::optional<PortFailure> setDtr(bool on) = 0;
    virtual std::optional<PortFailure> setRts(bool on) = 0;

    // Hands all of `bytes` to the line in one go, unchanged. Fails with PortError::QueueFull,
    // writing nothing, when more than `limit` bytes would then be waiting to go out (ours plus
    // the driver's). A failed device fails once with PortError::DeviceGone and is closed.
    virtual std::optional<PortFailure> write(const QByteArray &bytes, qint64 limit) = 0;

    // Bytes handed over but not yet gone out, as far as the platform can tell.
    virtual qint64 bytesWaiting() const = 0;

    // Closes without discarding anything: everything written still reaches the line. Returns at
    // once; the drain goes on in the background, also after the device object is destroyed.
    // Destroying an open device closes it the same way. A failure that the close can tell at once
    // is returned; one found later during the drain goes to the handler given to the device.
    virtual std::optional<PortFailure> close() = 0;

    // Where a failure found after close() returned goes (a device that vanished while draining).
    // It may be called from any thread.
    using FailureHandler = std::function<void(const PortFailure &)>;
    virtual void setBackgroundFailureHandler(FailureHandler handler) { (void)handler; }
};
