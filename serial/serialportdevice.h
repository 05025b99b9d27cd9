// SPDX-License-Identifier: MIT
#pragma once

#include "serial/portdevice.h"

#include <chrono>
#include <functional>
#include <memory>

class SerialLine;

// The real device: QSerialPort opens and configures it (8N1, no flow control, write only, its
// lock file), the native handle does the rest (see NativeLine). One open device is a
// SerialLine, shared with a background worker that pushes what the driver could not take at
// once and drains the line after a close; see serialline.h for how a close and a new open of
// the same device meet.
class SerialPortDevice : public PortDevice
{
public:
    SerialPortDevice();
    ~SerialPortDevice() override;
    SerialPortDevice(const SerialPortDevice &) = delete;
    SerialPortDevice &operator=(const SerialPortDevice &) = delete;

    std::optional<PortFailure> open(const QString &path, qint32 baudRate, bool dtr,
                                    bool rts) override;
    bool isOpen() const override;
    std::optional<PortFailure> setDtr(bool on) override;
    std::optional<PortFailure> setRts(bool on) override;
    std::optional<PortFailure> write(const QByteArray &bytes, qint64 limit) override;
    qint64 bytesWaiting() const override;
    std::optional<PortFailure> close() override;
    void setBackgroundFailureHandler(FailureHandler handler) override;

    // Devices of this process that are open or still draining (closed for good once they are
    // no longer counted).
    static int linesInUse();

    // The end of the program, whichever way it ends: waits until every line of this process (open
    // or still draining) has nothing left to send, at most `grace` and only as long as `hurry`
    // says no, then gives up each exclusive claim and closes each device, which also releases
    // its lock file. What has not left by then is dropped. Call it after the port objects are
    // gone, on the thread that opened the ports (QSerialPort belongs to it), before the process
    // ends; if a program never calls it, it runs at exit().
    static void finishAll(std::chrono::milliseconds grace = kExitGrace,
                          const std::function<bool()> &hurry = {});
    static constexpr std::chrono::milliseconds kExitGrace{2000};

private:
    // No line of this process has `path`: opens the device and starts its line.
    std::optional<PortFailure> openFresh(const QString &path, qint32 baudRate);
    std::optional<PortFailure> forgetIfGone(std::optional<PortFailure> failure);

    std::shared_ptr<SerialLine> m_line;
    FailureHandler m_handler;
};
