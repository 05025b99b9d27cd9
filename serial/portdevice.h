// SPDX-License-Identifier: MIT
#pragma once

#include "texts/portfailure.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

// One open of one serial device, as the port object drives it: 8 data bits, no parity, one stop
// bit, raw, no flow control. The real one sits on QSerialPort and the native handle; tests use a
// fake. open() comes from the thread that owns the program's lines (the window's); write() may
// come from the timer's thread too (see PortOutput). Callers serialise their calls (the sender's
// lock); the real device also locks itself.
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

// The open device as the send routine writes to it, from whichever thread runs it (the window's
// for "Jednom", the timer's for a tick): one write of the whole train, bound by the transmit
// queue's size in force at the open. It holds the device, not the port object, so the timer's
// thread never calls into a QObject of another thread. Empty while the port is closed.
class PortOutput
{
public:
    PortOutput() = default;
    PortOutput(std::shared_ptr<PortDevice> device, qint64 limit)
        : m_device(std::move(device))
        , m_limit(limit)
    {}

    explicit operator bool() const { return m_device != nullptr; }
    // A closed port (an empty output) refuses the write.
    std::optional<PortFailure> write(const QByteArray &bytes) const;
    // Closes the device as the port's close would, without discarding anything.
    void close() const
    {
        if (m_device)
            m_device->close();
    }

private:
    std::shared_ptr<PortDevice> m_device;
    qint64 m_limit = 0;
};
