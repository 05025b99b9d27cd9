// SPDX-License-Identifier: MIT
#pragma once

#include "train/fields.h"
#include "train/pulsedesign.h"
#include "train/waveform.h"

#include <QVector>
#include <QtAlgorithms>

#include <cmath>
#include <limits>
#include <vector>

// The pulse designer's framing search, for its own units only: which bit counts each run may
// take at a rate, where in a frame the next run may begin, and the shortest train.
namespace PulseDesign::Framing {

// The longest run in a train: a start bit and eight 0 bits, or eight 1 bits and a stop bit.
inline constexpr int kLongestRun = 9;
inline constexpr qint64 kLowestRate = 1;
inline constexpr qint64 kHighestRate = std::numeric_limits<qint32>::max();
// Slack for rounding where rates and errors are compared.
inline constexpr double kSame = 1e-12;
inline constexpr int kNoPath = std::numeric_limits<int>::max() / 2;

using BitCounts = quint16; // bit n-1 set: a run of n bit times is allowed
using Phases = quint16;    // bit p set: the next run may begin at bit p of a frame

inline int level(int run)
{
    return run % 2; // runs alternate from the first low one: 0 low, 1 high
}

inline double errorOf(int bits, double rate, double seconds)
{
    return std::abs(bits / (rate * seconds) - 1.0);
}

template<typename Each> void forEachCount(BitCounts counts, Each each)
{
    for (; counts != 0; counts &= BitCounts(counts - 1))
        each(int(qCountTrailingZeroBits(counts)) + 1);
}

// The bit counts a run of `seconds` may take at `rate` with an error of at most `largest`.
BitCounts countsWithin(double seconds, double rate, double largest);
// The same for every run.
QVector<BitCounts> countsAt(double rate, const QVector<double> &runs, double largest);

// Where the next run may begin after the first `count` runs; none when they cannot be framed.
Phases reachable(const QVector<BitCounts> &counts, int count);

// The bit times of every run and the high bits that fill the last frame.
struct Path
{
    int bits = kNoPath; // the whole train
    QVector<int> runs;
    int trailing = 0;
};

// The shortest train whose runs take allowed counts; the runs end with a low one.
Path shortest(const QVector<BitCounts> &counts);

// Whether a train with these counts can keep the length limit.
bool fitsLimit(const QVector<BitCounts> &counts, int limitBits);

// A whole rate at which run `run` gains (`on`) or loses the bit count `bit`.
struct CountChange
{
    qint64 at;
    int run;
    BitCounts bit;
    bool on;
};
// The changes of the first `count` runs' counts within `tolerance`, in ascending order of rate.
std::vector<CountChange> countChanges(const QVector<double> &runs, int count, double tolerance);

// Calls visit(first, last, counts, covered) for runs of rates in ascending order over which
// every one of the first `count` runs keeps the same bit counts within `tolerance` (`covered`
// of them have some); stops when visit returns true. Standard rates come one by one. Whole
// rates are swept from one change of counts to the next, so the cost does not depend on how
// wide the range is: no more than 18 changes per run.
template<typename Visit>
void forEachRate(Rates rates, const QVector<double> &runs, int count, double tolerance, Visit visit)
{
    QVector<BitCounts> counts(count, 0);
    if (rates == Rates::Standard) {
        for (const qint32 rate : Fields::kStandardBitRates) {
            int covered = 0;
            for (int run = 0; run < count; ++run) {
                counts[run] = countsWithin(runs[run], rate, tolerance + kSame);
                covered += counts[run] != 0;
            }
            if (visit(qint64(rate), qint64(rate), counts, covered))
                return;
        }
        return;
    }

    const std::vector<CountChange> changes = countChanges(runs, count, tolerance);
    int covered = 0;
    qint64 from = kLowestRate;
    for (size_t next = 0;;) {
        for (; next < changes.size() && changes[next].at == from; ++next) {
            BitCounts &c = counts[changes[next].run];
            const bool had = c != 0;
            c = changes[next].on ? BitCounts(c | changes[next].bit)
                                 : BitCounts(c & ~changes[next].bit);
            covered += int(c != 0) - int(had);
        }
        const qint64 to = next < changes.size() ? changes[next].at - 1 : kHighestRate;
        if (visit(from, to, counts, covered) || next == changes.size())
            return;
        from = changes[next].at;
    }
}

} // namespace PulseDesign::Framing
