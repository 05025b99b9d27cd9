// SPDX-License-Identifier: MIT
#include "app/portwatcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <mutex>

#ifdef Q_OS_LINUX
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

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
    watcher.setPortMap(PortMap(
                           [&] {
                               onOwnThread =
                                   onOwnThread || QThread::currentThread() ==
                                                      QCoreApplication::instance()->thread();
                               std::lock_guard guard(lock);
                               return ports;
                           },
                           links),
                       dev);
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
        slow.setPortMap(PortMap(
                            [&] {
                                QThread::msleep(100); // a slow system
                                listed = true;
                                return QStringList();
                            },
                            links),
                        dev);
    }
    QVERIFY(listed);

#ifdef Q_OS_LINUX
    // A virtual port's link as vorlagen-monitor makes it, held by a child that then dies as by
    // kill -9: nothing changes in the folders, and the watcher looks again all the same.
    const int terminal = ::open(QFile::encodeName(dev + u"/ttyUSB2"_s), O_RDONLY | O_CLOEXEC);
    int go[2];
    int ready[2];
    QVERIFY(terminal >= 0 && ::pipe(go) == 0 && ::pipe(ready) == 0);
    const QByteArray held = QFile::encodeName(links + u"/com8"_s);
    const pid_t monitor = ::fork();
    if (monitor == 0) { // only what a child of a threaded process may do
        char byte = 0;
        if (::read(go[0], &byte, 1) == 1 && ::open(held.constData(), O_PATH | O_NOFOLLOW) >= 0 &&
            ::write(ready[1], &byte, 1) == 1)
            ::pause();
        ::_exit(1);
    }
    QVERIFY(QFile::link(u"/proc/%1/fd/%2"_s.arg(monitor).arg(terminal), links + u"/com8"_s));
    char byte = 1;
    QVERIFY(::write(go[1], &byte, 1) == 1 && ::read(ready[0], &byte, 1) == 1);
    watcher.setPortNumber(8);
    QTRY_COMPARE(leadsTo(), dev + u"/ttyUSB2"_s);
    ::kill(monitor, SIGKILL);
    ::waitpid(monitor, nullptr, 0);
    QTRY_COMPARE(leadsTo(), u"ended"_s);
    for (const int fd : {terminal, go[0], go[1], ready[0], ready[1]})
        ::close(fd);
#endif
}

QTEST_GUILESS_MAIN(tst_PortWatcher)
#include "tst_portwatcher.moc"
