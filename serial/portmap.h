// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Where a port number leads. On Windows N is COM<N>, there when Windows lists it. On Linux an
// operator's link <config>/vorlagen/com<N> wins; otherwise N counts the serial ports present,
// ordered ttyS*, ttyUSB*, ttyACM*, then the rest, each by number.
struct PortLocation
{
    qint16 number = 0;
    QString device;      // the real device, links resolved; empty when there is no such port
    QString tried;       // what was looked for, for the operator (a link path or a port name)
    QStringList present; // the ports that exist, for the operator; not looked up for a linked one
    bool exists() const { return !device.isEmpty(); }
};

class PortMap
{
public:
    // System locations of the serial ports present (as QSerialPortInfo lists them; on Windows
    // their names, COM<N>).
    using Lister = std::function<QStringList()>;
    // How a number names a port: COM<N> itself (Windows), or the links and counting.
    enum class Naming { Counted, ComNames };
#ifdef Q_OS_WIN
    static constexpr Naming kPlatformNaming = Naming::ComNames;
#else
    static constexpr Naming kPlatformNaming = Naming::Counted;
#endif

    // The system's ports and the per-user folder ($XDG_CONFIG_HOME/vorlagen).
    PortMap();
    PortMap(Lister lister, QString linkFolder, Naming naming = kPlatformNaming);

    // Lists the system's ports only where it needs them: to count, or to tell the operator what
    // exists when the number leads nowhere. A link that leads to a device needs no list.
    PortLocation locate(qint16 number) const;
    QStringList presentPorts() const
    {
        return m_lister ? m_lister() : QStringList();
    }
    // The folder of the links ($XDG_CONFIG_HOME/vorlagen unless given).
    QString linkFolder() const;

    // ttyS*, ttyUSB*, ttyACM*, then the rest; each group by the number at its end.
    static QStringList ordered(QStringList systemLocations);
    static QString defaultLinkFolder();
    static QStringList systemPorts();

private:
    Lister m_lister;
    QString m_linkFolder;
    Naming m_naming;
};
