// SPDX-License-Identifier: MIT
#include "serial/portbusy.h"

#include "texts/failures.h"

#ifdef Q_OS_UNIX
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

QString serialLockFile(const QString &path)
{
#ifdef Q_OS_UNIX
    QString name = path;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name = QStringLiteral("LCK..") + name.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QStringList folders = {QStringLiteral("/var/lock"),
                                 QStringLiteral("/etc/locks"),
                                 QStringLiteral("/var/spool/locks"),
                                 QStringLiteral("/var/spool/uucp"),
                                 QStringLiteral("/tmp"),
                                 QStringLiteral("/var/tmp"),
                                 QStringLiteral("/var/lock/lockdev"),
                                 QStringLiteral("/run/lock"),
                                 QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
    for (const QString &folder : folders) {
        const QString file = QDir(folder).filePath(name);
        if (QFileInfo::exists(file))
            return file;
    }
#else
    static_cast<void>(path); // no lock files there
#endif
    return {};
}

namespace {

#ifdef Q_OS_UNIX

// A zombie counts as gone: its descriptors are closed, it holds nothing.
bool processAlive(qint64 pid)
{
    if (::kill(pid_t(pid), 0) != 0 && errno != EPERM)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const qsizetype name = line.lastIndexOf(')'); // the state follows the program's name
    return name < 0 || line.mid(name + 2, 1) != "Z";
}

// Whether the device refuses a plain open because someone holds it exclusively (TIOCEXCL).
bool heldExclusively(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    return errno == EBUSY;
}

#endif

} // namespace

bool removeStaleSerialLock(const QString &path)
{
#ifdef Q_OS_UNIX
    const QString lock = serialLockFile(path);
    if (lock.isEmpty())
        return true;
    qint64 pid = 0;
    QString hostName;
    QString program;
    // One that cannot be read is not known to be stale: it stays.
    if (!QLockFile(lock).getLockInfo(&pid, &hostName, &program) || pid <= 0 || processAlive(pid))
        return false;
    return QFile::remove(lock) || !QFileInfo::exists(lock);
#else
    static_cast<void>(path);
    return true;
#endif
}

PortFailure portBusyFailure(const QString &path)
{
#ifdef Q_OS_UNIX
    const QString lock = serialLockFile(path);
    qint64 pid = 0;
    QString hostName;
    QString program;
    if (!lock.isEmpty() && QLockFile(lock).getLockInfo(&pid, &hostName, &program) && pid > 0) {
        if (processAlive(pid))
            return OperatorText::portBusyBy(path, QFileInfo(program).fileName(), pid);
        // A lock of our own user's dead process would have been taken over by the open.
        return OperatorText::portBusyStaleLock(path, lock, pid);
    }
    if (heldExclusively(path))
        return OperatorText::portHeldExclusively(path);
#endif
    return OperatorText::portBusy(path);
}
