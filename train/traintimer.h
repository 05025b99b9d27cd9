// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>
#include <functional>

// The window timer as the send commands see it: an interval in milliseconds and an enable flag.
// It ticks only while enabled with an interval above 0; setting the interval or enabling it
// (re)starts the schedule, the first tick one interval later. The real one sends from a thread
// of its own at absolute deadlines; tests tick by hand.
class TrainTimer
{
public:
    // Called for every due tick with the schedule it belongs to. On the real timer this runs on
    // the timer's own thread.
    using TickHandler = std::function<void(quint64 schedule)>;

    virtual ~TrainTimer() = default;

    // Replacing the handler waits until no call of the old one is running.
    virtual void setTickHandler(TickHandler handler) = 0;

    virtual void setInterval(int milliseconds) = 0;
    virtual int interval() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;

    // Whether a tick of `schedule` is still due: the timer is enabled with an interval above 0
    // and neither has been set since that schedule began. A handler checks this once it holds
    // the lock that the commands hold, so that a command always wins over a stale tick.
    virtual bool isCurrent(quint64 schedule) const = 0;

    // Deadlines without a train of their own: when the machine was late for several, one late
    // train stood in for them all (never a burst) and the others count here.
    virtual quint64 missedDeadlines() const = 0;
};
