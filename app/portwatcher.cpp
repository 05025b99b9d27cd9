// SPDX-License-Identifier: MIT
#include "app/portwatcher.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QFileInfo>
#include <QPromise>
#include <memory>
#include <utility>
#ifdef Q_OS_WIN
#include <functional>
#include <windows.h>
#endif

namespace {

#ifdef Q_OS_WIN
// Windows has no device folder to watch; it tells every top-level window of the thread when a
// device comes or goes (WM_DEVICECHANGE, DBT_DEVNODES_CHANGED). The program's window hears it.
class DeviceMessages final : public QAbstractNativeEventFilter
{
public:
    explicit DeviceMessages(std::function<void()> changed)
        : m_changed(std::move(changed))
    {}
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type == "windows_generic_MSG" &&
            static_cast<MSG *>(message)->message == WM_DEVICECHANGE)
            m_changed();
        return false;
    }

private:
    std::function<void()> m_changed;
};
#endif

} // namespace

PortWatcher::PortWatcher(QObject *parent)
    : QObject(parent)
{
    m_pool.setMaxThreadCount(1);
    m_settleTimer.setSingleShot(true);
    m_settleTimer.setInterval(kSettleMs);
    connect(&m_settleTimer, &QTimer::timeout, this, &PortWatcher::relocate);
    connect(&m_folders, &QFileSystemWatcher::directoryChanged, this, &PortWatcher::folderChanged);
    connect(&m_listing, &QFutureWatcherBase::finished, this, &PortWatcher::portsListed);
    connect(&m_monitor, &MonitorWatch::ended, this, &PortWatcher::relocate);
#ifdef Q_OS_WIN
    m_deviceMessages = std::make_unique<DeviceMessages>([this] { devicesChanged(); });
    QCoreApplication::instance()->installNativeEventFilter(m_deviceMessages.get());
#endif
}

// A listing still running goes on with the map's lister, which may use what its owner holds:
// it ends here, and the pool's thread with it.
PortWatcher::~PortWatcher()
{
    if (m_deviceMessages)
        QCoreApplication::instance()->removeNativeEventFilter(m_deviceMessages.get());
    m_pool.waitForDone();
}

void PortWatcher::setPortMap(const PortMap &map, const QString &deviceFolder)
{
    m_map = map;
    m_deviceFolder = deviceFolder;
    m_present.reset();
    if (!m_folders.directories().isEmpty())
        m_folders.removePaths(m_folders.directories());
    watchFolders();
    relocate();
}

void PortWatcher::setPortNumber(std::optional<qint16> number)
{
    m_number = number;
    m_settleTimer.start();
}

std::optional<PortLocation> PortWatcher::location() const
{
    if (!m_location || !m_number || m_location->number != *m_number)
        return std::nullopt;
    return m_location;
}

// The device folder (a USB adapter plugged in or out), the stable names of adapters, the link
// folder and the folder it is made in. Folders that appear later are added when their parent
// changes.
void PortWatcher::watchFolders()
{
    if (!m_map)
        return;
    const QString links = m_map->linkFolder();
    QStringList wanted{m_deviceFolder, m_deviceFolder + QStringLiteral("/serial/by-id"), links,
                       QFileInfo(links).absolutePath()};
    const QStringList watched = m_folders.directories();
    wanted.removeIf([&](const QString &folder) {
        return watched.contains(folder) || !QFileInfo(folder).isDir();
    });
    if (!wanted.isEmpty())
        m_folders.addPaths(wanted);
}

void PortWatcher::folderChanged(const QString &folder)
{
    watchFolders();
    if (folder.startsWith(m_deviceFolder))
        devicesChanged();
    else
        m_settleTimer.start();
}

void PortWatcher::devicesChanged()
{
    m_present.reset();
    m_listAgain = m_listing.isRunning();
    m_settleTimer.start();
}

void PortWatcher::relocate()
{
    m_settleTimer.stop();
    if (!m_map || !m_number)
        return;
    // The links are read here (cheap); the list of ports only where the map asks for it.
    bool listNeeded = false;
    const PortMap known(
        [&] {
            listNeeded = true;
            return m_present.value_or(QStringList());
        },
        m_map->linkFolder());
    const PortLocation where = known.locate(*m_number);
    if (listNeeded && !m_present) {
        listPorts(); // what was found before stays until the list is back
        return;
    }
    m_location = where;
    m_monitor.watch(where.link);
    emit locationChanged();
}

void PortWatcher::listPorts()
{
    if (m_listing.isRunning()) {
        m_listAgain = true;
        return;
    }
    ++m_listings;
    auto promise = std::make_shared<QPromise<QStringList>>();
    m_listing.setFuture(promise->future());
    promise->start();
    m_pool.start([promise, map = *m_map] {
        promise->addResult(map.presentPorts());
        promise->finish();
    });
}

void PortWatcher::portsListed()
{
    if (std::exchange(m_listAgain, false)) {
        listPorts();
        return;
    }
    m_present = m_listing.future().resultCount() > 0 ? m_listing.result() : QStringList();
    relocate();
}
