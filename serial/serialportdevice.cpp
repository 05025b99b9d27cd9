// SPDX-License-Identifier: MIT
#include "serial/serialportdevice.h"

#include "serial/nativeline.h"
#include "serial/portbusy.h"
#include "serial/serialline.h"
#include "serial/seriallines.h"
#include "texts/failures.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <type_traits>
#include <utility>

// The device side of a line: QSerialPort opens and configures the device, NativeLine drives it,
// and a SerialLine (serialline.h) queues, drains and closes it.

namespace {

static_assert(
    std::is_same_v<decltype(std::declval<const QSerialPort &>().handle()), NativeLine::Handle>,
    "NativeLine takes QSerialPort's native handle as it is");

#ifndef Q_OS_WIN
// What a failed QSerialPort::open of `path` means, as a PortError number (not on Windows, where
// the line opens the port itself).
int openFailureNumber(const QString &path, QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return PortError::NoSuchPort;
    case QSerialPort::PermissionError:
        // Access itself was checked before; what is left is another holder: the lock file or
        // TIOCEXCL (EBUSY), on Windows any other open (ERROR_ACCESS_DENIED).
        return NativeLine::accessDenied(QFile::encodeName(path).constData())
                   ? PortError::PermissionDenied
                   : PortError::PortInUse;
    default:
        return PortError::NotASerialPort;
    }
}
#endif

// The remedy depends on who the device belongs to.
PortFailure permissionFailure(const QString &path)
{
    const QFileInfo device(path);
    return OperatorText::permissionDenied(path, device.owner(), device.group());
}

} // namespace

SerialPortDevice::SerialPortDevice(SerialLines &lines)
    : m_lines(lines)
{}

std::function<std::unique_ptr<PortDevice>()> SerialPortDevice::factory(SerialLines &lines)
{
    return [&lines] { return std::make_unique<SerialPortDevice>(lines); };
}

// Program exit or a window that goes away: the same close, nothing discarded.
SerialPortDevice::~SerialPortDevice()
{
    close();
}

std::optional<PortFailure> SerialPortDevice::open(const QString &path, qint32 baudRate, bool dtr,
                                                  bool rts)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_line)
            return OperatorText::alreadyOpen(m_line->path());
        if (baudRate < 1)
            return OperatorText::rateNotAccepted(path, baudRate, 0);
        auto taken = m_lines.takeOver(path, baudRate, m_handler);
        if (taken.failure)
            return taken.failure;
        if (taken.line)
            m_line = std::move(taken.line);
        else if (auto failure = openFresh(path, baudRate, dtr, rts))
            return failure;
    }

    // The open left the lines as the system has them (Linux raises both; on Windows our own
    // open set them already, and a line taken over keeps what it had): now they follow the
    // flags.
    auto failure = setDtr(dtr);
    if (!failure)
        failure = setRts(rts);
    if (failure) {
        std::lock_guard lock(m_mutex);
        if (m_line)
            m_line->release();
        m_line.reset();
    }
    return failure;
}

std::optional<PortFailure> SerialPortDevice::openFresh(const QString &path, qint32 baudRate,
                                                       bool dtr, bool rts)
{
    if (NativeLine::accessDenied(QFile::encodeName(path).constData()))
        return permissionFailure(path);
#ifdef Q_OS_WIN
    // The line opens and closes the COM port itself (see NativeLine::open): no QSerialPort, so
    // nothing puts the port's earlier settings back under the last bytes of a train.
    std::unique_ptr<QSerialPort> port;
    unsigned long error = 0;
    std::unique_ptr<LineDriver> native =
        NativeLine::open(reinterpret_cast<const wchar_t *>(path.utf16()), dtr, rts, &error);
    if (!native) {
        switch (WindowsError::openRefusal(error)) {
        case WindowsError::OpenRefusal::NoSuchPort:
            return OperatorText::deviceMissing(path);
        case WindowsError::OpenRefusal::InUse:
            return OperatorText::portBusy(path);
        default:
            return OperatorText::notASerialPort(path);
        }
    }
#else
    static_cast<void>(dtr); // Linux raises both at every open; open() sets them right after
    static_cast<void>(rts);
    if (NativeLine::terminalMultiplexer(QFile::encodeName(path).constData()))
        return OperatorText::notASerialPort(path);
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(path);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    // Write only: with nothing to read, a hung-up device cannot flood us with read errors.
    if (!port->open(QIODevice::WriteOnly)) {
        switch (openFailureNumber(path, port->error())) {
        case PortError::NoSuchPort:
            return OperatorText::deviceMissing(path);
        case PortError::PermissionDenied:
            return permissionFailure(path);
        case PortError::PortInUse:
            return portBusyFailure(path);
        default:
            return OperatorText::notASerialPort(path);
        }
    }
    auto native = std::make_unique<NativeLine>(port->handle());
#endif
    std::optional<PortFailure> failure;
    m_line = m_lines.start(path, std::move(native), std::move(port), baudRate, m_handler, &failure);
    return failure;
}

bool SerialPortDevice::isOpen() const
{
    std::lock_guard lock(m_mutex);
    return m_line != nullptr;
}

std::optional<PortFailure> SerialPortDevice::forgetIfGoneLocked(std::optional<PortFailure> failure)
{
    // A dead device, or one left at a rate that the new set-up could not apply: either way
    // nothing more of this open may reach the line.
    if (failure && m_line &&
        (failure->number == PortError::DeviceGone ||
         failure->number == PortError::RateNotAccepted)) {
        m_line->release();
        m_line.reset();
    }
    return failure;
}

std::optional<PortFailure> SerialPortDevice::setModemLine(LineDriver::ModemLine which, bool on)
{
    std::lock_guard lock(m_mutex);
    if (!m_line)
        return std::nullopt;
    return forgetIfGoneLocked(m_line->setModemLine(which, on));
}

std::optional<PortFailure> SerialPortDevice::setDtr(bool on)
{
    return setModemLine(LineDriver::ModemLine::Dtr, on);
}

std::optional<PortFailure> SerialPortDevice::setRts(bool on)
{
    return setModemLine(LineDriver::ModemLine::Rts, on);
}

std::optional<PortFailure> SerialPortDevice::write(const QByteArray &bytes, qint64 limit)
{
    std::lock_guard lock(m_mutex);
    if (!m_line)
        return OperatorText::portClosed();
    return forgetIfGoneLocked(m_line->write(bytes, limit));
}

qint64 SerialPortDevice::bytesWaiting() const
{
    std::lock_guard lock(m_mutex);
    return m_line ? m_line->waiting() : 0;
}

std::optional<PortFailure> SerialPortDevice::close()
{
    std::lock_guard lock(m_mutex);
    if (!m_line)
        return std::nullopt;
    return std::exchange(m_line, nullptr)->release();
}

void SerialPortDevice::setBackgroundFailureHandler(FailureHandler handler)
{
    std::lock_guard lock(m_mutex);
    m_handler = std::move(handler);
}
