// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QtGlobal>

// The machine's CPU time since boot, from /proc/stat, in clock ticks: all of it and what the
// hypervisor took for others (steal).
struct CpuTimes
{
    quint64 total = 0;
    quint64 steal = 0;
};
CpuTimes cpuTimes();
// Steal between two readings, in % of all CPUs' time.
double stealPercent(const CpuTimes &before, const CpuTimes &after);

// The program's timer thread ("train-timer") in this process, or 0.
int timerThreadId();
// Its scheduling policy as the system reports it; with `ordinary` it is first put back to the
// normal policy.
QString threadPolicy(int tid, bool ordinary);

void printMachine();
