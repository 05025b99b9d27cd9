// SPDX-License-Identifier: MIT
#include "app/singleinstance.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

SingleInstance::SingleInstance(const QString &lockPath)
    : m_lock(lockPath)
{
    // Age alone never makes a lock stale: the first instance may run for weeks. Whether its
    // process is still alive is what counts, and QLockFile checks that itself.
    m_lock.setStaleLockTime(0);
}

bool SingleInstance::tryAcquire()
{
    if (m_lock.isLocked())
        return true;
    if (m_lock.tryLock(0))
        return true;
    // Only a lock held by another live instance refuses the start. A folder we cannot write to
    // must not lock the operator out with a wrong "already started".
    return m_lock.error() != QLockFile::LockFailedError;
}

QString SingleInstance::defaultLockPath()
{
#ifdef Q_OS_WIN
    // Windows has no runtime folder of its own (Qt gives the profile folder); the temporary
    // folder is per user there.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    const QString name = QStringLiteral("vorlagen.lock");
#else
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    // The temporary folder is shared between users: the name tells whose lock it is.
    const QString name = QStringLiteral("vorlagen-%1.lock").arg(::getuid());
#endif
    QDir().mkpath(folder);
    return QDir(folder).filePath(name);
}
