// SPDX-License-Identifier: MIT
#include "cli/monitortrains.h"

#include "cli/monitoroptions.h"
#include "texts/monitor.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

double secondsNow()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

QString wallClock()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min,
                  local.tm_sec, long(now.tv_nsec / 1000000));
    return QString::fromLatin1(text);
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

QString TrainLog::finishTrain()
{
    if (m_train.empty())
        return {};
    OperatorText::ArrivedTrain train;
    train.clock = m_trainClock;
    train.number = ++m_totalTrains;
    train.size = qint64(m_train.size());
    const size_t shown =
        m_allBytes ? m_train.size() : std::min(m_train.size(), MonitorOptions::kShownBytes);
    train.shown = QByteArray(reinterpret_cast<const char *>(m_train.data()), qsizetype(shown));
    if (m_series.trains > 0) {
        const double period = (m_trainStart - m_series.lastStart) * 1000.0;
        m_series.add(period);
        train.periodMs = period;
        if (m_series.periods > 1)
            train.deviationMs = period - m_series.mean();
    }
    ++m_series.trains;
    m_series.lastStart = m_trainStart;
    m_train.clear();
    return OperatorText::arrivedTrain(train);
}

QString TrainLog::finishSeries()
{
    QString line;
    if (m_series.periods > 0) {
        line = OperatorText::periodSums(m_series.trains, m_series.mean(), m_series.min,
                                        m_series.max, m_series.deviation());
    }
    m_series = Series{};
    return line;
}
