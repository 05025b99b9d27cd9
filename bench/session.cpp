// SPDX-License-Identifier: MIT
#include "bench/session.h"

#include "bench/drivers.h"
#include "bench/machine.h"
#include "bench/probe.h"
#include "bench/reference.h"

#include <cmath>
#include <cstdio>
#include <memory>

namespace {

const char *verdict(bool met)
{
    return met ? "met" : "MISSED";
}

std::vector<Figures> pick(const std::vector<RoundResult> &rounds, Figures RoundResult::*which)
{
    std::vector<Figures> figures;
    for (const RoundResult &r : rounds)
        figures.push_back(r.*which);
    return figures;
}

// Per round: every train there (one lost at most), drift on the grid under 0.5 ms and a steady
// rate, p50 at most twice the ordinary reference's, p99 within 1 ms of it.
bool printRoundGoals(const Run &run, const std::vector<RoundResult> &rounds)
{
    int delivered = 0, p50Met = 0, driftMet = 0, p99Met = 0, counted = 0, allThree = 0;
    for (const RoundResult &r : rounds) {
        const Figures &f = r.own;
        const bool steady = std::abs(f.gridPeriodMs - run.periodMs) <= 0.001 * run.periodMs;
        const bool gotAll = f.lost <= 1;
        const bool p50 = f.p50Us <= 2.0 * r.ordinary.p50Us;
        const bool onGrid = std::abs(f.settledDriftUs) < 500.0 && steady;
        delivered += gotAll;
        p50Met += p50;
        driftMet += onGrid;
        allThree += gotAll && p50 && onGrid;
        p99Met += f.p99Us - r.ordinary.p99Us <= 1000.0;
        counted += f.sent == f.count;
    }
    const int n = int(rounds.size());
    std::printf("  at %d ms, rounds meeting: received >= expected - 1: %d/%d; |drift~| < 0.5 ms: "
                "%d/%d; p50 <= 2 x ref-ord: %d/%d; p99 <= ref-ord + 1 ms: %d/%d; sent == "
                "received: %d/%d\n",
                run.periodMs, delivered, n, driftMet, n, p50Met, n, p99Met, n, counted, n);
    bool met = counted == n;
    if (run.periodMs == 1) {
        const int needed = (4 * n + 4) / 5; // "in at least 4 of 5 rounds"
        std::printf("  at 1 ms, all three in at least %d of %d rounds: %s (%d)\n", needed, n,
                    verdict(allThree >= needed), allThree);
        met = met && allThree >= needed;
    }
    if (run.periodMs == 10) {
        std::printf("  at 10 ms, p99 within 1 ms of ref-ord's, every round: %s\n",
                    verdict(p99Met == n));
        met = met && p99Met == n;
    }
    return met;
}

// Over the rounds: the program loses at most 2 trains more than the real-time reference, its
// CPU at 1 ms is at most 1.3 times the ordinary reference's, the first train comes one period
// after the click.
bool printRunGoals(const Run &run, const std::vector<RoundResult> &rounds)
{
    const Figures own = summarise(pick(rounds, &RoundResult::own));
    const Figures ord = summarise(pick(rounds, &RoundResult::ordinary));
    const Figures rt = summarise(pick(rounds, &RoundResult::realtime));
    const bool lostMet = own.lost <= rt.lost + 2;
    std::printf("  LOST <= ref-rt + 2 over the rounds: %s (%lld against %lld)\n", verdict(lostMet),
                static_cast<long long>(own.lost), static_cast<long long>(rt.lost));
    std::printf("  first train <= period + 0.5 ms: %s (median %.1f us)",
                verdict(own.firstUs <= 500), own.firstUs);
    bool met = lostMet && own.firstUs <= 500;
    if (run.periodMs == 1) {
        const bool cpuMet = own.cpuPercent <= 1.3 * ord.cpuPercent;
        std::printf("; cpu <= 1.3 x ref-ord: %s (median %.2f %% against %.2f %%, %.2fx; the "
                    "sender thread alone %.2f %%, ref-rt %.2f %%)",
                    verdict(cpuMet), own.cpuPercent, ord.cpuPercent,
                    own.cpuPercent / ord.cpuPercent, own.senderCpuPercent, rt.cpuPercent);
        met = met && cpuMet;
    }
    std::printf("\n");
    std::vector<Attribution> attributions;
    for (const RoundResult &r : rounds)
        attributions.push_back(r.attribution);
    printCauseTotals(attributions);
    return met;
}

} // namespace

