// SPDX-License-Identifier: MIT
#include "bench/drivers.h"

#include "app/linepreview.h"
#include "app/vorlagen.h"
#include "bench/probe.h"
#include "serial/seriallines.h"

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr auto kPostEvery = 3ms; // how often the event loop's latency is sampled

// The window's fields as the bench sets them: defaults, on COM7.
FieldValues benchFields()
{
    FieldValues fields;
    fields.port = QString::number(kComNumber);
    fields.train = QString::fromLatin1(kTrainText);
    return fields;
}

Engine::Parts probedParts(SerialLines &lines, TickProbe &probe,
                          std::shared_future<SenderPriority> &priority)
{
    Engine::Parts parts = Engine::systemParts(lines);
    probe.wrap(parts);
    priority = parts.priority;
    return parts;
}

} // namespace

void BenchMessenger::show(const QString &title, const QString &text)
{
    ++shown;
    std::fprintf(stderr, "message box: %s: %s\n", qPrintable(title), qPrintable(text));
}

HeadlessDriver::HeadlessDriver(SerialLines &lines, Messenger &messenger, TickProbe &probe)
    : m_panel(benchFields())
    , m_engine(std::make_unique<Engine>(probedParts(lines, probe, m_priority), m_panel, messenger))
{
    m_engine->sender().Form_Load();
}

void HeadlessDriver::repeat(int periodMs)
{
    m_panel.period = QString::number(periodMs);
    m_engine->sender().cmdPonavljanje_Click();
}

WindowDriver::WindowDriver(SerialLines &lines, Messenger &messenger, TickProbe &probe)
    : m_window(new VorlaGen(probedParts(lines, probe, m_priority)))
{
    m_window->setMessenger(&messenger);
    m_window->show();
    field("txtPort")->setText(QString::number(kComNumber));
}

WindowDriver::~WindowDriver()
{
    delete m_window;
}

void WindowDriver::repeat(int periodMs)
{
    field("txtPerioda")->setText(QString::number(periodMs));
    m_window->findChild<QPushButton *>(QStringLiteral("cmdPonavljanje"))->click();
}

void WindowDriver::stop()
{
    m_window->findChild<QPushButton *>(QStringLiteral("cmdStop"))->click();
}

quint64 WindowDriver::sent() const
{
    return m_window->trainSender().trainsSent();
}

quint64 WindowDriver::missed() const
{
    return m_window->trainSender().deadlinesMissed();
}

const CommControl &WindowDriver::port() const
{
    return m_window->port();
}

QLineEdit *WindowDriver::field(const char *name) const
{
    return m_window->findChild<QLineEdit *>(QLatin1String(name));
}

const LinePreview *WindowDriver::preview() const
{
    return m_window->findChild<LinePreview *>(QStringLiteral("linePreview"));
}

Poller::Poller(const Driver &driver)
    : m_driver(driver)
    , m_thread([this] {
        pthread_setname_np(pthread_self(), "bench-poller");
        sched_param param{};
        ::sched_setscheduler(0, SCHED_IDLE, &param);
        while (!m_stop) {
            m_seen = m_driver.sent() + m_driver.missed();
            ++m_reads;
        }
    })
    , m_cpu(m_thread)
{}

Poller::~Poller()
{
    m_stop = true;
    m_thread.join();
}

