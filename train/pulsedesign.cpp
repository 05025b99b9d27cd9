// SPDX-License-Identifier: MIT
#include "train/pulsedesign.h"

#include "texts/pulses.h"
#include "train/fields.h"
#include "train/waveform.h"

#include <QtAlgorithms>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace PulseDesign {

namespace {

constexpr int kLongestRun = 9; // a start bit and eight 0 bits, or eight 1 bits and a stop bit
constexpr qint64 kLowestRate = 1;
constexpr qint64 kHighestRate = std::numeric_limits<qint32>::max();
// Slack for rounding where rates and errors are compared.
constexpr double kSame = 1e-12;
// Largest errors closer than this are equal: 0,01 %, the precision the answer is shown with. A
// smaller difference buys nothing on a real line (an adapter's rate divisor is seldom that
// close), while the lower rate and shorter train that come with it work on more adapters.
constexpr double kEqual = 1e-4;
constexpr int kNoPath = std::numeric_limits<int>::max() / 2;

using BitCounts = quint16; // bit n-1 set: a run of n bit times is allowed
using Phases = quint16;    // bit p set: the next run may begin at bit p of a frame

int level(int run)
{
    return run % 2; // runs alternate from the first low one: 0 low, 1 high
}

// The 8N1 frame, tabled once: a low run may not cover a stop bit (bit 9 of a frame), a high run
// not a start bit (bit 0). Longer runs than nine would cover both.
struct Framing
{
    bool allowed[2][kLongestRun + 1][kBitsPerByte] = {};
    Phases next[2][kLongestRun + 1][1 << kBitsPerByte] = {};

