// SPDX-License-Identifier: MIT
#pragma once

#include <QLockFile>
#include <QString>

// One running instance per user. The first start holds a lock file in the user's runtime folder
// for as long as it runs; a start that finds it held by a live process is the second one. A lock
// left behind by a process that died (killed, crashed) belongs to nobody and is taken over.
class SingleInstance
{
public:
    explicit SingleInstance(const QString &lockPath = defaultLockPath());

    // True when this process now holds the lock (or it could not be made at all, see the .cpp);
    // false when another live instance holds it.
    bool tryAcquire();

    // Linux: $XDG_RUNTIME_DIR/vorlagen-<uid>.lock (the temporary folder when there is no runtime
    // folder). Windows: the user's own temporary folder, vorlagen.lock.
    static QString defaultLockPath();

private:
    QLockFile m_lock;
};
