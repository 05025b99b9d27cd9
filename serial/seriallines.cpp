// SPDX-License-Identifier: MIT
#include "serial/seriallines.h"

#include "serial/serialline.h"
#include "texts/failures.h"

#include <QIODevice>
#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono_literals;

SerialLines::SerialLines(QObject *parent)
    : QObject(parent)
{}

SerialLines::~SerialLines()
{
    finish(kExitGrace);
}

SerialLines::Taken SerialLines::takeOver(const QString &path, qint32 rate,
                                         PortDevice::FailureHandler handler)
{
    Q_ASSERT(thread() == QThread::currentThread());
    const auto it = m_lines.find(path);
    if (it == m_lines.end())
        return {};
    if (it->second->reclaim(rate, std::move(handler)))
        return {it->second, std::nullopt};
    if (it->second->state() == SerialLine::State::Owned)
        return {nullptr, OperatorText::portOpenInThisProgram(path)};
    // Gone: closed now, and the device opens afresh.
    closeLine(*it->second, SerialLine::Leftovers::Discard);
    m_lines.erase(it);
    return {};
}

std::shared_ptr<SerialLine> SerialLines::start(const QString &path,
                                               std::unique_ptr<LineDriver> driver,
                                               std::unique_ptr<QIODevice> port, qint32 rate,
                                               PortDevice::FailureHandler handler,
                                               std::optional<PortFailure> *failure)
{
    Q_ASSERT(thread() == QThread::currentThread());
    driver->claimExclusive();
    qint32 applied = 0;
    const LineDriver::Status rated = driver->setRate(rate, &applied);
    if (m_lines.count(path))
        *failure = OperatorText::portOpenInThisProgram(path);
    else if (rated != LineDriver::Status::Ok || !SerialLine::closeEnough(rate, applied))
        *failure = OperatorText::rateNotAccepted(path, rate,
                                                 rated == LineDriver::Status::Ok ? applied : 0);
    if (*failure) {
        driver->releaseHandle();
        if (port)
            port->close();
        return nullptr;
    }
    // A worker says so from its own thread; the close runs here.
    auto closeWanted = [this] {
        QMetaObject::invokeMethod(this, &SerialLines::closeFinished, Qt::QueuedConnection);
    };
    auto line = std::make_shared<SerialLine>(path, std::move(driver), std::move(port), rate,
                                             applied, std::move(handler), std::move(closeWanted));
    m_lines.emplace(path, line);
    return line;
}

void SerialLines::closeFinished()
{
    for (auto it = m_lines.begin(); it != m_lines.end();) {
        if (it->second->finished()) {
            closeLine(*it->second, SerialLine::Leftovers::Keep);
            it = m_lines.erase(it);
        } else {
            ++it;
        }
    }
}

void SerialLines::closeLine(SerialLine &line, SerialLine::Leftovers leftovers)
{
    line.close(leftovers);
    const SerialLine::Counts counts = line.counts();
    m_tally.written += counts.accepted;
    m_tally.lost += counts.lost;
    m_tally.failedLines += counts.failed ? 1 : 0;
}

SerialLines::Tally SerialLines::finish(std::chrono::milliseconds grace,
                                       const std::function<Urgency()> &urgency)
{
    Q_ASSERT(thread() == QThread::currentThread());
    auto deadline = std::chrono::steady_clock::now() + grace;
    bool cut = false;
    // Held lines are let go as a close would: every worker then drains its line, and a device
    // closes only once its last bytes have left (a close may put back the settings it had).
    for (const auto &entry : m_lines)
        entry.second->release();
    while (!m_lines.empty()) {
        const Urgency asked = urgency ? urgency() : Urgency::None;
        const auto time = std::chrono::steady_clock::now();
        if (asked != Urgency::None && !std::exchange(cut, true))
            deadline = std::min(deadline, time + kExitGrace);
        const bool now = time >= deadline || asked == Urgency::Now;
        for (auto it = m_lines.begin(); it != m_lines.end();) {
            if (now || it->second->finished()) {
                closeLine(*it->second,
                          now ? SerialLine::Leftovers::Discard : SerialLine::Leftovers::Keep);
                it = m_lines.erase(it);
            } else {
                ++it;
            }
        }
        if (!m_lines.empty())
            std::this_thread::sleep_for(10ms);
    }
    return m_tally;
}
