// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

// The monitor's clocks: seconds that only go forward, and the time of day it prints.
double secondsNow();
QString wallClock();

// The trains as the monitor prints them: the bytes that arrive without a pause longer than the
// gap make one train, shown with its time, size, bytes and the period since the one before; an
// opening of the port ends with the sums of its periods. The monitor decides where a train ends.
class TrainLog
{
public:
    explicit TrainLog(bool allBytes)
        : m_allBytes(allBytes)
    {}

    // Bytes that arrived at `now` (secondsNow()); the first ones start a train.
    void add(const unsigned char *bytes, std::size_t count, double now);
    bool pending() const { return !m_train.empty(); }
    double lastByte() const { return m_lastByte; }

    // The line of the train so far (empty when none), which ends it.
    QString finishTrain();
    // The sums of this opening's periods (empty when there were none); the next opening starts
    // anew.
    QString finishSeries();

private:
    // Periods of one opening of the port: a new "Ponavljanje" starts a new series.
    struct Series
    {
        long trains = 0;
        double lastStart = 0.0;
        long periods = 0;
        double sum = 0.0;
        double sumSquares = 0.0;
        double min = 0.0;
        double max = 0.0;

        void add(double period)
        {
            ++periods;
            sum += period;
            sumSquares += period * period;
            min = periods == 1 ? period : std::min(min, period);
            max = periods == 1 ? period : std::max(max, period);
        }
        double mean() const { return periods > 0 ? sum / double(periods) : 0.0; }
        double deviation() const
        {
            if (periods < 2)
                return 0.0;
            const double m = mean();
            return std::sqrt(std::max(0.0, sumSquares / double(periods) - m * m));
        }
    };

    const bool m_allBytes;
    std::vector<unsigned char> m_train;
    double m_trainStart = 0.0;
    double m_lastByte = 0.0;
    QString m_trainClock;
    long m_totalTrains = 0;
    Series m_series;
};
