// SPDX-License-Identifier: MIT
#include "bench/figures.h"

#include <algorithm>
#include <cstdio>

namespace {

// Each train's offset from the nearest grid slot, median of the last few against median of the
// first few: robust to late trains and misses. It cannot see more than half a period of drift
// (the slot would be misread); the mean period on the grid catches a sender that is steadily
// slow or fast. Trains arrive a steady delivery time after their deadline; one that is more than
// a quarter period off that was sent late.
void gridFigures(const std::vector<Clock::time_point> &trains, Clock::duration period, Figures &f)
{
    const double p = toUs(period);
    const auto offset = [&](size_t i, double phase) {
        const double since = toUs(trains[i] - trains.front());
        return since - phase - std::round((since - phase) / p) * p;
    };
    const size_t window = std::clamp<size_t>(trains.size() / 10, 1, 50);
    std::vector<double> head;
    for (size_t i = 0; i < window; ++i)
        head.push_back(offset(i, 0));
    const double phase = median(head);
    std::vector<double> tail;
    for (size_t j = trains.size() - window; j < trains.size(); ++j)
        tail.push_back(offset(j, phase));
    f.settledDriftUs = median(tail);
    for (size_t i = 0; i < trains.size(); ++i)
        f.late += std::abs(offset(i, phase)) > p / 4;
}

} // namespace

Figures analyse(const std::vector<Clock::time_point> &trains, size_t expected,
                Clock::duration period, Clock::time_point start, quint64 missed)
{
    Figures f;
    f.expected = expected;
    f.count = trains.size();
    f.lost = qint64(expected) - qint64(trains.size());
    f.missed = missed;
    if (trains.empty())
        return f;
    f.firstUs = toUs(trains.front() - start - period);
    if (trains.size() < 2)
        return f;
    std::vector<double> errors;
    errors.reserve(trains.size());
    for (size_t i = 1; i < trains.size(); ++i)
        errors.push_back(std::abs(toUs(trains[i] - trains[i - 1] - period)));
    const auto n = trains.size() - 1;
    f.meanPeriodMs = toMs(trains.back() - trains.front()) / double(n);
    f.p50Us = percentile(errors, 0.5);
    f.p99Us = percentile(errors, 0.99);
    f.maxUs = *std::max_element(errors.begin(), errors.end());
    f.driftUs = toUs(trains.back() - (trains.front() + period * (n + missed)));
    f.gridPeriodMs = toMs(trains.back() - trains.front()) / double(n + missed);
    gridFigures(trains, period, f);
    return f;
}

Figures summarise(const std::vector<Figures> &rounds)
{
    Figures m = rounds.front();
    for (double Figures::*field :
         {&Figures::meanPeriodMs, &Figures::p50Us, &Figures::p99Us, &Figures::maxUs,
          &Figures::driftUs, &Figures::settledDriftUs, &Figures::firstUs, &Figures::cpuPercent,
          &Figures::senderCpuPercent, &Figures::loopP50Us, &Figures::loopMaxUs}) {
        std::vector<double> values;
        for (const Figures &f : rounds)
            values.push_back(f.*field);
        m.*field = median(values);
    }
    m.expected = m.count = m.sent = m.late = m.missed = 0;
    m.lost = 0;
    for (const Figures &f : rounds) {
        m.expected += f.expected;
        m.count += f.count;
        m.sent += f.sent;
        m.lost += f.lost;
        m.late += f.late;
        m.missed += f.missed;
    }
    return m;
}

void printLegend()
{
    std::printf(
        "Three senders run at once, each to its own pseudo-terminal: ref-ord (one ordinary\n"
        "thread: clock_nanosleep + write), ref-rt (the same at real-time priority, the machine's\n"
        "limit in the same moment) and vorlagen (the program's own path).\n"
        "expect: deadlines between the click and STOP; recv: trains received;\n"
        "LOST: expect - recv (a missed deadline is a train that never reached the line);\n"
        "late: trains more than a quarter period off the grid (sent late after a stall);\n"
        "missed: deadlines without a train of their own (the sender's counter);\n"
        "sent: the sender's own count, the window's \"Poslato povorki\" (must equal recv);\n"
        "error: |gap between trains - period|; drift~: median offset from the grid, last tenth\n"
        "of the trains (at most 50) against the first tenth; first: first arrival - click -\n"
        "period; ratio: p50 / ref-ord p50; cpu: the sender's threads, %% of one core (the\n"
        "bench's own threads and probe taken out); loop: latency of a zero-delay single shot\n"
        "posted to the event loop every 3 ms. Each late tick of vorlagen is followed to the\n"
        "stretch where its time went (see the README)\n\n");
}

void printHeader()
{
    std::printf("%-6s %-8s %6s %6s %5s %5s %6s %6s %10s %8s %8s %8s %9s %8s %6s %6s %9s %9s\n",
                "period", "sender", "expect", "recv", "LOST", "late", "missed", "sent", "mean ms",
                "p50 us", "p99 us", "max us", "drift~ us", "first us", "ratio", "cpu %", "loop p50",
                "loop max");
}

void printRow(int periodMs, const char *who, const Figures &f, double ratio)
{
    std::printf("%4d ms %-8s %6zu %6zu %5lld %5zu %6llu %6llu %10.4f %8.1f %8.1f %8.1f %+9.1f "
                "%8.1f %6.2f %6.2f ",
                periodMs, who, f.expected, f.count, static_cast<long long>(f.lost), f.late,
                static_cast<unsigned long long>(f.missed), static_cast<unsigned long long>(f.sent),
                f.meanPeriodMs, f.p50Us, f.p99Us, f.maxUs, f.settledDriftUs, f.firstUs, ratio,
                f.cpuPercent);
    if (std::isnan(f.loopP50Us))
        std::printf("%9s %9s", "-", "-");
    else
        std::printf("%9.1f %9.1f", f.loopP50Us, f.loopMaxUs);
    if (f.sent != f.count)
        std::printf("  SENT != RECEIVED");
    if (f.fragments > 0 || f.wrongBytes > 0)
        std::printf("  fragments %d, wrong bytes %lld", f.fragments,
                    static_cast<long long>(f.wrongBytes));
    std::printf("\n");
    std::fflush(stdout);
}
