// SPDX-License-Identifier: MIT
#pragma once

// Stand-ins for the window's seams: a port device, the timer, the fields and the message boxes.

#include "serial/commcontrol.h"
#include "texts/failures.h"
#include "train/engine.h"
#include "train/panel.h"
#include "train/traintimer.h"

#include <QList>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

// What a fake device saw, shared with the test after the device itself is gone.
struct FakeLine
{
    QStringList calls; // "open /dev/x 115200 dtr=1 rts=0", "dtr 0", "write 10", "close"
    QList<QByteArray> writes;
    bool open = false;
    // Once set, writes and line changes fail and the device closes itself.
    std::optional<PortFailure> failWrite;
    qint64 waiting = 0; // held by the driver: counts against the queue bound
    PortDevice::FailureHandler background;
    std::function<void()> whileWriting; // runs inside each write, as a send makes it
};

class FakeDevice : public PortDevice
{
public:
    explicit FakeDevice(std::shared_ptr<FakeLine> line)
        : m_line(std::move(line))
    {}

    std::optional<PortFailure> open(const QString &path, qint32 baudRate, bool dtr,
                                    bool rts) override
    {
        m_line->calls << QStringLiteral("open %1 %2 dtr=%3 rts=%4")
                             .arg(path, QString::number(baudRate), QString::number(dtr),
                                  QString::number(rts));
        m_line->open = true;
        return std::nullopt;
    }
    bool isOpen() const override { return m_line->open; }
    std::optional<PortFailure> setDtr(bool on) override { return setLine("dtr", on); }
    std::optional<PortFailure> setRts(bool on) override { return setLine("rts", on); }
    std::optional<PortFailure> write(const QByteArray &bytes, qint64 limit) override
    {
        m_line->calls << QStringLiteral("write %1").arg(bytes.size());
        if (m_line->whileWriting)
            m_line->whileWriting();
        if (auto failure = failIfDead())
            return failure;
        if (m_line->waiting + bytes.size() > limit) // the device stays open
            return PortFailure{PortError::QueueFull, QStringLiteral("pun"),
                               OperatorText::kSourcePort};
        m_line->writes << bytes;
        return std::nullopt;
    }
    qint64 bytesWaiting() const override { return m_line->waiting; }
    std::optional<PortFailure> close() override
    {
        m_line->calls << QStringLiteral("close");
        m_line->open = false;
        return std::nullopt;
    }
    void setBackgroundFailureHandler(FailureHandler handler) override
    {
        m_line->background = std::move(handler);
    }

private:
    std::optional<PortFailure> setLine(const char *name, bool on)
    {
        m_line->calls << QStringLiteral("%1 %2").arg(QLatin1String(name)).arg(int(on));
        return failIfDead();
    }
    std::optional<PortFailure> failIfDead()
    {
        if (m_line->failWrite)
            m_line->open = false;
        return m_line->failWrite;
    }

    std::shared_ptr<FakeLine> m_line;
};

// Every number up to `ports` leads to /dev/ttyUSB<N-1>; no links.
inline PortMap fakePortMap(int ports)
{
    QStringList list;
    for (int i = 0; i < ports; ++i)
        list << QStringLiteral("/dev/ttyUSB%1").arg(i);
    return PortMap([list] { return list; }, QStringLiteral("/nonexistent-vorlagen-links"));
}

// Ticks only when the test says so; remembers every schedule it began.
class FakeTimer : public TrainTimer
{
public:
    void setTickHandler(TickHandler handler) override { m_handler = std::move(handler); }
    void setInterval(int milliseconds) override
    {
        m_interval = milliseconds;
        ++m_schedule;
    }
    int interval() const override { return m_interval; }
    void setEnabled(bool enabled) override
    {
        m_enabled = enabled;
        ++m_schedule;
    }
    bool isEnabled() const override { return m_enabled; }
    bool isCurrent(quint64 schedule) const override
    {
        return m_enabled && m_interval > 0 && schedule == m_schedule;
    }
    quint64 missedDeadlines() const override { return m_missed; }

    // A tick of the running schedule, as the real timer delivers it (false when none is due); or,
    // given an older `schedule`, a tick that was due before the last command and arrives after it.
    bool tick(std::optional<quint64> schedule = std::nullopt)
    {
        if (!m_handler || (!schedule && (!m_enabled || m_interval <= 0)))
            return false;
        m_handler(schedule.value_or(m_schedule));
        return true;
    }
    quint64 schedule() const { return m_schedule; }

    quint64 m_missed = 0;

private:
    TickHandler m_handler;
    int m_interval = 0;
    bool m_enabled = true;
    quint64 m_schedule = 0;
};

using FakePanel = FieldValues;

// The engine as every program wires it, over fake devices and a timer the test ticks
// (Engine::timer() is a FakeTimer).
inline Engine::Parts fakeParts(const std::shared_ptr<FakeLine> &line, int ports = 4)
{
    return Engine::Parts{[line] { return std::make_unique<FakeDevice>(line); }, fakePortMap(ports),
                         std::make_unique<FakeTimer>()};
}

struct Box
{
    QString kind; // "critical" or "information"
    QString title;
    QString text;
};

class RecordingMessenger : public Messenger
{
public:
    QList<Box> boxes;
    std::function<void()> whileShown; // runs "inside" the modal box
    int shown = 0, mostAtOnce = 0;    // boxes up now, and the most at once

    void critical(const QString &title, const QString &text) override
    {
        show(QStringLiteral("critical"), title, text);
    }
    void information(const QString &title, const QString &text) override
    {
        show(QStringLiteral("information"), title, text);
    }
    void show(const QString &kind, const QString &title, const QString &text)
    {
        boxes.append({kind, title, text});
        mostAtOnce = qMax(mostAtOnce, ++shown);
        if (whileShown)
            whileShown();
        --shown;
    }
};