    Framing()
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

const Framing &framing()
{
    static const Framing table;
    return table;
}

double errorOf(int bits, double rate, double seconds)
{
    return std::abs(bits / (rate * seconds) - 1.0);
}

BitCounts fitting(double seconds, double rate, double tolerance)
{
    BitCounts counts = 0;
    for (int bits = 1; bits <= kLongestRun; ++bits)
        if (errorOf(bits, rate, seconds) <= tolerance + kSame)
            counts |= BitCounts(1 << (bits - 1));
    return counts;
}

template<typename Each> void forEachCount(BitCounts counts, Each each)
{
    for (; counts != 0; counts &= BitCounts(counts - 1))
        each(int(qCountTrailingZeroBits(counts)) + 1);
}

// Where the next run may begin after the first `count` runs; none when they cannot be framed.
Phases reachable(const QVector<BitCounts> &counts, int count)
{
    const Framing &table = framing();
    Phases at = 1; // the first low run is a start bit
    for (int run = 0; run < count && at != 0; ++run) {
        Phases to = 0;
        forEachCount(counts[run], [&](int bits) { to |= table.next[level(run)][bits][at]; });
        at = to;
    }
    return at;
}

// The bit times of every run and the high bits that fill the last frame.
struct Path
{
    int bits = kNoPath; // the whole train
    QVector<int> runs;
    int trailing = 0;
};

// The shortest train whose runs take allowed counts; the runs end with a low one.
Path shortest(const QVector<BitCounts> &counts)
{
    const Framing &table = framing();
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

int highestCount(BitCounts counts)
{
    return counts == 0 ? 0 : 16 - int(qCountLeadingZeroBits(counts));
}

// Whether a train with these counts can keep the length limit: only counted when the longest
// choice of every run might not.
bool fitsLimit(const QVector<BitCounts> &counts, int limitBits)
{
    int longest = kBitsPerByte;
    for (const BitCounts c : counts)
        longest += highestCount(c);
    return longest <= limitBits || shortest(counts).bits <= limitBits;
}

// The bit counts of every run whose error at `rate` is at most `level`.
QVector<BitCounts> countsAt(double rate, const QVector<double> &runs, double level)
{
    QVector<BitCounts> counts(runs.size(), 0);
    for (int run = 0; run < runs.size(); ++run)
        for (int bits = 1; bits <= kLongestRun; ++bits)
            if (errorOf(bits, rate, runs[run]) <= level)
                counts[run] |= BitCounts(1 << (bits - 1));
    return counts;
}

// The smallest largest error of a train within the limit at one rate, if it is within the
// tolerance. It is one of the runs' errors: the first of them, in order, at which they frame.
std::optional<double> smallestErrorAt(double rate, const QVector<double> &runs, double tolerance,
                                      int limitBits)
{
    std::vector<double> levels;
    for (const double seconds : runs) {
        for (int bits = 1; bits <= kLongestRun; ++bits) {
            const double error = errorOf(bits, rate, seconds);
            if (error <= tolerance + kSame)
                levels.push_back(error);
        }
    }
    std::sort(levels.begin(), levels.end());
    levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
    size_t low = 0;
    size_t high = levels.size();
    while (low < high) {
        const size_t middle = (low + high) / 2;
        if (shortest(countsAt(rate, runs, levels[middle])).bits <= limitBits)
            high = middle;
        else
            low = middle + 1;
    }
    if (low == levels.size())
        return std::nullopt;
    return levels[low];
}

double largestError(const QVector<double> &runs, const QVector<int> &bits, double rate)
{
    double largest = 0.0;
    for (int run = 0; run < runs.size(); ++run)
        largest = std::max(largest, errorOf(bits[run], rate, runs[run]));
    return largest;
}

// The whole rate, `lowest` or above, at which these bit counts come closest: the runs' errors
// |n / (rate d) - 1| are balanced where rate = (max n/d + min n/d) / 2.
qint64 mostExactRate(const QVector<double> &runs, const QVector<int> &bits, qint64 lowest)
{
    double most = 0.0;
    double least = std::numeric_limits<double>::infinity();
    for (int run = 0; run < runs.size(); ++run) {
        most = std::max(most, bits[run] / runs[run]);
        least = std::min(least, bits[run] / runs[run]);
    }
    const double balanced = (most + least) / 2;
    qint64 best = lowest;
    for (const double near : {std::floor(balanced), std::ceil(balanced)}) {
        const auto rate = qint64(std::clamp(near, double(lowest), double(kHighestRate)));
        if (largestError(runs, bits, double(rate)) < largestError(runs, bits, double(best)) - kSame)
            best = rate;
    }
    return best;
}

qint64 ceilToRate(double value)
{
    return value > double(kHighestRate) ? kHighestRate + 1 : qint64(std::ceil(value));
}

qint64 floorToRate(double value)
{
    return value > double(kHighestRate) ? kHighestRate : qint64(std::floor(value));
}

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
                counts[run] = fitting(runs[run], rate, tolerance);
                covered += counts[run] != 0;
            }
            if (visit(qint64(rate), qint64(rate), counts, covered))
                return;
        }
        return;
    }

    struct Change
    {
        qint64 at;
        int run;
        BitCounts bit;
        bool on;
    };
    std::vector<Change> changes;
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
              [](const Change &a, const Change &b) { return a.at < b.at; });
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

// The lowest whole rate at which every run gets a count within `tolerance`, they frame and the
// train keeps the limit; 0 if there is none.
qint64 lowestRate(const QVector<double> &runs, double tolerance, int limitBits)
{
    const int count = int(runs.size());
    qint64 found = 0;
    forEachRate(Rates::Any, runs, count, tolerance,
                [&](qint64 first, qint64, const QVector<BitCounts> &counts, int covered) {
                    if (covered < count || reachable(counts, count) == 0 ||
                        !fitsLimit(counts, limitBits))
                        return false;
                    found = first;
                    return true;
                });
    return found;
}

