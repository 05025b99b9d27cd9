// SPDX-License-Identifier: MIT
#include "train/pulseframing_p.h"

#include <algorithm>
#include <array>

// The framing search: bit counts at a rate, the phases a frame allows, the shortest train.
namespace PulseDesign::Framing {

// The frame table and the rounding of rates, for the search below.
namespace {

// The 8N1 frame, tabled once: a low run may not cover a stop bit (bit 9 of a frame), a high run
// not a start bit (bit 0). Longer runs than nine would cover both.
struct FrameTable
{
    bool allowed[2][kLongestRun + 1][kBitsPerByte] = {};
    Phases next[2][kLongestRun + 1][1 << kBitsPerByte] = {};

    FrameTable()
    {
        for (int high = 0; high < 2; ++high) {
            for (int bits = 1; bits <= kLongestRun; ++bits) {
                for (int phase = 0; phase < kBitsPerByte; ++phase) {
                    bool ok = true;
                    for (int k = 0; k < bits; ++k) {
                        const int at = (phase + k) % kBitsPerByte;
                        ok = ok && at != (high ? 0 : kBitsPerByte - 1);
                    }
                    allowed[high][bits][phase] = ok;
                }
                for (int from = 0; from < (1 << kBitsPerByte); ++from) {
                    Phases to = 0;
                    for (int phase = 0; phase < kBitsPerByte; ++phase)
                        if ((from >> phase & 1) && allowed[high][bits][phase])
                            to |= Phases(1 << ((phase + bits) % kBitsPerByte));
                    next[high][bits][from] = to;
                }
            }
        }
    }
};

const FrameTable &frameTable()
{
    static const FrameTable table;
    return table;
}

int highestCount(BitCounts counts)
{
    return counts == 0 ? 0 : 16 - int(qCountLeadingZeroBits(counts));
}

qint64 ceilToRate(double value)
{
    return value > double(kHighestRate) ? kHighestRate + 1 : qint64(std::ceil(value));
}

qint64 floorToRate(double value)
{
    return value > double(kHighestRate) ? kHighestRate : qint64(std::floor(value));
}

} // namespace

BitCounts countsWithin(double seconds, double rate, double largest)
{
    BitCounts counts = 0;
    for (int bits = 1; bits <= kLongestRun; ++bits)
        if (errorOf(bits, rate, seconds) <= largest)
            counts |= BitCounts(1 << (bits - 1));
    return counts;
}

QVector<BitCounts> countsAt(double rate, const QVector<double> &runs, double largest)
{
    QVector<BitCounts> counts(runs.size(), 0);
    for (int run = 0; run < runs.size(); ++run)
        counts[run] = countsWithin(runs[run], rate, largest);
    return counts;
}

Phases reachable(const QVector<BitCounts> &counts, int count)
{
    const FrameTable &table = frameTable();
    Phases at = 1; // the first low run is a start bit
    for (int run = 0; run < count && at != 0; ++run) {
        Phases to = 0;
        forEachCount(counts[run], [&](int bits) { to |= table.next[level(run)][bits][at]; });
        at = to;
    }
    return at;
}

Path shortest(const QVector<BitCounts> &counts)
{
    const FrameTable &table = frameTable();
    const int runs = int(counts.size());
    std::array<int, kBitsPerByte> best;
    best.fill(kNoPath);
    best[0] = 0;
    // For each run and the phase after it: the phase it began at and its bits.
    using Steps = std::vector<std::array<qint8, kBitsPerByte>>;
    Steps fromPhase(static_cast<size_t>(runs));
    Steps fromBits(static_cast<size_t>(runs));
    for (int run = 0; run < runs; ++run) {
        std::array<int, kBitsPerByte> next;
        next.fill(kNoPath);
        for (int phase = 0; phase < kBitsPerByte; ++phase) {
            if (best[size_t(phase)] == kNoPath)
                continue;
            forEachCount(counts[run], [&](int bits) {
                if (!table.allowed[level(run)][bits][phase])
                    return;
                const size_t to = size_t((phase + bits) % kBitsPerByte);
                if (best[size_t(phase)] + bits < next[to]) {
                    next[to] = best[size_t(phase)] + bits;
                    fromPhase[size_t(run)][to] = qint8(phase);
                    fromBits[size_t(run)][to] = qint8(bits);
                }
            });
        }
        best = next;
    }
    Path path;
    int end = -1;
    for (int phase = 1; phase < kBitsPerByte; ++phase) {
        const int whole = best[size_t(phase)] + kBitsPerByte - phase;
        if (best[size_t(phase)] != kNoPath && whole < path.bits) {
            path.bits = whole;
            end = phase;
        }
    }
    if (end < 0)
        return path;
    path.trailing = kBitsPerByte - end;
    path.runs.resize(runs);
    for (int run = runs - 1; run >= 0; --run) {
        path.runs[run] = fromBits[size_t(run)][size_t(end)];
        end = fromPhase[size_t(run)][size_t(end)];
    }
    return path;
}

// The length is only worked out when the longest choice of every run might not keep the limit.
bool fitsLimit(const QVector<BitCounts> &counts, int limitBits)
{
    int longest = kBitsPerByte;
    for (const BitCounts c : counts)
        longest += highestCount(c);
    return longest <= limitBits || shortest(counts).bits <= limitBits;
}

std::vector<CountChange> countChanges(const QVector<double> &runs, int count, double tolerance)
{
    std::vector<CountChange> changes;
    changes.reserve(size_t(count) * 2 * kLongestRun);
    for (int run = 0; run < count; ++run) {
        for (int bits = 1; bits <= kLongestRun; ++bits) {
            // error <= tolerance  <=>  bits / (d (1 + t)) <= rate <= bits / (d (1 - t))
            const double lowest = bits / (runs[run] * (1.0 + tolerance)) * (1.0 - kSame);
            const qint64 first = std::max(kLowestRate, ceilToRate(lowest));
            const qint64 last =
                tolerance >= 1.0
                    ? kHighestRate
                    : std::min(kHighestRate,
                               floorToRate(bits / (runs[run] * (1.0 - tolerance)) * (1.0 + kSame)));
            if (first > last)
                continue;
            const auto bit = BitCounts(1 << (bits - 1));
            changes.push_back({first, run, bit, true});
            if (last < kHighestRate)
                changes.push_back({last + 1, run, bit, false});
        }
    }
    std::sort(changes.begin(), changes.end(),
              [](const CountChange &a, const CountChange &b) { return a.at < b.at; });
    return changes;
}

} // namespace PulseDesign::Framing
