// SPDX-License-Identifier: MIT
#include "app/portwatcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <mutex>

using namespace Qt::StringLiterals;

class tst_PortWatcher : public QObject
{
    Q_OBJECT

private slots:
    void locationFollowsTheFolders();
};

// Where the port number leads, without polling and without a widget: a device or a link that
// appears is seen at once; the ports are listed off the watcher's thread, once per change of the
// devices, and never for a number that a link names.
void tst_PortWatcher::locationFollowsTheFolders()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid() && QDir(dir.path()).mkpath(u"dev"_s) &&
            QDir(dir.path()).mkpath(u"config"_s));
    const QString dev = QFileInfo(dir.filePath(u"dev"_s)).canonicalFilePath();
    const QString links = dir.filePath(u"config/vorlagen"_s); // made later
    QVERIFY(QFile(dev + u"/target"_s).open(QIODevice::WriteOnly));
    std::mutex lock;
    QStringList ports{u"/dev/ttyUSB0"_s};
    std::atomic<bool> onOwnThread{false};
    PortWatcher watcher;
    const auto list = [&] {
        onOwnThread =
            onOwnThread || QThread::currentThread() == QCoreApplication::instance()->thread();
        std::lock_guard guard(lock);
        return ports;
    };
    watcher.setPortMap(PortMap(list, links), dev);
    // The device the number leads to, "none", "ended", or "?" until the watcher has looked.
    const auto leadsTo = [&] {
        const auto where = watcher.location();
        return !where            ? u"?"_s
               : where->ended    ? u"ended"_s
               : where->exists() ? where->device
                                 : u"none"_s;
    };
    watcher.setPortNumber(1);
    QTRY_COMPARE(leadsTo(), u"/dev/ttyUSB0"_s);
    watcher.setPortNumber(2);
    QTRY_COMPARE(leadsTo(), u"none"_s);
    QCOMPARE(watcher.location()->present, QStringList{u"/dev/ttyUSB0"_s});
    QCOMPARE(watcher.portListings(), 1); // a new number counts the list it has

    { // an adapter plugged in
        std::lock_guard guard(lock);
        ports << u"/dev/ttyUSB1"_s;
    }
    QVERIFY(QFile(dev + u"/ttyUSB1"_s).open(QIODevice::WriteOnly));
    QTRY_COMPARE(leadsTo(), u"/dev/ttyUSB1"_s);
    QCOMPARE(watcher.portListings(), 2);

    // A link made while the program runs, in a folder that did not exist: no listing for it,
    // not even after the devices change.
    watcher.setPortNumber(7);
    QTRY_COMPARE(leadsTo(), u"none"_s);
    QVERIFY(QDir().mkpath(links));
    QVERIFY(QFile::link(dev + u"/target"_s, links + u"/com7"_s));
    QTRY_COMPARE(leadsTo(), dev + u"/target"_s);
    QVERIFY(QFile(dev + u"/ttyUSB2"_s).open(QIODevice::WriteOnly));
    QVERIFY(QFile::remove(dev + u"/target"_s)); // the link now leads nowhere
    QTRY_COMPARE(leadsTo(), u"none"_s);
    QCOMPARE(watcher.portListings(), 3); // only to tell what exists
    QVERIFY(!onOwnThread);

    // A listing still running when its watcher goes is over before the watcher is: the lister
    // may use what its owner holds.
    std::atomic<bool> listed{false};
    {
        PortWatcher slow;
        slow.setPortNumber(1);
        const auto listSlowly = [&] {
            QThread::msleep(100); // a slow system
            listed = true;
            return QStringList();
        };
        slow.setPortMap(PortMap(listSlowly, links), dev);
    }
    QVERIFY(listed);

#ifdef VORLAGEN_MONITOR
    // A virtual port's monitor killed by kill -9: nothing changes in the folders, and the
    // watcher looks again all the same.
    QProcess monitor;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"XDG_CONFIG_HOME"_s, dir.filePath(u"config"_s));
    monitor.setProcessEnvironment(environment);
    monitor.start(QStringLiteral(VORLAGEN_MONITOR), {u"8"_s});
    watcher.setPortNumber(8);
    QTRY_VERIFY_WITH_TIMEOUT(leadsTo().startsWith(u"/dev/pts/"_s), 20000);
    monitor.kill();
    QVERIFY(monitor.waitForFinished());
    QTRY_COMPARE(leadsTo(), u"ended"_s);
#endif
}

QTEST_GUILESS_MAIN(tst_PortWatcher)
#include "tst_portwatcher.moc"
