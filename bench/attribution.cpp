// SPDX-License-Identifier: MIT
#include "bench/attribution.h"

#include "bench/reference.h"

#include <algorithm>
#include <cstdio>

namespace {

// One stretch of a tick's way: from `from` to `to`, with the timer thread's looks at both ends.
struct Stretch
{
    const char *what = "";
    Clock::duration length{};
    Cause cause = Cause::Machine;
    qint64 runDelayUs = -1;
    long voluntary = 0;
    long involuntary = 0;
};

// `sleeps`: voluntary switches the stretch has anyway (the wait for the deadline).
Stretch judge(const char *what, const Mark &from, const Mark &to, Cause blocked, long sleeps)
{
    Stretch s;
    s.what = what;
    s.length = to.at - from.done;
    s.voluntary = to.voluntary - from.voluntary;
    s.involuntary = to.involuntary - from.involuntary;
    if (from.runDelayNs >= 0 && to.runDelayNs >= 0)
        s.runDelayUs = (to.runDelayNs - from.runDelayNs) / 1000;
    const double lengthUs = toUs(s.length);
    if (to.majorFaults > from.majorFaults)
        s.cause = Cause::Faults;
    else if (s.voluntary > sleeps)
        s.cause = blocked;
    else if (s.involuntary > 0 || (s.runDelayUs >= 0 && double(s.runDelayUs) >= lengthUs / 2))
        s.cause = Cause::Scheduler;
    else
        s.cause = Cause::Machine;
    return s;
}

// The wait for the deadline, after it: from the tick before's exit (or, for the first tick,
// nothing known) to this tick's entry, counted from the deadline on.
Stretch wake(const TickRecord *before, const TickRecord &tick)
{
    if (!before) {
        Stretch s;
        s.what = "woke late";
        s.length = tick.entry.at - tick.deadline;
        return s;
    }
    const bool slept = before->exit.done < tick.deadline;
    Stretch s = judge(slept ? "woke late" : "due at once, came late", before->exit, tick.entry,
                      Cause::TimerLock, slept ? 1 : 0);
    s.length = tick.entry.at - std::max(tick.deadline, before->exit.done);
    return s;
}

Stretch longest(const std::vector<TickRecord> &ticks, size_t first, size_t last)
{
    std::vector<Stretch> all;
    all.push_back(wake(first > 0 ? &ticks[first - 1] : nullptr, ticks[first]));
    for (size_t m = first; m <= last; ++m) {
        const TickRecord &t = ticks[m];
        if (!t.wrote)
            continue;
        all.push_back(
            judge("waited for the sender's lock", t.entry, t.writeIn, Cause::SenderLock, 0));
        all.push_back(judge("write", t.writeIn, t.writeOut, Cause::Write, 0));
        if (m < last) {
            all.push_back(judge("after the write", t.writeOut, t.exit, Cause::SenderLock, 0));
            all.push_back(wake(&t, ticks[m + 1]));
        }
    }
    return *std::max_element(all.begin(), all.end(), [](const Stretch &a, const Stretch &b) {
        return a.length < b.length;
    });
}

} // namespace

const char *causeName(Cause cause)
{
    switch (cause) {
    case Cause::Machine:
        return "machine";
    case Cause::Scheduler:
        return "scheduler";
    case Cause::TimerLock:
        return "timer lock";
    case Cause::SenderLock:
        return "sender lock";
    case Cause::Write:
        return "write";
    case Cause::Faults:
        return "page faults";
    case Cause::Count:
        break;
    }
    return "?";
}