// The smallest error a run of `seconds` can have at a rate from `first` to `last`.
double nearestError(double seconds, qint64 first, qint64 last)
{
    double nearest = std::numeric_limits<double>::infinity();
    for (int bits = 1; bits <= kLongestRun; ++bits) {
        const double exact = bits / seconds;
        for (const double rate : {std::floor(exact), std::ceil(exact)}) {
            const double at = std::clamp(rate, double(first), double(last));
            nearest = std::min(nearest, errorOf(bits, at, seconds));
        }
    }
    return nearest;
}

// Why the pattern cannot be made: the first run that no rate makes together with the runs
// before it, and what it would need at the rates that make those.
QString refusalFor(const QVector<Pulse> &pulses, int firstRun, const QVector<double> &runs,
                   const Options &options, int limitBytes)
{
    const int count = int(runs.size());
    const auto framed = [&](int prefix) {
        bool any = false;
        forEachRate(options.rates, runs, prefix, options.tolerance,
                    [&](qint64, qint64, const QVector<BitCounts> &counts, int covered) {
                        any = covered == prefix && reachable(counts, prefix) != 0;
                        return any;
                    });
        return any;
    };
    // Framing a longer prefix is never easier: halve to the first one that fails.
    int low = 1;
    int high = count + 1;
    while (low < high) {
        const int middle = (low + high) / 2;
        if (framed(middle))
            low = middle + 1;
        else
            high = middle;
    }
    if (low > count)
        return OperatorText::pulsesTooLongForTrain(limitBytes);

    const int run = low - 1;
    const double seconds = runs[run];
    bool framingFault = false;
    bool longer = true;
    bool shorter = true;
    double nearest = std::numeric_limits<double>::infinity();
    forEachRate(options.rates, runs, run + 1, options.tolerance,
                [&](qint64 first, qint64 last, const QVector<BitCounts> &counts, int) {
                    if (reachable(counts, run) == 0)
                        return false;
                    framingFault = framingFault || counts[run] != 0;
                    longer = longer && double(first) * seconds > kLongestRun;
                    shorter = shorter && double(last) * seconds < 1.0;
                    nearest = std::min(nearest, nearestError(seconds, first, last));
                    return false;
                });
    const Pulse &pulse = pulses[firstRun + run];
    const int number = firstRun + run + 1;
    const bool isLow = pulse.level == Level::Low;
    const auto scope = [&](bool before) {
        if (options.rates == Rates::Standard)
            return before ? OperatorText::PulseScope::StandardRatesOfThoseBefore
                          : OperatorText::PulseScope::StandardRates;
        return before ? OperatorText::PulseScope::RatesOfThoseBefore
                      : OperatorText::PulseScope::AllRates;
    }(run > 0);
    if (framingFault)
        return OperatorText::pulseNotFramed(number, pulse.token, isLow, scope);
    if (longer)
        return OperatorText::pulseLongerThanNineBits(number, pulse.token, isLow, scope);
    if (shorter)
        return OperatorText::pulseShorterThanOneBit(number, pulse.token, scope);
    return OperatorText::pulseNotWholeBits(number, pulse.token, scope, nearest, options.tolerance);
}

Design build(const QVector<Pulse> &pulses, int firstRun, qint32 rate, const Path &path)
{
    Design design;
    design.bitRate = rate;
    design.trailingBits = path.trailing;
    QVector<bool> line;
    for (int run = 0; run < path.runs.size(); ++run)
        line.insert(line.size(), path.runs[run], level(run) == 1);
    line.insert(line.size(), path.trailing, true);
    for (qsizetype frame = 0; frame + kBitsPerByte <= line.size(); frame += kBitsPerByte) {
        quint8 byte = 0;
        for (int bit = 0; bit < 8; ++bit)
            byte |= quint8(line[frame + 1 + bit] ? 1 << bit : 0);
        design.bytes.append(char(byte));
    }
    for (int index = 0; index < pulses.size(); ++index) {
        MadePulse made;
        made.wanted = pulses[index];
        const int run = index - firstRun;
        if (run < 0) {
            made.role = Role::IdleBefore;
        } else if (run >= path.runs.size()) {
            made.role = Role::IdleAfter;
            made.bits = path.trailing;
            made.seconds = double(path.trailing) / rate;
        } else {
            made.bits = path.runs[run];
            made.seconds = double(made.bits) / rate;
            made.error = errorOf(made.bits, rate, made.wanted.seconds);
            design.largestError = std::max(design.largestError, made.error);
        }
        design.pulses.append(made);
    }
    return design;
}

} // namespace

