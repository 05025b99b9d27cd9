// SPDX-License-Identifier: MIT
#include "serial/commcontrol.h"

#include "serial/serialportdevice.h"
#include "texts/failures.h"
#include "train/fields.h"

#include <QMetaObject>
#include <QPointer>
#include <QRegularExpression>
#include <mutex>

// A device's background failure comes from its own thread, possibly while the port object is
// being destroyed on the window's thread; a QPointer alone cannot tell that safely. Each device's
// handler holds the token of the port object that opened it, and the destructor clears the token
// under its lock, so a failure either is posted before the object goes or finds it gone.
struct CommControl::Liveness
{
    std::mutex mutex;
    CommControl *port = nullptr;
};

CommControl::CommControl(SerialLines &lines, QObject *parent)
    : CommControl(SerialPortDevice::factory(lines), PortMap(), parent)
{}

CommControl::CommControl(DeviceFactory factory, PortMap map, QObject *parent)
    : QObject(parent)
    , m_factory(std::move(factory))
    , m_map(std::move(map))
    , m_alive(std::make_shared<Liveness>())
{
    m_alive->port = this;
}

// Releasing the port with the window: what was written still goes out.
CommControl::~CommControl()
{
    {
        std::lock_guard lock(m_alive->mutex);
        m_alive->port = nullptr;
    }
    if (m_device && m_device->isOpen())
        m_device->close();
}

std::optional<PortFailure> CommControl::setCommPort(qint16 number)
{
    if (portOpen())
        return OperatorText::numberChangedWhileOpen();
    if (number < 1)
        return OperatorText::portBelowOne(number);
    m_commPort = number;
    return std::nullopt;
}

qint32 CommControl::bitRateOf(const QString &settings)
{
    const auto rateText = Fields::rateTextOf(settings);
    return rateText ? Fields::bitRate(*rateText) : 0;
}

std::optional<PortFailure> CommControl::setSettings(const QString &settings)
{
    if (bitRateOf(settings) == 0) // quoted as typed: it may hold commas of its own
        return OperatorText::badBitRate(Fields::rateTextOf(settings).value_or(settings));
    m_settings = settings;
    return std::nullopt;
}

namespace {

std::optional<PortFailure> checkBufferSize(qint16 size)
{
    if (size < 1)
        return OperatorText::badQueueSize(size);
    return std::nullopt;
}

} // namespace

std::optional<PortFailure> CommControl::setOutBufferSize(qint16 size)
{
    if (auto failure = checkBufferSize(size))
        return failure;
    m_outBufferSize = size;
    return std::nullopt;
}

bool CommControl::portOpen() const
{
    return m_device && m_device->isOpen();
}

std::optional<PortFailure> CommControl::setPortOpen(bool open)
{
    if (open == portOpen())
        return std::nullopt;

    if (!open) {
        const auto device = std::move(m_device);
        m_openDevice.clear();
        return device->close();
    }

    const PortLocation where = m_map.locate(m_commPort);
    if (where.ended)
        return OperatorText::virtualPortEnded(m_commPort, where.link);
    if (!where.exists())
        return OperatorText::noSuchPort(m_commPort, where.tried, where.present);

    auto device = m_factory();
    device->setBackgroundFailureHandler([alive = m_alive](const PortFailure &failure) {
        std::lock_guard lock(alive->mutex);
        if (!alive->port)
            return;
        QPointer<CommControl> self(alive->port);
        QMetaObject::invokeMethod(
            alive->port,
            [self, failure] {
                if (self)
                    emit self->failedInBackground(failure);
            },
            Qt::QueuedConnection);
    });
    if (auto failure = device->open(where.device, bitRateOf(m_settings), m_dtr, m_rts))
        return failure;
    m_device = std::move(device);
    m_openDevice = where.device;
    return std::nullopt;
}

std::optional<PortFailure> CommControl::setDTREnable(bool on)
{
    m_dtr = on;
    if (portOpen())
        return m_device->setDtr(on);
    return std::nullopt;
}

std::optional<PortFailure> CommControl::setRTSEnable(bool on)
{
    m_rts = on;
    if (portOpen())
        return m_device->setRts(on);
    return std::nullopt;
}

std::optional<PortFailure> CommControl::setOutput(const QByteArray &bytes)
{
    return output().write(bytes);
}

PortOutput CommControl::output() const
{
    if (!portOpen())
        return {};
    return PortOutput(m_device, m_outBufferSize);
}

std::optional<PortFailure> PortOutput::write(const QByteArray &bytes) const
{
    if (!m_device)
        return OperatorText::portClosed();
    return m_device->write(bytes, m_limit);
}

PortLocation CommControl::locate(qint16 number) const
{
    return m_map.locate(number);
}
