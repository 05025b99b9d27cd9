// SPDX-License-Identifier: MIT
#include "bench/machine.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <sched.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

QString firstLineOf(const QString &path, const QString &key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    // Files under /proc report no size, so no atEnd(): read them whole.
    const QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith(key))
            return line;
    }
    return QStringLiteral("?");
}

} // namespace

CpuTimes cpuTimes()
{
    // "cpu  user nice system idle iowait irq softirq steal guest guest_nice"
    const QStringList fields = firstLineOf(QStringLiteral("/proc/stat"), QStringLiteral("cpu "))
                                   .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    CpuTimes t;
    for (int i = 1; i <= 8 && i < fields.size(); ++i)
        t.total += fields.at(i).toULongLong();
    t.steal = fields.value(8).toULongLong();
    return t;
}

double stealPercent(const CpuTimes &before, const CpuTimes &after)
{
    const quint64 total = after.total - before.total;
    return total == 0 ? NAN : 100.0 * double(after.steal - before.steal) / double(total);
}

int timerThreadId()
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "train-timer")
            return tid.toInt();
    }
    return 0;
}

QString threadPolicy(int tid, bool ordinary)
{
    if (tid == 0)
        return QStringLiteral("? (thread not found)");
    sched_param param{};
    if (ordinary)
        ::sched_setscheduler(tid, SCHED_OTHER, &param);
    const int policy = ::sched_getscheduler(tid) & ~SCHED_RESET_ON_FORK;
    ::sched_getparam(tid, &param);
    if (policy == SCHED_FIFO)
        return QStringLiteral("SCHED_FIFO %1").arg(param.sched_priority);
    if (policy == SCHED_RR)
        return QStringLiteral("SCHED_RR %1").arg(param.sched_priority);
    return QStringLiteral("SCHED_OTHER (normal)");
}

void printMachine()
{
    utsname name{};
    ::uname(&name);
    double load[3] = {NAN, NAN, NAN};
    ::getloadavg(load, 3);
    const QString model = firstLineOf(QStringLiteral("/proc/cpuinfo"), QStringLiteral("model name"))
                              .section(QLatin1Char(':'), 1)
                              .trimmed();
    std::printf("machine: %ld cores, %s, kernel %s %s, load %.2f %.2f %.2f\n",
                ::sysconf(_SC_NPROCESSORS_ONLN), qPrintable(model), name.sysname, name.release,
                load[0], load[1], load[2]);
}
