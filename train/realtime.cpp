// SPDX-License-Identifier: MIT
#include "train/realtime.h"

#include "texts/failures.h"

#if defined(Q_OS_WIN)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <pthread.h>
#include <sched.h>
#include <unistd.h>
#endif

namespace {

#if defined(Q_OS_WIN)

// Allowed without privileges inside the normal priority class; the thread sleeps nearly all the
// time.
bool askDirectly(int)
{
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

SenderPriority thisThread()
{
    const int priority = GetThreadPriority(GetCurrentThread());
    SenderPriority got;
    got.policy = priority == THREAD_PRIORITY_TIME_CRITICAL ? SenderPriority::Policy::TimeCritical
                                                           : SenderPriority::Policy::Ordinary;
    got.priority = priority;
    return got;
}

qint64 processId()
{
    return qint64(GetCurrentProcessId());
}

qint64 threadId()
{
    return qint64(GetCurrentThreadId());
}

#else

bool askDirectly(int priority)
{
    sched_param param{};
    param.sched_priority = priority;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

// Asked of the system, not of the thread library: a broker changes the policy from outside.
SenderPriority thisThread()
{
    int policy = sched_getscheduler(0);
#ifdef SCHED_RESET_ON_FORK
    policy &= ~SCHED_RESET_ON_FORK;
#endif
    sched_param param{};
    sched_getparam(0, &param);
    SenderPriority got;
    got.policy = policy == SCHED_FIFO ? SenderPriority::Policy::Fifo
                 : policy == SCHED_RR ? SenderPriority::Policy::RoundRobin
                                      : SenderPriority::Policy::Ordinary;
    got.priority = param.sched_priority;
    return got;
}

qint64 processId()
{
    return qint64(getpid());
}

qint64 threadId()
{
#ifdef Q_OS_LINUX
    return qint64(gettid());
#else
    return 0;
#endif
}

#endif

} // namespace

bool SenderPriority::realtime() const
{
    return policy == Policy::Fifo || policy == Policy::RoundRobin || policy == Policy::TimeCritical;
}

QString SenderPriority::name() const
{
    QString text;
    switch (policy) {
    case Policy::Unknown:
        return QStringLiteral("?");
    case Policy::Ordinary:
#ifdef Q_OS_WIN
        return QStringLiteral("THREAD_PRIORITY %1").arg(priority);
#else
        return QStringLiteral("SCHED_OTHER");
#endif
    case Policy::Fifo:
        text = QStringLiteral("SCHED_FIFO %1").arg(priority);
        break;
    case Policy::RoundRobin:
        text = QStringLiteral("SCHED_RR %1").arg(priority);
        break;
    case Policy::TimeCritical:
        text = QStringLiteral("THREAD_PRIORITY_TIME_CRITICAL");
        break;
    }
    if (grant == Grant::RealtimeKit)
        text += QStringLiteral(", RealtimeKit");
    return text;
}

QString describe(const SenderPriority &priority)
{
    return OperatorText::senderPriority(priority.realtime(), priority.name());
}

RealtimeRequest RealtimeRequest::directOnly()
{
    return RealtimeRequest{askDirectly, {}};
}

RealtimeRequest RealtimeRequest::system()
{
    return RealtimeRequest{askDirectly, askRealtimeKit};
}

SenderPriority raiseThisThread(const RealtimeRequest &request, int priority)
{
    SenderPriority::Grant grant = SenderPriority::Grant::None;
    if (request.direct && request.direct(priority))
        grant = SenderPriority::Grant::Direct;
    else if (request.broker && request.broker(processId(), threadId(), priority))
        grant = SenderPriority::Grant::RealtimeKit;
    SenderPriority got = thisThread();
    got.grant = got.realtime() ? grant : SenderPriority::Grant::None;
    return got;
}