RoundResult runRound(Driver &driver, const Lines &lines, TickProbe &probe, const Run &run,
                     bool poller)
{
    const auto period = std::chrono::milliseconds(run.periodMs);
    RoundResult r;
    r.loadAtStart = loadAverage();
    Reference ordinary(lines.ordinary, Reference::Kind::Ordinary, period, run.count);
    Reference realtime(lines.realtime, Reference::Kind::Realtime, period, run.count);
    ordinary.start();
    realtime.start();
    probe.reset();
    const CpuTimes before = cpuTimes();
    auto reads = poller ? std::make_unique<Poller>(driver) : nullptr;
    const RunSources sources{[&] {
                                 return ordinary.cpuSeconds() + realtime.cpuSeconds() +
                                        probe.overheadSeconds() + (reads ? reads->cpu() : 0.0);
                             },
                             [&] { return probe.timerCpuSeconds(); },
                             [&] { return probe.armedAt(); }};
    r.own = runSender(driver, lines.program, run.periodMs, run.count, sources);
    r.polls = reads ? reads->reads() : 0;
    reads.reset();
    r.stealPercent = stealPercent(before, cpuTimes());
    r.realtime = realtime.stop();
    r.realtimePolicy = realtime.policy();
    r.ordinary = ordinary.stop();
    r.attribution = attribute(probe.records(), period, &realtime);
    return r;
}

void printRound(const Run &run, const RoundResult &r, int worst)
{
    printRow(run.periodMs, "ref-ord", r.ordinary, 1.0);
    printRow(run.periodMs, "ref-rt", r.realtime, r.realtime.p50Us / r.ordinary.p50Us);
    printRow(run.periodMs, "vorlagen", r.own, r.own.p50Us / r.ordinary.p50Us);
    std::printf("  load %.2f at the start; steal %.2f %% of the CPUs' time during the run; ref-rt "
                "%s; vorlagen's sender thread alone %.2f %% cpu\n",
                r.loadAtStart, r.stealPercent, qPrintable(r.realtimePolicy),
                r.own.senderCpuPercent);
    if (r.polls > 0)
        std::printf("  the poller read the counters %llu times\n",
                    static_cast<unsigned long long>(r.polls));
    printAttribution(r.attribution, worst);
}

bool printSummary(const std::vector<Run> &runs, const std::map<int, std::vector<RoundResult>> &all)
{
    bool met = true;
    for (const Run &run : runs) {
        const auto &rounds = all.at(run.periodMs);
        std::printf("\n%d ms over %zu round(s): medians; LOST, late, missed and counts summed\n",
                    run.periodMs, rounds.size());
        printHeader();
        const Figures ord = summarise(pick(rounds, &RoundResult::ordinary));
        const Figures rt = summarise(pick(rounds, &RoundResult::realtime));
        const Figures own = summarise(pick(rounds, &RoundResult::own));
        printRow(run.periodMs, "ref-ord", ord, 1.0);
        printRow(run.periodMs, "ref-rt", rt, rt.p50Us / ord.p50Us);
        printRow(run.periodMs, "vorlagen", own, own.p50Us / ord.p50Us);
        met = printRoundGoals(run, rounds) && met;
        met = printRunGoals(run, rounds) && met;
    }
    return met;
}