Attribution attribute(const std::vector<TickRecord> &ticks, Clock::duration period,
                      const Reference *reference)
{
    Attribution a;
    a.ticks = int(ticks.size());
    for (size_t i = 0; i < ticks.size(); ++i) {
        const TickRecord &t = ticks[i];
        const qint64 lost = t.index - (i > 0 ? ticks[i - 1].index : 0) - 1;
        a.lost += std::max<qint64>(lost, 0);
        a.faulted +=
            t.exit.minorFaults + t.exit.majorFaults > t.entry.minorFaults + t.entry.majorFaults;
        a.faultedMajor += t.exit.majorFaults > t.entry.majorFaults;
        if (!t.wrote || t.writeOut.at - t.deadline <= period / 4)
            continue;
        // Back to the tick whose own wait began the stall: the ones due at once after it
        // carried its delay.
        size_t first = i;
        while (first > 0 && ticks[first - 1].exit.done >= ticks[first].deadline)
            --first;
        const Stretch s = longest(ticks, first, i);
        LateTick late;
        late.index = t.index;
        late.atSeconds = std::chrono::duration<double>(t.deadline - ticks.front().deadline +
                                                       ticks.front().index * period)
                             .count();
        late.lateMs = toMs(t.writeOut.at - t.deadline);
        late.stretch = s.what;
        late.stretchMs = toMs(s.length);
        late.cause = s.cause;
        late.runDelayUs = s.runDelayUs;
        late.voluntary = s.voluntary;
        late.involuntary = s.involuntary;
        late.lostBefore = std::max<qint64>(lost, 0);
        late.referenceLate =
            reference && reference->stalledBetween(ticks[first].deadline - period,
                                                   t.writeOut.at + period, period / 4);
        ++a.byCause[size_t(late.cause)];
        a.referenceAlsoLate += late.referenceLate;
        a.late.push_back(late);
    }
    return a;
}

void printAttribution(const Attribution &a, int worst)
{
    std::printf("  vorlagen: %zu late tick(s) of %d", a.late.size(), a.ticks);
    for (int c = 0; c < int(Cause::Count); ++c)
        std::printf("%s %s %d", c == 0 ? ":" : ",", causeName(Cause(c)), a.byCause[size_t(c)]);
    std::printf("; ref-rt late in the same moment for %d; deadlines lost: %lld; ticks that "
                "faulted a page in: %d (from disk: %d)\n",
                a.referenceAlsoLate, static_cast<long long>(a.lost), a.faulted, a.faultedMajor);
    std::vector<LateTick> sorted = a.late;
    std::sort(sorted.begin(), sorted.end(),
              [](const LateTick &x, const LateTick &y) { return x.lateMs > y.lateMs; });
    for (int i = 0; i < worst && size_t(i) < sorted.size(); ++i) {
        const LateTick &l = sorted[size_t(i)];
        std::printf("    +%.2f ms at %.3f s: %s %.2f ms -> %s (run delay ", l.lateMs, l.atSeconds,
                    l.stretch, l.stretchMs, causeName(l.cause));
        if (l.runDelayUs >= 0)
            std::printf("%.2f ms", double(l.runDelayUs) / 1000.0);
        else
            std::printf("?");
        std::printf(", switches %ld+%ld)%s", l.voluntary, l.involuntary,
                    l.referenceLate ? "; ref-rt late too" : "");
        if (l.lostBefore > 0)
            std::printf("; %lld deadline(s) lost", static_cast<long long>(l.lostBefore));
        std::printf("\n");
    }
}

void printCauseTotals(const std::vector<Attribution> &rounds)
{
    std::array<int, int(Cause::Count)> total{};
    int late = 0;
    int alsoLate = 0;
    for (const Attribution &a : rounds) {
        late += int(a.late.size());
        alsoLate += a.referenceAlsoLate;
        for (size_t c = 0; c < total.size(); ++c)
            total[c] += a.byCause[c];
    }
    std::printf("  vorlagen's late ticks over the rounds: %d", late);
    for (int c = 0; c < int(Cause::Count); ++c)
        std::printf("%s %s %d", c == 0 ? ":" : ",", causeName(Cause(c)), total[size_t(c)]);
    std::printf("; ref-rt late in the same moment for %d\n", alsoLate);
}
