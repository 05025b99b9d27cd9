// SPDX-License-Identifier: MIT
#include "serial/portmap.h"

#include "serial/virtualport.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QStandardPaths>
#include <algorithm>
#include <limits>
#include <tuple>

namespace {

// The sort key of a system location: its group, the name before the trailing number, the number.
struct PortKey
{
    int group = 0;
    QString stem;
    qlonglong number = -1;
    QString name;
};

PortKey keyOf(const QString &location)
{
    static const QRegularExpression tail(QStringLiteral("^(.*?)([0-9]+)$"));
    PortKey key;
    key.name = QFileInfo(location).fileName();
    const auto match = tail.match(key.name);
    key.stem = match.hasMatch() ? match.captured(1) : key.name;
    if (match.hasMatch()) {
        bool ok = false;
        key.number = match.captured(2).toLongLong(&ok);
        if (!ok)
            key.number = std::numeric_limits<qlonglong>::max();
    }
    if (key.stem == QLatin1String("ttyS"))
        key.group = 0;
    else if (key.stem == QLatin1String("ttyUSB"))
        key.group = 1;
    else if (key.stem == QLatin1String("ttyACM"))
        key.group = 2;
    else
        key.group = 3;
    return key;
}

#ifndef Q_OS_WIN // COM<N> names the device itself there
// The real device behind a name; a name that leads nowhere stays as it is, so the open can say
// what was missing.
QString resolved(const QString &path)
{
    const QString real = QFileInfo(path).canonicalFilePath();
    return real.isEmpty() ? path : real;
}
#endif

} // namespace

PortMap::PortMap()
    : PortMap(&PortMap::systemPorts, QString())
{}

// An empty folder means the per-user default, looked up at every call so that a link made while
// the program runs counts at the next set-up.
PortMap::PortMap(Lister lister, QString linkFolder, Naming naming)
    : m_lister(std::move(lister))
    , m_linkFolder(std::move(linkFolder))
    , m_naming(naming)
{}

PortMap PortMap::toDevice(const QString &path)
{
    PortMap map{Lister(), QString()};
    map.m_device = QFileInfo(path).absoluteFilePath();
    return map;
}

QString PortMap::defaultLinkFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/vorlagen");
}

QStringList PortMap::systemPorts()
{
    QStringList locations;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
#ifdef Q_OS_WIN
        locations << info.portName(); // COM3, as the operator knows it (not \\.\COM3)
#else
        locations << info.systemLocation();
#endif
    }
    return locations;
}

QStringList PortMap::ordered(QStringList systemLocations)
{
    std::vector<std::pair<PortKey, QString>> keyed;
    keyed.reserve(systemLocations.size());
    for (const QString &location : systemLocations)
        keyed.emplace_back(keyOf(location), location);
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto &a, const auto &b) {
        const PortKey &x = a.first;
        const PortKey &y = b.first;
        return std::tie(x.group, x.stem, x.number, x.name) <
               std::tie(y.group, y.stem, y.number, y.name);
    });
    systemLocations.clear();
    for (const auto &entry : keyed)
        systemLocations << entry.second;
    return systemLocations;
}

QString PortMap::linkFolder() const
{
    return m_linkFolder.isEmpty() ? defaultLinkFolder() : m_linkFolder;
}

// A link (or a device named by path): the device it leads to, or none with the reason.
void PortMap::followLink(const QString &link, PortLocation &where) const
{
    const QFileInfo linkInfo(link);
    where.tried = link;
    if (linkInfo.isSymLink()) {
        where.link = link;
        where.tried = QStringLiteral("%1 -> %2").arg(link, QFile::symLinkTarget(link));
    }
    if (VirtualPort::inspect(link) == VirtualPort::Link::Ended) {
        where.ended = true;
        where.tried = link;
        return;
    }
    // A link to nowhere, or one that points back at itself, leads to no device.
    where.device = linkInfo.exists() ? linkInfo.canonicalFilePath() : QString();
}

// Listing the ports costs milliseconds of CPU (every device's details are read), so it is done
// only where the answer needs it.
PortLocation PortMap::locate(qint16 number) const
{
    PortLocation where;
    where.number = number;
    if (number < 1) {
        where.tried = QStringLiteral("broj %1").arg(number);
        where.present = ordered(presentPorts());
        return where;
    }
    if (!m_device.isEmpty()) {
        followLink(m_device, where);
        // One that is not there is named as it was given, so that the open says it is missing.
        if (where.device.isEmpty() && !where.ended)
            where.device = m_device;
        return where;
    }

    if (m_naming == Naming::ComNames) {
        // COM<N> is the device, there when Windows lists it (the device map and the port class,
        // as QSerialPortInfo reads them); the list also tells the operator what there is.
        where.tried = QStringLiteral("COM%1").arg(number);
        where.present = ordered(presentPorts());
        if (where.present.contains(where.tried, Qt::CaseInsensitive))
            where.device = where.tried;
        return where;
    }
#ifndef Q_OS_WIN
    const QString link = QDir(linkFolder()).filePath(QStringLiteral("com%1").arg(number));
    const QFileInfo linkInfo(link);
    if (linkInfo.isSymLink() || linkInfo.exists()) {
        // The operator named this number; a link to nowhere is a missing port, not a reason to
        // fall back to counting.
        followLink(link, where);
        if (!where.exists() && !where.ended)
            where.present = ordered(presentPorts());
        return where;
    }
    where.present = ordered(presentPorts());
    if (number <= where.present.size())
        where.device = resolved(where.present.at(number - 1));
    where.tried = QStringLiteral("%1 ili %2. prisutan port").arg(link).arg(number);
#endif
    return where;
}

QList<PortEntry> PortMap::available() const
{
    QList<PortEntry> entries;
    const QStringList present = ordered(presentPorts());
#ifdef Q_OS_WIN
    // The system location is \\.\COM<N>; the number is the name's.
    static const QRegularExpression com(QStringLiteral("^COM([0-9]+)$"));
    for (const QString &port : present) {
        const QString name = port.section(QLatin1Char('\\'), -1);
        const auto match = com.match(name);
        const int number = match.hasMatch() ? match.captured(1).toInt() : 0;
        if (number >= 1 && number <= 32767)
            entries.append({qint16(number), name, QString()});
    }
#else
    // The numbers a link names: "com" and the number as the set-up writes it.
    static const QRegularExpression name(QStringLiteral("^com([1-9][0-9]{0,4})$"));
    QMap<int, QString> links;
    const QDir folder(linkFolder());
    for (const QString &file : folder.entryList(QDir::AllEntries | QDir::System | QDir::Hidden)) {
        const auto match = name.match(file);
        if (match.hasMatch() && match.captured(1).toInt() <= 32767)
            links.insert(match.captured(1).toInt(), folder.filePath(file));
    }
    for (qsizetype i = 0; i < present.size() && i < 32767; ++i) {
        if (!links.contains(int(i) + 1))
            entries.append({qint16(i + 1), resolved(present.at(i)), QString()});
    }
    for (auto it = links.cbegin(); it != links.cend(); ++it) {
        PortLocation where;
        followLink(it.value(), where);
        if (where.exists())
            entries.append({qint16(it.key()), where.device, it.value()});
    }
#endif
    std::sort(entries.begin(), entries.end(),
              [](const PortEntry &a, const PortEntry &b) { return a.number < b.number; });
    return entries;
}
