// SPDX-License-Identifier: MIT
// vorlagen-send: the window's engine for scripts and test rigs. The options stand in for the
// window's fields and the commands are the window's own: without --period the train goes out once
// ("Jednom"), with it once per period ("Ponavljanje") until --count trains are out or SIGINT /
// SIGTERM ends it like "STOP". Reports go to stderr in the window's report format. The exit code
// is what a script reads: 0 only when every byte written has left for the line, 1 a port failure
// or bytes that did not leave (one line says how many), 2 a wrong call or field (nothing sent).

#include "cli/commandline.h"
#include "cli/sendoptions.h"
#include "cli/signalbridge.h"
#include "serial/seriallines.h"
#include "train/decoder.h"
#include "train/engine.h"
#include "train/fields.h"
#include "train/realtime.h"
#include "train/waveform.h"

#include "texts/commandline.h"
#include "texts/line.h"
#include "texts/send.h"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>

using namespace Qt::StringLiterals;

namespace {

constexpr int kPortFailure = 1;

// A line on stderr, after the program's name.
void say(const QString &text)
{
    printText(stderr, OperatorText::programMessage(OperatorText::kSendProgram, text));
}

// The window's fields, as the options set them.
FieldValues fieldsOf(const SendOptions &options)
{
    FieldValues fields;
    fields.port = options.port;
    fields.rate = options.rate;
    fields.period = QString::number(options.periodMs.value_or(0));
    fields.train = options.train;
    return fields;
}

// The window's message boxes as lines on stderr: a port report as its first line
// ("Greska <n> - <text> - <source>"); the second one asks a person at a window to try again.
class ErrorOutput : public Messenger
{
public:
    void critical(const QString &, const QString &text) override
    {
        say(text.section(u"\r\n"_s, 0, 0));
        ++m_reports;
    }
    void information(const QString &title, const QString &text) override { critical(title, text); }
    int reports() const { return m_reports; }

private:
    int m_reports = 0;
};

// The real timer, with a limit: once `limit` trains have gone out no further tick sends, and
// `reached` runs (on the timer's thread). The count is the sender's own, so a tick that sent
// nothing is not counted.
class CountingTimer : public TrainTimer
{
public:
    CountingTimer(std::unique_ptr<TrainTimer> timer, quint64 limit, std::function<quint64()> sent,
                  std::function<void()> reached)
        : m_owned(std::move(timer))
        , m_timer(*m_owned)
        , m_limit(limit)
        , m_sent(std::move(sent))
        , m_reached(std::move(reached))
    {}

    void setTickHandler(TickHandler handler) override
    {
        if (!handler || m_limit == 0) {
            m_timer.setTickHandler(std::move(handler));
            return;
        }
        m_timer.setTickHandler([this, handler = std::move(handler)](quint64 schedule) {
            if (m_done)
                return;
            handler(schedule);
            if (m_sent() >= m_limit && !m_done.exchange(true))
                m_reached();
        });
    }
    void setInterval(int milliseconds) override { m_timer.setInterval(milliseconds); }
    int interval() const override { return m_timer.interval(); }
    void setEnabled(bool enabled) override { m_timer.setEnabled(enabled); }
    bool isEnabled() const override { return m_timer.isEnabled(); }
    bool isCurrent(quint64 schedule) const override { return m_timer.isCurrent(schedule); }
    quint64 missedDeadlines() const override { return m_timer.missedDeadlines(); }

private:
    const std::unique_ptr<TrainTimer> m_owned;
    TrainTimer &m_timer;
    const quint64 m_limit;
    const std::function<quint64()> m_sent;
    const std::function<void()> m_reached;
    std::atomic<bool> m_done{false};
};

// How long the bytes of one train may still need after the close: its time on the line, with
// room for the driver, and never less than the window's own grace time.
std::chrono::milliseconds graceFor(const SendOptions &options)
{
    const double seconds =
        trainSeconds(trainByteCount(options.train), Fields::bitRate(options.rate));
    const auto needed = std::chrono::milliseconds(qint64(seconds * 2000.0) + 1000);
    return std::max(needed, SerialLines::kExitGrace);
}

// The port map as the options set it: the window's, or the one device named by path.
PortMap portMapOf(const SendOptions &options)
{
    return options.device.isEmpty() ? PortMap() : PortMap::toDevice(options.device);
}

// "Ponavljanje" until --count trains are out, a signal ends it like "STOP", or a failure ends it
// (reported by then). Gives the exit code so far.
int repeat(const SendOptions &options, TrainSender &sender, const ErrorOutput &errors,
           const SignalBridge &signalBridge, const std::function<SenderPriority()> &priority)
{
    sender.cmdPonavljanje_Click();
    if (errors.reports() > 0)
        return kPortFailure;
    QObject::connect(&signalBridge, &SignalBridge::endRequested, qApp,
                     [] { QCoreApplication::exit(0); });
    QObject::connect(&sender, &TrainSender::repeatingChanged, qApp, [](bool repeating) {
        if (!repeating)
            QCoreApplication::exit(kPortFailure);
    });
    const auto report = [&] {
        say(OperatorText::repetitionCounters(sender.trainsSent(), sender.deadlinesMissed()));
    };
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, report);
    if (options.verbose) {
        say(describe(priority()));
        progress.start(1000);
    }
    const int exitCode = QCoreApplication::exec();
    QObject::disconnect(&sender, &TrainSender::repeatingChanged, qApp, nullptr);
    // "STOP": a train on its way finishes, no new one starts.
    sender.cmdStop_Click();
    if (options.verbose)
        report();
    return exitCode;
}