void runEventsUntil(Clock::time_point until)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
    if (left <= 0ms)
        return;
    QEventLoop loop;
    QTimer::singleShot(left, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

Poster::Poster(QObject *mainThreadContext)
    : m_context(mainThreadContext)
    , m_latencies(std::make_shared<std::vector<double>>())
    , m_thread([this] { run(); })
    , m_cpu(m_thread)
{}

void Poster::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void Poster::run()
{
    pthread_setname_np(pthread_self(), "bench-poster");
    auto latencies = m_latencies;
    while (!m_stop) {
        const auto posted = Clock::now();
        const bool recorded = m_recording;
        QTimer::singleShot(0, m_context, [latencies, posted, recorded] {
            if (recorded)
                latencies->push_back(toUs(Clock::now() - posted));
        });
        std::this_thread::sleep_for(kPostEvery);
    }
}

Figures runSender(Driver &driver, const Pty &pty, int periodMs, size_t count,
                  const RunSources &sources)
{
    const auto period = std::chrono::milliseconds(periodMs);
    // Held open for the run so that the master never sees a hang-up between our reads. It is
    // closed again afterwards: the last close of the terminal clears the exclusive-use flag the
    // port sets, so the next run can open it again.
    const int keepOpen = pty.openSlave(O_RDWR | O_NONBLOCK);
    auto receiver = std::make_unique<Receiver>(pty.master, period, count);
    QObject context;
    const auto others = [&] { return sources.others() + receiver->cpu(); };

    driver.repeat(periodMs);
    // From here on the repetition runs: the port's open cost is behind us.
    const auto clickReturned = Clock::now();
    // CPU over the first half, without the posts of the second.
    const double cpuBefore = processCpuSeconds() - others();
    const double senderBefore = sources.sender();
    runEventsUntil(clickReturned + period * qint64(count) / 2);
    const double cpuAfter = processCpuSeconds() - others();
    const double senderAfter = sources.sender();
    const auto cpuWall = Clock::now() - clickReturned;
    // The event loop's latency over the second half (its posts cost the main thread some CPU).
    auto poster = std::make_unique<Poster>(&context);
    poster->record(true);
    // Half a period after the last deadline: its train is out, the next one not yet due.
    runEventsUntil(clickReturned + period * qint64(count) + period / 2);
    poster->record(false);
    const auto stopClicked = Clock::now();
    driver.stop();
    poster->stop();

    // Let the close drain and come back to this thread, and the last posts run.
    runEventsUntil(Clock::now() + 100ms);
    receiver->awaitTrains(driver.sent());
    receiver->stop();
    ::close(keepOpen);

    // The grid begins inside the click; where the probe saw where, that is the start.
    const auto armed = sources.armed();
    const auto start = armed > Clock::time_point() && armed < clickReturned ? armed : clickReturned;
    const auto expected = size_t((stopClicked - start) / period);
    Figures f = analyse(receiver->trains(), expected, period, start, driver.missed());
    f.sent = driver.sent();
    f.fragments = receiver->fragments();
    f.wrongBytes = receiver->wrongBytes();
    const double wall = std::chrono::duration<double>(cpuWall).count();
    f.cpuPercent = 100.0 * (cpuAfter - cpuBefore) / wall;
    f.senderCpuPercent = 100.0 * (senderAfter - senderBefore) / wall;
    const auto latencies = *poster->latencies();
    f.loopP50Us = percentile(latencies, 0.5);
    f.loopMaxUs = latencies.empty() ? NAN : *std::max_element(latencies.begin(), latencies.end());
    return f;
}

double idleCpuPercent(double seconds)
{
    const double before = processCpuSeconds();
    const auto start = Clock::now();
    runEventsUntil(start + std::chrono::milliseconds(qint64(seconds * 1000)));
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    return 100.0 * (processCpuSeconds() - before) / wall;
}

// Types into "Port:" as an operator does, one key at a time, each followed by more than the
// preview's settling pause so that every key gets its own look at the ports: Backspace, "1"
// (a counted port), Backspace, "7" (the bench's link), and so on.
Keystrokes measureKeystrokes(WindowDriver &window, int count, double idlePercent)
{
    QLineEdit *port = window.field("txtPort");
    port->setFocus();
    port->end(false);
    const int listingsBefore = window.preview()->portWatcher().portListings();
    const auto pause = std::chrono::milliseconds(PortWatcher::kSettleMs + 100);
    const double before = processCpuSeconds();
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        const bool erase = i % 2 == 0;
        const int key = erase ? Qt::Key_Backspace : (i % 4 == 1 ? Qt::Key_1 : Qt::Key_7);
        const QString text = erase ? QString() : QString(QChar(key));
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
        QApplication::sendEvent(port, &press);
        QApplication::sendEvent(port, &release);
        runEventsUntil(Clock::now() + pause);
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = processCpuSeconds() - before - idlePercent / 100.0 * wall;
    return {count, 1000.0 * cpu / count,
            window.preview()->portWatcher().portListings() - listingsBefore};
}
