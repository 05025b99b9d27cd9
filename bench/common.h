// SPDX-License-Identifier: MIT
#pragma once

// What every part of the period benchmark shares: the clock, the train it sends, and small
// helpers for statistics and CPU time.

#include <QtGlobal>
#include <chrono>
#include <ctime>
#include <pthread.h>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

constexpr qint16 kComNumber = 7;
inline constexpr char kTrainText[] = "F0 F0 F0 F0 F0 F0 F0 F0 F0 F0"; // the window's default
constexpr int kTrainBytes = 10;
constexpr unsigned char kTrainByte = 0xF0;

inline double toUs(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

inline double toMs(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double percentile(std::vector<double> values, double p);
double median(std::vector<double> values);
// CPU time of the whole process, in seconds.
double processCpuSeconds();
// The 1-minute load average.
double loadAverage();

// CPU time a running thread has used so far.
class ThreadCpu
{
public:
    explicit ThreadCpu(std::thread &thread);
    double seconds() const;

private:
    clockid_t m_clock{};
};
