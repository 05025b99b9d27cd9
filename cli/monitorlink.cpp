// SPDX-License-Identifier: MIT
#include "cli/monitorlink.h"

#include "serial/virtualport.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string readLink(int folder, const char *path)
{
    char buffer[4096];
    const ssize_t n = ::readlinkat(folder, path, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, size_t(n)) : std::string();
}

} // namespace

MonitorLink::Made MonitorLink::make(const std::string &path, int fd)
{
    m_path = path;
    m_target = QFile::encodeName(VirtualPort::targetFor(::getpid(), fd)).toStdString();
    if (::symlink(m_target.c_str(), path.c_str()) == 0)
        return hold(Made::New);
    if (errno != EEXIST) {
        m_error = errno;
        return Made::Failed;
    }
    switch (VirtualPort::inspect(QFile::decodeName(path.c_str()))) {
    case VirtualPort::Link::Live:
        return Made::Monitored;
    case VirtualPort::Link::Other:
        return Made::Occupied;
    case VirtualPort::Link::Ended:
        break;
    }
    // Made aside and renamed over the stale one, so that the number never leads nowhere.
    const std::string aside = path + '.' + std::to_string(::getpid());
    ::unlink(aside.c_str());
    if (::symlink(m_target.c_str(), aside.c_str()) != 0 || ::rename(aside.c_str(), path.c_str())) {
        m_error = errno;
        ::unlink(aside.c_str());
        return Made::Failed;
    }
    return hold(Made::Replaced);
}

// The descriptor that makes the link live. Another monitor that replaced the same stale link a
// moment later has won it: ours is gone then.
MonitorLink::Made MonitorLink::hold(Made made)
{
    m_held = ::open(m_path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (m_held < 0) {
        m_error = errno;
        return Made::Failed;
    }
    if (readLink(m_held, "") != m_target) {
        ::close(m_held);
        m_held = -1;
        return Made::Monitored;
    }
    return made;
}

bool MonitorLink::ours() const
{
    struct stat link = {};
    struct stat held = {};
    return m_held >= 0 && ::lstat(m_path.c_str(), &link) == 0 && ::fstat(m_held, &held) == 0 &&
           link.st_ino == held.st_ino && link.st_dev == held.st_dev &&
           readLink(AT_FDCWD, m_path.c_str()) == m_target;
}

bool MonitorLink::remove()
{
    const bool removed = ours() && ::unlink(m_path.c_str()) == 0;
    if (m_held >= 0)
        ::close(m_held);
    m_held = -1;
    return removed;
}
