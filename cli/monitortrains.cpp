// SPDX-License-Identifier: MIT
#include "cli/monitortrains.h"

#include "cli/monitoroptions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

// "100,02": the operator's decimal comma.
std::string decimal(double value, int decimals, bool sign = false)
{
    char text[64];
    std::snprintf(text, sizeof text, sign ? "%+.*f" : "%.*f", decimals, value);
    std::string result = text;
    std::replace(result.begin(), result.end(), '.', ',');
    return result;
}

} // namespace

double secondsNow()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

std::string wallClock()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min,
                  local.tm_sec, long(now.tv_nsec / 1000000));
    return text;
}

void TrainLog::add(const unsigned char *bytes, std::size_t count, double now)
{
    if (m_train.empty()) {
        m_trainStart = now;
        m_trainClock = wallClock();
    }
    m_train.insert(m_train.end(), bytes, bytes + count);
    m_lastByte = now;
}

std::string TrainLog::finishTrain()
{
    if (m_train.empty())
        return {};
    ++m_totalTrains;

    std::string line = m_trainClock + "  #" + std::to_string(m_totalTrains) + "  " +
                       std::to_string(m_train.size()) + " B ";
    const size_t shown =
        m_allBytes ? m_train.size() : std::min(m_train.size(), MonitorOptions::kShownBytes);
    for (size_t i = 0; i < shown; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", m_train[i]);
        line += hex;
    }
    if (shown < m_train.size())
        line += " ... (jos " + std::to_string(m_train.size() - shown) + ")";

    if (m_series.trains > 0) {
        const double period = (m_trainStart - m_series.lastStart) * 1000.0;
        m_series.add(period);
        line += "  perioda " + decimal(period, 2) + " ms";
        if (m_series.periods > 1)
            line += ", odstupanje " + decimal(period - m_series.mean(), 2, true) + " ms";
    }
    ++m_series.trains;
    m_series.lastStart = m_trainStart;
    m_train.clear();
    return line;
}

std::string TrainLog::finishSeries()
{
    std::string line;
    if (m_series.periods > 0) {
        line = "Povorki: " + std::to_string(m_series.trains) + "; perioda srednja " +
               decimal(m_series.mean(), 3) + " ms, najmanja " + decimal(m_series.min, 3) +
               " ms, najveca " + decimal(m_series.max, 3) + " ms, odstupanje (std.) " +
               decimal(m_series.deviation(), 3) + " ms";
    }
    m_series = Series{};
    return line;
}