int run(const SendOptions &options)
{
    SerialLines lines;
    SignalBridge signalBridge; // from here on a signal ends the wait for the line, too
    FieldValues panel = fieldsOf(options);
    ErrorOutput errors;
    TrainSender *senderOf = nullptr; // the counting timer asks the sender, made after it
    Engine::Parts parts = Engine::systemParts(lines);
    parts.map = portMapOf(options);
    parts.timer = std::make_unique<CountingTimer>(
        std::move(parts.timer), options.count, [&] { return senderOf->trainsSent(); },
        [] { QMetaObject::invokeMethod(qApp, [] { QCoreApplication::exit(0); }); });
    Engine engine(std::move(parts), panel, errors);
    TrainSender &sender = engine.sender();
    senderOf = &sender;
    // Windows ends a session by ending the process as soon as this returns: the end in order
    // runs inside it (a repetition's event loop hears it; a single send's wait does not).
    QObject::connect(&signalBridge, &SignalBridge::sessionEnding, &signalBridge, [&] {
        sender.cmdStop_Click();
        lines.finish(SerialLines::kExitGrace, &SignalBridge::urgency);
    });

    // As the window loads: RTS off, DTR on; then the boxes as the options set them.
    sender.Form_Load();
    panel.setDtrState(options.dtr ? Panel::CheckState::Checked : Panel::CheckState::Unchecked);
    sender.chkDTR_Click();
    panel.setRtsState(options.rts ? Panel::CheckState::Checked : Panel::CheckState::Unchecked);
    sender.chkRTS_Click();

    int exitCode = 0;
    if (!options.periodMs) {
        sender.cmdJednom_Click();
        exitCode = errors.reports() > 0 ? kPortFailure : 0;
    } else {
        exitCode = repeat(options, sender, errors, signalBridge,
                          [&engine] { return engine.senderPriority(); });
    }
    // A failure found while the port drained after the close.
    QCoreApplication::processEvents();
    if (errors.reports() > 0)
        exitCode = kPortFailure;
    // What has not left by the end of the wait is dropped, and said: a script reads the status.
    const SerialLines::Tally tally = lines.finish(graceFor(options), &SignalBridge::urgency);
    if (tally.lost > 0) {
        say(OperatorText::bytesNotSent(tally.lost, tally.written, tally.failedLines > 0));
        exitCode = kPortFailure;
    }
    return exitCode;
}

// Every port number the window would open now, one a line: number, device, how it was found.
int list()
{
    for (const PortEntry &port : PortMap().available())
        printText(stdout, OperatorText::listedPort(port.number, port.device, port.link) + u'\n');
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    SendOptions options;
    if (const auto exitCode = parseSendOptions(argc, argv, options))
        return *exitCode;
    QCoreApplication app(argc, argv);
    return options.list ? list() : run(options);
}
