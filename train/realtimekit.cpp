// SPDX-License-Identifier: MIT
#include "train/realtime.h"

#ifdef Q_OS_LINUX

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

#include <algorithm>

#include <sys/resource.h>

namespace {

const QString kService = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString kPath = QStringLiteral("/org/freedesktop/RealtimeKit1");
// The thread waits for the answer before its first tick; a hung bus must not keep it long.
constexpr int kTimeoutMs = 2000;

// How long a real-time thread of ours may run without sleeping before the kernel stops it, in
// microseconds, as the service requires it; 0 without an answer.
qint64 rtTimeMax(const QDBusConnection &bus)
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kService << QStringLiteral("RTTimeUSecMax");
    const QDBusMessage reply = bus.call(get, QDBus::Block, kTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return 0;
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toLongLong();
}

// The service refuses a process whose limit is higher (or none): a real-time thread caught in a
// loop would hold a CPU for good. Ours sleeps at every deadline, far below the limit.
bool limitRtTime(qint64 max)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_RTTIME, &limit) != 0)
        return false;
    const auto most = rlim_t(max);
    if (limit.rlim_max <= most && limit.rlim_cur <= most)
        return true;
    limit.rlim_max = std::min(limit.rlim_max, most);
    limit.rlim_cur = std::min(limit.rlim_cur, most);
    return setrlimit(RLIMIT_RTTIME, &limit) == 0;
}

} // namespace

bool askRealtimeKit(qint64 process, qint64 thread, int priority)
{
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return false;
    const qint64 max = rtTimeMax(bus);
    if (max <= 0 || !limitRtTime(max))
        return false;
    QDBusMessage make = QDBusMessage::createMethodCall(kService, kPath, kService,
                                                       QStringLiteral("MakeThreadRealtimeWithPID"));
    make << QVariant::fromValue(quint64(process)) << QVariant::fromValue(quint64(thread))
         << QVariant::fromValue(quint32(priority));
    return bus.call(make, QDBus::Block, kTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

#else

bool askRealtimeKit(qint64, qint64, int)
{
    return false;
}

#endif
