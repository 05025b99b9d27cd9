// SPDX-License-Identifier: MIT
#pragma once

#include "serial/linedriver.h"
#include "serial/portdevice.h"

#include <functional>
#include <memory>
#include <mutex>

class SerialLine;
class SerialLines;

// The real device: QSerialPort opens and configures it (8N1, no flow control, write only, its
// lock file), the native handle does the rest (see NativeLine). One open device is a SerialLine
// of `lines`, which owns it with its worker and drains and closes it after the close; see
// serialline.h for how a close and a new open of the same device meet.
//
// open() runs on the owner's thread (it opens the QSerialPort there); the other calls may come
// from any thread: the device locks itself.
class SerialPortDevice : public PortDevice
{
public:
    explicit SerialPortDevice(SerialLines &lines);
    ~SerialPortDevice() override;
    // Makes devices over `lines`, one per open.
    static std::function<std::unique_ptr<PortDevice>()> factory(SerialLines &lines);
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

private:
    // No line of ours has `path`: opens the device and starts its line.
    std::optional<PortFailure> openFresh(const QString &path, qint32 baudRate, bool dtr, bool rts);
    std::optional<PortFailure> forgetIfGoneLocked(std::optional<PortFailure> failure);
    std::optional<PortFailure> setModemLine(LineDriver::ModemLine which, bool on);

    SerialLines &m_lines;
    mutable std::mutex m_mutex;
    std::shared_ptr<SerialLine> m_line;
    FailureHandler m_handler;
};
