// SPDX-License-Identifier: MIT
#pragma once

#include "bench/common.h"
#include "bench/figures.h"
#include "bench/pty.h"
#include "train/engine.h"
#include "train/panel.h"

#include <QObject>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <thread>

class LinePreview;
class QLineEdit;
class SerialLines;
class TickProbe;
class VorlaGen;

class BenchMessenger : public Messenger
{
public:
    void critical(const QString &title, const QString &text) override { show(title, text); }
    void information(const QString &title, const QString &text) override { show(title, text); }
    int shown = 0;

private:
    void show(const QString &title, const QString &text);
};

// What the bench drives: the send logic headless, or the real window through its controls. Both
// are made over the program's own engine parts, with the probe around its timer and devices.
class Driver
{
public:
    virtual ~Driver() = default;
    // "Ponavljanje" with the period.
    virtual void repeat(int periodMs) = 0;
    virtual void stop() = 0;
    virtual quint64 sent() const = 0;
    virtual quint64 missed() const = 0;
    virtual const CommControl &port() const = 0;
    // How the program's sender thread runs (waits until it has asked).
    SenderPriority priority() const
    {
        return m_priority.valid() ? m_priority.get() : SenderPriority();
    }

protected:
    std::shared_future<SenderPriority> m_priority;
};

class HeadlessDriver : public Driver
{
public:
    HeadlessDriver(SerialLines &lines, Messenger &messenger, TickProbe &probe);
    void repeat(int periodMs) override;
    void stop() override { m_engine->sender().cmdStop_Click(); }
    quint64 sent() const override { return m_engine->sender().trainsSent(); }
    quint64 missed() const override { return m_engine->sender().deadlinesMissed(); }
    const CommControl &port() const override { return m_engine->port(); }

private:
    FieldValues m_panel;
    std::unique_ptr<Engine> m_engine;
};

// The window as the operator has it, shown on the offscreen platform; the bench types into its
// fields and clicks its buttons.
class WindowDriver : public Driver
{
public:
    WindowDriver(SerialLines &lines, Messenger &messenger, TickProbe &probe);
    ~WindowDriver() override;
    void repeat(int periodMs) override;
    void stop() override;
    quint64 sent() const override;
    quint64 missed() const override;
    const CommControl &port() const override;
    QLineEdit *field(const char *name) const;
    const LinePreview *preview() const;

private:
    VorlaGen *m_window;
};

// Reads the program's counters as fast as it can, at the lowest priority there is (SCHED_IDLE):
// the window's polling as a busy machine treats it, many times over. Any other thread takes the
// CPU from it, also in the middle of a read; a lock the read takes is held all that time, and a
// tick that needs the lock waits with it.
class Poller
{
public:
    explicit Poller(const Driver &driver);
    ~Poller();
    Poller(const Poller &) = delete;
    Poller &operator=(const Poller &) = delete;
    quint64 reads() const { return m_reads.load(); }
    double cpu() const { return m_cpu.seconds(); }

private:
    const Driver &m_driver;
    std::atomic<bool> m_stop{false};
    std::atomic<quint64> m_reads{0};
    std::atomic<quint64> m_seen{0};
    std::thread m_thread;
    ThreadCpu m_cpu;
};

// Runs the event loop (the window's, in window mode) until `until`.
void runEventsUntil(Clock::time_point until);

// Posts a zero-delay single shot to the main thread's event loop every few ms and, while
// recording, notes how long each took to run there.
class Poster
{
public:
    explicit Poster(QObject *mainThreadContext);
    ~Poster() { stop(); }
    Poster(const Poster &) = delete;
    Poster &operator=(const Poster &) = delete;

    void record(bool on) { m_recording = on; }
    void stop();
    // Filled on the main thread, as its event loop runs the posts.
    std::shared_ptr<std::vector<double>> latencies() const { return m_latencies; }
    double cpu() const { return m_cpu.seconds(); }

private:
    void run();

    QObject *m_context;
    std::shared_ptr<std::vector<double>> m_latencies;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_recording{false};
    std::thread m_thread;
    ThreadCpu m_cpu;
};

// What the run asks of the rest of the bench: CPU time so far, in seconds, of the bench's own
// threads (taken out of the process's) and of the program's sender thread; and when the
// repetition was armed, as the probe saw it (the epoch where it did not).
struct RunSources
{
    std::function<double()> others;
    std::function<double()> sender;
    std::function<Clock::time_point()> armed;
};

// The program's path: "Ponavljanje" with the period, `count` periods later "STOP". CPU is
// measured over the first half.
Figures runSender(Driver &driver, const Pty &pty, int periodMs, size_t count,
                  const RunSources &sources);

// The idle window's CPU in % of one core, over `seconds`.
double idleCpuPercent(double seconds);

struct Keystrokes
{
    int count = 0;
    double cpuMsEach = NAN; // the whole process, idle share taken out
    int listings = 0;       // port listings they caused
};
Keystrokes measureKeystrokes(WindowDriver &window, int count, double idlePercent);
