// SPDX-License-Identifier: MIT
#pragma once

#include "serial/portdevice.h"
#include "serial/portmap.h"
#include "texts/portfailure.h"

#include <QObject>
#include <functional>
#include <memory>
#include <optional>

class SerialLines;

// The window's serial port object. It keeps the properties the send commands rely on (port
// number, settings text, queue sizes, line flags) whether the port is open or not, and drives one
// PortDevice per open. Every setter returns the failure it ran into, if any; nothing is shown
// from here. It lives on the window's thread and is called only there; the timer's thread
// writes through output() instead.
class CommControl : public QObject
{
    Q_OBJECT

public:
    using DeviceFactory = std::function<std::unique_ptr<PortDevice>()>;

    // The system's ports; the devices are lines of `lines`.
    explicit CommControl(SerialLines &lines, QObject *parent = nullptr);
    CommControl(DeviceFactory factory, PortMap map, QObject *parent = nullptr);
    ~CommControl() override;

    qint16 commPort() const { return m_commPort; }
    std::optional<PortFailure> setCommPort(qint16 number);

    QString settings() const { return m_settings; }
    std::optional<PortFailure> setSettings(const QString &settings);

    qint16 outBufferSize() const { return m_outBufferSize; }
    std::optional<PortFailure> setOutBufferSize(qint16 size);

    bool portOpen() const;
    std::optional<PortFailure> setPortOpen(bool open);

    bool DTREnable() const { return m_dtr; }
    std::optional<PortFailure> setDTREnable(bool on);
    bool RTSEnable() const { return m_rts; }
    std::optional<PortFailure> setRTSEnable(bool on);

    // One write of the whole train, bytes unchanged.
    std::optional<PortFailure> setOutput(const QByteArray &bytes);
    // The open device for writes from another thread; empty while closed.
    PortOutput output() const;

    // Where a number leads now (for the window's display); the open device while open.
    PortLocation locate(qint16 number) const;
    const PortMap &portMap() const { return m_map; }
    QString openDevice() const { return portOpen() ? m_openDevice : QString(); }

    // The bit rate of a settings text "<rate>,n,8,1", or 0 when it is not one we can run (the
    // rule is the "b/s:" field's, train/fields.h).
    static qint32 bitRateOf(const QString &settings);

signals:
    // A failure found after the call that caused it returned (a device lost while draining).
    // Emitted on this object's thread.
    void failedInBackground(const PortFailure &failure);

private:
    struct Liveness;

    DeviceFactory m_factory;
    PortMap m_map;
    std::shared_ptr<PortDevice> m_device; // shared with output(); may be closed by its writer
    QString m_openDevice;
    qint16 m_commPort = 1;
    QString m_settings = QStringLiteral("9600,n,8,1");
    qint16 m_outBufferSize = 512;
    bool m_dtr = false;
    bool m_rts = false;
    std::shared_ptr<Liveness> m_alive; // cleared when this object goes
};
