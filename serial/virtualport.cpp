// SPDX-License-Identifier: MIT
#include "serial/virtualport.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <optional>
#include <utility>

#ifdef Q_OS_LINUX
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace VirtualPort {

QString targetFor(qint64 pid, int fd)
{
    return QStringLiteral("/proc/%1/fd/%2").arg(QString::number(pid), QString::number(fd));
}

#ifdef Q_OS_LINUX

namespace {

QByteArray readLink(const QByteArray &path, int folder = AT_FDCWD)
{
    char buffer[4096];
    const ssize_t n = ::readlinkat(folder, path.constData(), buffer, sizeof buffer);
    return n > 0 ? QByteArray(buffer, int(n)) : QByteArray();
}

// Whether process `pid` holds a descriptor of the file `path` (as the kernel names it).
bool holds(const QString &pid, const QByteArray &path)
{
    const QByteArray folder = "/proc/" + pid.toLatin1() + "/fd";
    DIR *descriptors = ::opendir(folder.constData());
    if (!descriptors)
        return false; // gone, or not ours to look at
    bool held = false;
    while (const dirent *entry = ::readdir(descriptors)) {
        if (entry->d_name[0] != '.' && readLink(entry->d_name, ::dirfd(descriptors)) == path) {
            held = true;
            break;
        }
    }
    ::closedir(descriptors);
    return held;
}

// The pid of the monitor behind the link at `path`: nothing when it is no monitor's link, an
// empty one when that monitor has ended.
std::optional<QString> monitorOf(const QString &path)
{
    static const QRegularExpression form(QStringLiteral("^/proc/([0-9]+)/fd/[0-9]+$"));
    const QFileInfo link(path);
    if (!link.isSymLink())
        return std::nullopt;
    const auto match = form.match(QFile::decodeName(readLink(QFile::encodeName(path))));
    if (!match.hasMatch())
        return std::nullopt;
    // The name the monitor's descriptor carries: the folder's real path, the link itself.
    const QString held =
        QFileInfo(link.absolutePath()).canonicalFilePath() + QLatin1Char('/') + link.fileName();
    if (!holds(match.captured(1), QFile::encodeName(held)) || link.canonicalFilePath().isEmpty())
        return QString();
    return match.captured(1);
}

} // namespace

Link inspect(const QString &path)
{
    const auto pid = monitorOf(path);
    if (!pid)
        return Link::Other;
    return pid->isEmpty() ? Link::Ended : Link::Live;
}

#else

Link inspect(const QString &)
{
    return Link::Other;
}

#endif

} // namespace VirtualPort

MonitorWatch::MonitorWatch(QObject *parent)
    : QObject(parent)
{}

MonitorWatch::~MonitorWatch()
{
    stop();
}

void MonitorWatch::stop()
{
    delete std::exchange(m_notifier, nullptr);
#ifdef Q_OS_LINUX
    if (m_process >= 0)
        ::close(m_process);
#endif
    m_process = -1;
    m_path.clear();
}

void MonitorWatch::watch(const QString &path)
{
    if (path == m_path && m_process >= 0)
        return;
    stop();
#if defined(Q_OS_LINUX) && defined(SYS_pidfd_open)
    const auto pid = VirtualPort::monitorOf(path);
    if (!pid || pid->isEmpty())
        return;
    m_process = int(::syscall(SYS_pidfd_open, pid->toInt(), 0));
    // Looked at again once the descriptor is held: a monitor that ended meanwhile is not watched.
    if (m_process < 0 || VirtualPort::monitorOf(path) != pid) {
        stop();
        return;
    }
    m_path = path;
    m_notifier = new QSocketNotifier(m_process, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        stop();
        emit ended();
    });
#endif
}