Answer design(const QString &pattern, const Options &options)
{
    Answer answer;
    const auto pulses = parsePattern(pattern, &answer.refusal);
    if (!pulses)
        return answer;
    // A high pulse first or last is idle line: the train runs from the first low pulse to the
    // last one and ends with the high bits that fill its last frame.
    const int firstRun = pulses->first().level == Level::High ? 1 : 0;
    const int endRun = int(pulses->size()) - (pulses->last().level == Level::High ? 1 : 0);
    if (endRun <= firstRun) {
        answer.refusal = OperatorText::pulsesWithoutLow();
        return answer;
    }
    QVector<double> runs;
    for (int index = firstRun; index < endRun; ++index)
        runs.append(pulses->at(index).seconds);

    const int limitBytes = trainCapacity(options.terminator);
    const int limitBits = limitBytes * kBitsPerByte;
    // Every run takes a bit time at least, and the train a high one at its end.
    if (runs.size() + 1 > limitBits) {
        answer.refusal = OperatorText::pulsesTooLongForTrain(limitBytes);
        return answer;
    }

    // First the smallest largest error any rate gives; then the lowest rate that comes within
    // kEqual of it (for whole rates: with the same bit counts, the most exact rate near it), and
    // there the shortest train.
    qint64 rate = 0;
    double equal = 0.0;
    if (options.rates == Rates::Standard) {
        std::optional<double> smallest;
        for (const qint32 standard : Fields::kStandardBitRates) {
            const auto error = smallestErrorAt(standard, runs, options.tolerance, limitBits);
            if (error && (!smallest || *error < *smallest))
                smallest = error;
        }
        if (smallest) {
            equal = std::min(*smallest + kEqual, options.tolerance);
            for (const qint32 standard : Fields::kStandardBitRates) {
                const auto error = smallestErrorAt(standard, runs, options.tolerance, limitBits);
                if (error && *error <= equal + kSame) {
                    rate = standard;
                    break;
                }
            }
        }
    } else if (lowestRate(runs, options.tolerance, limitBits) != 0) {
        // Halve the error allowed down to the smallest that some rate still reaches.
        double feasible = options.tolerance;
        double infeasible = -kSame;
        while (feasible - infeasible > kEqual / 1000) {
            const double middle = (feasible + infeasible) / 2;
            if (lowestRate(runs, middle, limitBits) != 0)
                feasible = middle;
            else
                infeasible = middle;
        }
        equal = std::min(feasible + kEqual, options.tolerance);
        rate = lowestRate(runs, equal, limitBits);
        // The first rate that comes close enough sits at the edge of its bit counts; the same
        // counts are most exact further in, where the runs' errors are balanced.
        const Path counts = shortest(countsAt(double(rate), runs, equal + 4 * kSame));
        rate = mostExactRate(runs, counts.runs, rate);
        equal = largestError(runs, counts.runs, double(rate));
    }
    // The sweep rounds rates with a slack of kSame; the counts here allow for it.
    const Path path =
        rate == 0 ? Path() : shortest(countsAt(double(rate), runs, equal + 4 * kSame));
    if (path.bits > limitBits) {
        answer.refusal = refusalFor(*pulses, firstRun, runs, options, limitBytes);
        return answer;
    }
    answer.design = build(*pulses, firstRun, qint32(rate), path);
    return answer;
}

} // namespace PulseDesign
