// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>

// How the repetition's thread runs, as the system reports it once the thread has asked for
// real-time scheduling.
struct SenderPriority
{
    enum class Policy { Unknown, Ordinary, Fifo, RoundRobin, TimeCritical };
    // Who granted a real-time policy: the system itself, or RealtimeKit on the operator's behalf.
    enum class Grant { None, Direct, RealtimeKit };

    Policy policy = Policy::Unknown;
    int priority = 0;
    Grant grant = Grant::None;

    // Ahead of every ordinary thread (on Windows: the top of the normal priority class).
    bool realtime() const;
    // As the system names it, with who granted it: "SCHED_RR 1, RealtimeKit".
    QString name() const;
};

// What the operator reads about it (vorlagen-send -v, the benchmark's header).
QString describe(const SenderPriority &priority);

// How the sender thread asks for real-time scheduling. First it asks the system directly
// (SCHED_FIFO: granted to root and to users with an rtprio limit); where that is refused, it asks
// the broker, if there is one: on a desktop, RealtimeKit gives it to the users of an active
// session without any limits.conf change. Either may be refused; the thread then runs as an
// ordinary one. Tests put in their own.
struct RealtimeRequest
{
    std::function<bool(int priority)> direct;
    std::function<bool(qint64 process, qint64 thread, int priority)> broker;

    // The direct request alone.
    static RealtimeRequest directOnly();
    // The direct request, then RealtimeKit on the system bus (Linux).
    static RealtimeRequest system();
};

// The calling thread asks as `request` says, at `priority`, and learns what it got.
SenderPriority raiseThisThread(const RealtimeRequest &request, int priority);

// Asks RealtimeKit (org.freedesktop.RealtimeKit1 on the system bus) to make `thread` of `process`
// real-time at `priority`, after lowering this process's RLIMIT_RTTIME to the most the service
// accepts. False when refused, and at once when there is no bus or no service. Linux only;
// elsewhere always false.
bool askRealtimeKit(qint64 process, qint64 thread, int priority);
