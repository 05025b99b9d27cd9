// SPDX-License-Identifier: MIT
#pragma once

#include "bench/common.h"

#include <cmath>
#include <vector>

// What one run of one sender came to, from the receiver's stamps and the sender's counters.
struct Figures
{
    size_t expected = 0; // deadlines between the click and STOP
    size_t count = 0;    // trains received
    qint64 lost = 0;     // expected - received
    size_t late = 0;     // trains more than a quarter period off the grid
    quint64 sent = 0;    // the sender's own count
    double meanPeriodMs = NAN;
    double p50Us = NAN;
    double p99Us = NAN;
    double maxUs = NAN;
    double driftUs = NAN;
    double settledDriftUs = NAN;
    double gridPeriodMs = NAN; // mean period with missed deadlines counted as periods
    double firstUs = NAN;
    double cpuPercent = NAN;
    double senderCpuPercent = NAN; // the program's sender thread alone
    quint64 missed = 0;
    int fragments = 0;
    qint64 wrongBytes = 0;
    double loopP50Us = NAN;
    double loopMaxUs = NAN;
};

// Period errors between consecutive trains, drift of the last against the first, and the first
// train's delay after `start` beyond one period. Missed deadlines between the first and the last
// train are slots of the grid without a train: they show in the errors and the missed count, not
// as drift.
Figures analyse(const std::vector<Clock::time_point> &trains, size_t expected,
                Clock::duration period, Clock::time_point start, quint64 missed);

// Medians over rounds; LOST, late, missed and the counts summed.
Figures summarise(const std::vector<Figures> &rounds);

void printLegend();
void printHeader();
void printRow(int periodMs, const char *who, const Figures &f, double ratio);
