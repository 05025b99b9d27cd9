// SPDX-License-Identifier: MIT
#pragma once

#include "bench/attribution.h"
#include "bench/figures.h"
#include "bench/pty.h"

#include <map>
#include <vector>

class Driver;
class TickProbe;

// The bench's three pseudo-terminals: the program's port (linked as COM7) and one for each
// reference sender.
struct Lines
{
    Pty program;
    Pty ordinary;
    Pty realtime;
};

// One period's run in one round: the program and both references in the same moment.
struct RoundResult
{
    Figures own;
    Figures ordinary;
    Figures realtime;
    Attribution attribution;
    double stealPercent = 0;
    double loadAtStart = 0;
    QString realtimePolicy; // what ref-rt got
    quint64 polls = 0;      // the poller's reads
};

struct Run
{
    int periodMs = 0;
    size_t count = 0;
};

// `poller`: a Poller reads the counters during the run.
RoundResult runRound(Driver &driver, const Lines &lines, TickProbe &probe, const Run &run,
                     bool poller);
void printRound(const Run &run, const RoundResult &r, int worst);

// Sums and medians over the rounds and the goals; returns whether every goal was met.
bool printSummary(const std::vector<Run> &runs, const std::map<int, std::vector<RoundResult>> &all);
