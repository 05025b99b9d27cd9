// SPDX-License-Identifier: MIT
#pragma once

#include "bench/probe.h"

#include <array>
#include <vector>

class Reference;

// Where a late tick's time went, judged from what the timer's thread did in the longest stretch
// between its deadline and its write:
// - Machine: the time passed with the thread neither waiting for a CPU nor switched out nor
//   faulting: its timer fired late or its virtual CPU was not running (steal, interrupts).
// - Scheduler: it was runnable, or was switched out, while another thread had the CPU.
// - TimerLock, SenderLock: it slept on the timer's own mutex after waking, or on the sender's
//   lock before its write.
// - Write: it slept inside the write (the line's locks or the kernel's).
// - Faults: a page had to be read back from disk.
enum class Cause { Machine, Scheduler, TimerLock, SenderLock, Write, Faults, Count };

const char *causeName(Cause cause);

struct LateTick
{
    qint64 index = 0;
    double atSeconds = 0; // its deadline, after the grid's start
    double lateMs = 0;    // write returned - deadline
    const char *stretch = "";
    double stretchMs = 0;
    Cause cause = Cause::Machine;
    qint64 runDelayUs = -1; // during the stretch, where known
    long voluntary = 0;
    long involuntary = 0;
    qint64 lostBefore = 0; // deadlines passed without a train just before it
    bool referenceLate = false;
};

struct Attribution
{
    std::vector<LateTick> late;
    std::array<int, int(Cause::Count)> byCause{};
    int referenceAlsoLate = 0;
    qint64 lost = 0; // deadlines without a train, all of them after a stall
    int ticks = 0;
    int faulted = 0;      // ticks whose way from entry to exit faulted a page in
    int faultedMajor = 0; // ... from disk
};

// Every tick that wrote more than a quarter period after its deadline, followed back through the
// ticks that were due at once after it, to its longest stretch. `reference`: the real-time
// reference of the same moment, if any.
Attribution attribute(const std::vector<TickRecord> &ticks, Clock::duration period,
                      const Reference *reference);

void printAttribution(const Attribution &a, int worst);
// Late ticks by cause, over rounds.
void printCauseTotals(const std::vector<Attribution> &rounds);
