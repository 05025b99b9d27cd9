// SPDX-License-Identifier: MIT
#pragma once

#include "serial/portmap.h"
#include "serial/virtualport.h"

#include <QFileSystemWatcher>
#include <QFutureWatcher>
#include <QObject>
#include <QThreadPool>
#include <QTimer>
#include <memory>
#include <optional>

class QAbstractNativeEventFilter;

// Tells where a port number leads, as the port object finds it, and tells again when that
// changes: an adapter plugged in or out, a link made or removed, a virtual port's monitor ended.
// Nothing is polled: the device folder, its serial/by-id and the link folder are watched (on
// Windows the system's device-change message is), and one look follows a burst of changes or of
// numbers (kSettleMs). A look reads the number's link (cheap) and needs the map's list of ports
// (slow to make) only to count or to say what exists; the list is made again only after the
// devices changed.
//
// Threads: the watcher belongs to the thread that made it (the window's); its timers, folder
// watches, monitor watch, device messages and signals all run there. The one exception is the
// map's lister: a listing runs on the watcher's own pool of one thread, and its result comes
// back to the watcher's thread. The destructor waits for a listing still running and the pool's
// thread ends with the watcher. So the lister must be safe to call from that thread, and may use
// what its owner holds for as long as the watcher lives.
class PortWatcher : public QObject
{
    Q_OBJECT

public:
    // One look at the ports after a burst of numbers or of device changes.
    static constexpr int kSettleMs = 150;

    explicit PortWatcher(QObject *parent = nullptr);
    ~PortWatcher() override;
    PortWatcher(const PortWatcher &) = delete;
    PortWatcher &operator=(const PortWatcher &) = delete;

    // Where port numbers lead, and the folder whose changes mean devices came or went.
    void setPortMap(const PortMap &map, const QString &deviceFolder = QStringLiteral("/dev"));
    // The number to follow; none while "Port:" holds no number the set-up would look for.
    void setPortNumber(std::optional<qint16> number);
    std::optional<qint16> portNumber() const { return m_number; }
    // Where the number leads, as last looked; none until the first look at this number is done.
    std::optional<PortLocation> location() const;
    // How often the ports were listed, for tests and the benchmark.
    int portListings() const { return m_listings; }

signals:
    // location() may have changed.
    void locationChanged();

private:
    void relocate();
    void listPorts();
    void portsListed();
    void folderChanged(const QString &folder);
    void devicesChanged();
    void watchFolders();

    std::optional<qint16> m_number;
    std::optional<PortLocation> m_location; // may be for an earlier number
    std::optional<PortMap> m_map;
    QString m_deviceFolder;
    std::optional<QStringList> m_present; // the map's ports as last listed; empty when stale
    QThreadPool m_pool;                   // the listing's one thread
    QFutureWatcher<QStringList> m_listing;
    bool m_listAgain = false; // the devices changed while a listing ran
    int m_listings = 0;
    QFileSystemWatcher m_folders;
    std::unique_ptr<QAbstractNativeEventFilter> m_deviceMessages; // Windows
    MonitorWatch m_monitor; // a virtual port's monitor can end without a trace in the folders
    QTimer m_settleTimer;
};
