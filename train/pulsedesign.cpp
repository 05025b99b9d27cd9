// SPDX-License-Identifier: MIT
#include "train/pulsedesign.h"

#include "texts/pulses.h"
#include "train/pulseframing_p.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

// The design: the rate search, the refusal when there is no rate, and the train at the rate.
namespace PulseDesign {

using namespace Framing;

// The steps of the design, in the order design() takes them.
namespace {

// Largest errors closer than this are equal: 0,01 %, the precision the answer is shown with. A
// smaller difference buys nothing on a real line (an adapter's rate divisor is seldom that
// close), while the lower rate and shorter train that come with it work on more adapters.
constexpr double kEqual = 1e-4;

// The runs of the train: from the first low pulse to the last one. A high pulse first or last is
// idle line; the train ends with the high bits that fill its last frame.
struct Runs
{
    int first = 0; // the pulse the train begins with
    QVector<double> seconds;
};

Runs runsOf(const QVector<Pulse> &pulses)
{
    Runs runs;
    runs.first = pulses.first().level == Level::High ? 1 : 0;
    const int end = int(pulses.size()) - (pulses.last().level == Level::High ? 1 : 0);
    for (int index = runs.first; index < end; ++index)
        runs.seconds.append(pulses[index].seconds);
    return runs;
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

// The rate chosen, 0 if none, and the largest error that counts as equal to the best there.
struct Choice
{
    qint64 rate = 0;
    double equal = 0.0;
};

// Among the standard rates: the smallest largest error any of them gives, then the lowest rate
// that comes within kEqual of it.
Choice standardRate(const QVector<double> &runs, double tolerance, int limitBits)
{
    std::array<std::optional<double>, std::size(Fields::kStandardBitRates)> errors;
    std::optional<double> smallest;
    for (size_t index = 0; index < errors.size(); ++index) {
        errors[index] =
            smallestErrorAt(Fields::kStandardBitRates[index], runs, tolerance, limitBits);
        if (errors[index] && (!smallest || *errors[index] < *smallest))
            smallest = errors[index];
    }
    if (!smallest)
        return {};
    const double equal = std::min(*smallest + kEqual, tolerance);
    for (size_t index = 0; index < errors.size(); ++index)
        if (errors[index] && *errors[index] <= equal + kSame)
            return {Fields::kStandardBitRates[index], equal};
    return {};
}

// Among the whole rates: the smallest largest error any of them gives, then the lowest rate that
// comes within kEqual of it with the same bit counts, at the most exact rate near it.
Choice wholeRate(const QVector<double> &runs, double tolerance, int limitBits)
{
    if (lowestRate(runs, tolerance, limitBits) == 0)
        return {};
    // Halve the error allowed down to the smallest that some rate still reaches.
    double feasible = tolerance;
    double infeasible = -kSame;
    while (feasible - infeasible > kEqual / 1000) {
        const double middle = (feasible + infeasible) / 2;
        if (lowestRate(runs, middle, limitBits) != 0)
            feasible = middle;
        else
            infeasible = middle;
    }
    const double equal = std::min(feasible + kEqual, tolerance);
    const qint64 first = lowestRate(runs, equal, limitBits);
    // The first rate that comes close enough sits at the edge of its bit counts; the same counts
    // are most exact further in, where the runs' errors are balanced.
    const Path counts = shortest(countsAt(double(first), runs, equal + 4 * kSame));
    const qint64 rate = mostExactRate(runs, counts.runs, first);
    return {rate, largestError(runs, counts.runs, double(rate))};
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

// How many of the runs, from the first, some rate makes together: framing a longer prefix is
// never easier, so halve to the first one that fails.
int framedRuns(const QVector<double> &runs, const Options &options)
{
    const auto framed = [&](int prefix) {
        bool any = false;
        forEachRate(options.rates, runs, prefix, options.tolerance,
                    [&](qint64, qint64, const QVector<BitCounts> &counts, int covered) {
                        any = covered == prefix && reachable(counts, prefix) != 0;
                        return any;
                    });
        return any;
    };
    int low = 1;
    int high = int(runs.size()) + 1;
    while (low < high) {
        const int middle = (low + high) / 2;
        if (framed(middle))
            low = middle + 1;
        else
            high = middle;
    }
    return low - 1;
}

// What a run lacks at every rate that makes the runs before it: a place in the frame, or a
// length of 1 to 9 bits, or else its nearest error.
struct Shortfall
{
    bool unframed = false;
    bool longer = true;
    bool shorter = true;
    double nearest = std::numeric_limits<double>::infinity();
};

Shortfall shortfallOf(const QVector<double> &runs, int run, const Options &options)
{
    const double seconds = runs[run];
    Shortfall lacks;
    forEachRate(options.rates, runs, run + 1, options.tolerance,
                [&](qint64 first, qint64 last, const QVector<BitCounts> &counts, int) {
                    if (reachable(counts, run) == 0)
                        return false;
                    lacks.unframed = lacks.unframed || counts[run] != 0;
                    lacks.longer = lacks.longer && double(first) * seconds > kLongestRun;
                    lacks.shorter = lacks.shorter && double(last) * seconds < 1.0;
                    lacks.nearest = std::min(lacks.nearest, nearestError(seconds, first, last));
                    return false;
                });
    return lacks;
}

OperatorText::PulseScope scopeOf(Rates rates, bool afterOthers)
{
    if (rates == Rates::Standard)
        return afterOthers ? OperatorText::PulseScope::StandardRatesOfThoseBefore
                           : OperatorText::PulseScope::StandardRates;
    return afterOthers ? OperatorText::PulseScope::RatesOfThoseBefore
                       : OperatorText::PulseScope::AllRates;
}

// Why the pattern cannot be made: the first run that no rate makes together with the runs
// before it, and what it would need at the rates that make those.
QString refusalFor(const QVector<Pulse> &pulses, const Runs &runs, const Options &options,
                   int limitBytes)
{
    const int run = framedRuns(runs.seconds, options);
    if (run == runs.seconds.size())
        return OperatorText::pulsesTooLongForTrain(limitBytes);
    const Shortfall lacks = shortfallOf(runs.seconds, run, options);
    const Pulse &pulse = pulses[runs.first + run];
    const int number = runs.first + run + 1;
    const bool isLow = pulse.level == Level::Low;
    const auto scope = scopeOf(options.rates, run > 0);
    if (lacks.unframed)
        return OperatorText::pulseNotFramed(number, pulse.token, isLow, scope);
    if (lacks.longer)
        return OperatorText::pulseLongerThanNineBits(number, pulse.token, isLow, scope);
    if (lacks.shorter)
        return OperatorText::pulseShorterThanOneBit(number, pulse.token, scope);
    return OperatorText::pulseNotWholeBits(number, pulse.token, scope, lacks.nearest,
                                           options.tolerance);
}

// The bytes whose frames carry the path's runs and its trailing high bits.
QByteArray bytesOf(const Path &path)
{
    QVector<bool> line;
    for (int run = 0; run < path.runs.size(); ++run)
        line.insert(line.size(), path.runs[run], level(run) == 1);
    line.insert(line.size(), path.trailing, true);
    QByteArray bytes;
    for (qsizetype frame = 0; frame + kBitsPerByte <= line.size(); frame += kBitsPerByte) {
        quint8 byte = 0;
        for (int bit = 0; bit < 8; ++bit)
            byte |= quint8(line[frame + 1 + bit] ? 1 << bit : 0);
        bytes.append(char(byte));
    }
    return bytes;
}

Design build(const QVector<Pulse> &pulses, int firstRun, qint32 rate, const Path &path)
{
    Design design;
    design.bitRate = rate;
    design.trailingBits = path.trailing;
    design.bytes = bytesOf(path);
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
    const Runs runs = runsOf(*pulses);
    if (runs.seconds.isEmpty()) {
        answer.refusal = OperatorText::pulsesWithoutLow();
        return answer;
    }
    const int limitBytes = trainCapacity(options.terminator);
    const int limitBits = limitBytes * kBitsPerByte;
    // Every run takes a bit time at least, and the train a high one at its end.
    if (runs.seconds.size() + 1 > limitBits) {
        answer.refusal = OperatorText::pulsesTooLongForTrain(limitBytes);
        return answer;
    }
    const Choice choice = options.rates == Rates::Standard
                              ? standardRate(runs.seconds, options.tolerance, limitBits)
                              : wholeRate(runs.seconds, options.tolerance, limitBits);
    // The sweep rounds rates with a slack of kSame; the counts here allow for it.
    const Path path =
        choice.rate == 0
            ? Path()
            : shortest(countsAt(double(choice.rate), runs.seconds, choice.equal + 4 * kSame));
    if (path.bits > limitBits) {
        answer.refusal = refusalFor(*pulses, runs, options, limitBytes);
        return answer;
    }
    answer.design = build(*pulses, runs.first, qint32(choice.rate), path);
    return answer;
}

} // namespace PulseDesign
