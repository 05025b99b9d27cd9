// SPDX-License-Identifier: MIT
#include "bench/common.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const size_t rank = size_t(std::ceil(p * double(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

double median(std::vector<double> values)
{
    return percentile(std::move(values), 0.5);
}

double processCpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double loadAverage()
{
    double load[1] = {NAN};
    ::getloadavg(load, 1);
    return load[0];
}

ThreadCpu::ThreadCpu(std::thread &thread)
{
    if (::pthread_getcpuclockid(thread.native_handle(), &m_clock) != 0)
        m_clock = CLOCK_THREAD_CPUTIME_ID;
}

double ThreadCpu::seconds() const
{
    timespec t{};
    ::clock_gettime(m_clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}
