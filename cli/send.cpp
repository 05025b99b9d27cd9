// SPDX-License-Identifier: MIT
// vorlagen-send: the window's engine for scripts and test rigs. The options stand in for the
// window's fields and the commands are the window's own: without --period the train goes out once
// ("Jednom"), with it once per period ("Ponavljanje") until --count trains are out or SIGINT /
// SIGTERM ends it like "STOP". Reports go to stderr in the window's report format; the exit code
// tells a script what happened (0 done, 1 port failure, 2 wrong call or field).

#include "cli/commandline.h"
#include "serial/operatortexts.h"
#include "serial/seriallines.h"
#include "train/decoder.h"
#include "train/engine.h"
#include "train/fields.h"
#include "train/signalbridge.h"
#include "train/waveform.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <atomic>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr int kPortFailure = 1;

struct Options
{
    QString port = u"1"_s;
    QString rate = u"115200"_s;
    QString train;
    std::optional<int> periodMs; // none: once
    quint64 count = 0;           // 0: until a signal
    bool dtr = true;
    bool rts = false;
    bool verbose = false;
};

void print(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

std::optional<bool> onOff(const QString &text)
{
    if (text == u"on"_s)
        return true;
    if (text == u"off"_s)
        return false;
    return std::nullopt;
}

// The whole of standard input; the line end a file or `echo` leaves at the end is no part of the
// train (the window's field cannot hold one either).
QString readStandardInput()
{
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(in.readAll());
    while (text.endsWith(u'\n') || text.endsWith(u'\r'))
        text.chop(1);
    return text;
}

// Reads the command line into options; gives the exit code when the program is to end at once.
std::optional<int> parse(int argc, char **argv, Options &options)
{
    CommandLine line(u"vorlagen-send"_s,
                     u"Salje povorku bajtova na serijski port kao prozor programa vorlagen: bez "
                     "--period jednom (\"Jednom\"), sa njom jednom u svakoj periodi "
                     "(\"Ponavljanje\") dok se ne posalje --count povorki ili do Ctrl+C. Greske "
                     "idu na standardni izlaz za greske; izlazni kod: 0 uspeh, 1 greska porta, "
                     "2 pogresan poziv ili vrednost."_s);
    line.addPositional(u"POVORKA"_s,
                       u"bajtovi kao dvocifreni heksadecimalni brojevi, npr. \"F0 F0 F0\" (ista "
                       "pravila kao polje \"Podaci za slanje\"); - cita povorku sa standardnog "
                       "ulaza"_s);
    line.addOption(QCommandLineOption(
        {u"p"_s, u"port"_s}, u"broj porta, kao \"Port:\" u prozoru (podrazumevano 1)"_s, u"N"_s));
    line.addOption(QCommandLineOption({u"b"_s, u"rate"_s},
                                      u"brzina u b/s, bilo koji ceo broj (podrazumevano 115200)"_s,
                                      u"BPS"_s));
    line.addOption(QCommandLineOption(u"dtr"_s, u"linija DTR (podrazumevano on)"_s, u"on|off"_s));
    line.addOption(QCommandLineOption(u"rts"_s, u"linija RTS (podrazumevano off)"_s, u"on|off"_s));
    line.addOption(QCommandLineOption({u"t"_s, u"period"_s},
                                      u"ponavljanje: perioda u ms, od 0 do 32767"_s, u"MS"_s));
    line.addOption(QCommandLineOption(
        {u"n"_s, u"count"_s}, u"uz --period: zavrsi posle K povorki (inace do Ctrl+C)"_s, u"K"_s));
    line.addOption(QCommandLineOption(
        u"v"_s, u"uz --period: svake sekunde ispisi poslate povorke i propustene rokove"_s));
    if (const auto exitCode = line.process(argc, argv))
        return exitCode;

    if (line.isSet(u"port"_s))
        options.port = line.value(u"port"_s);
    if (!Fields::toInteger16(options.port))
        return line.usageError(u"--port: broj porta mora biti ceo broj, a zadato je \""_s +
                               options.port + u'"');
    if (line.isSet(u"rate"_s))
        options.rate = line.value(u"rate"_s);
    if (Fields::bitRate(options.rate) == 0)
        return line.usageError(
            u"--rate: brzina mora biti ceo pozitivan broj b/s, a zadato je \""_s + options.rate +
            u'"');
    for (const auto &[name, flag] : {std::pair{u"dtr"_s, &options.dtr}, {u"rts"_s, &options.rts}}) {
        if (!line.isSet(name))
            continue;
        const auto level = onOff(line.value(name));
        if (!level)
            return line.usageError(u"--%1: vrednost je on ili off, a zadato je \""_s.arg(name) +
                                   line.value(name) + u'"');
        *flag = *level;
    }
    if (line.isSet(u"period"_s)) {
        options.periodMs = Fields::periodMs(line.value(u"period"_s));
        if (!options.periodMs)
            return line.usageError(OperatorText::badPeriod(line.value(u"period"_s)));
    }
    if (line.isSet(u"count"_s)) {
        bool ok = false;
        const qulonglong count = line.value(u"count"_s).trimmed().toULongLong(&ok);
        if (!ok || count == 0)
            return line.usageError(u"--count: broj povorki mora biti ceo broj veci od 0, a "
                                   "zadato je \""_s +
                                   line.value(u"count"_s) + u'"');
        if (!options.periodMs)
            return line.usageError(u"--count vazi samo uz --period"_s);
        if (*options.periodMs == 0)
            return line.usageError(u"uz periodu 0 nijedna povorka ne odlazi, pa se --count nikad "
                                   "ne bi dostigao"_s);
        options.count = count;
    }
    options.verbose = line.isSet(u"v"_s);

    const QString train = line.positional().at(0);
    options.train = train == u"-"_s ? readStandardInput() : train;
    const Terminator terminator = options.periodMs ? Terminator::Zero : Terminator::None;
    const qint64 bytes = trainByteCount(options.train);
    if (!Fields::trainFits(bytes, terminator))
        return line.usageError(OperatorText::trainTooLong(bytes, trainCapacity(terminator)));
    return std::nullopt;
}

// The window's fields, as the options set them.
FieldValues fieldsOf(const Options &options)
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
        print(u"vorlagen-send: "_s + text.section(u"\r\n"_s, 0, 0) + u'\n');
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
std::chrono::milliseconds graceFor(const Options &options)
{
    const double seconds =
        trainSeconds(trainByteCount(options.train), Fields::bitRate(options.rate));
    const auto needed = std::chrono::milliseconds(qint64(seconds * 2000.0) + 1000);
    return std::max(needed, SerialLines::kExitGrace);
}

int run(const Options &options)
{
    SerialLines lines;
    FieldValues panel = fieldsOf(options);
    ErrorOutput errors;
    TrainSender *senderOf = nullptr; // the counting timer asks the sender, made after it
    Engine::Parts parts = Engine::systemParts(lines);
    parts.timer = std::make_unique<CountingTimer>(
        std::move(parts.timer), options.count, [&] { return senderOf->trainsSent(); },
        [] { QMetaObject::invokeMethod(qApp, [] { QCoreApplication::exit(0); }); });
    Engine engine(std::move(parts), panel, errors);
    TrainSender &sender = engine.sender();
    senderOf = &sender;
    SignalBridge signalBridge;

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
        sender.cmdPonavljanje_Click();
        if (errors.reports() > 0) {
            exitCode = kPortFailure;
        } else {
            QObject::connect(&signalBridge, &SignalBridge::endRequested, qApp,
                             [] { QCoreApplication::exit(0); });
            // A repetition that ends by itself ended by a failure (reported by then).
            QObject::connect(&sender, &TrainSender::repeatingChanged, qApp, [](bool repeating) {
                if (!repeating)
                    QCoreApplication::exit(kPortFailure);
            });
            const auto report = [&] {
                print(u"Poslato povorki: %1, propusteno rokova: %2\n"_s.arg(sender.trainsSent())
                          .arg(sender.deadlinesMissed()));
            };
            QTimer progress;
            QObject::connect(&progress, &QTimer::timeout, report);
            if (options.verbose)
                progress.start(1000);
            exitCode = QCoreApplication::exec();
            QObject::disconnect(&sender, &TrainSender::repeatingChanged, qApp, nullptr);
            // "STOP": a train on its way finishes, no new one starts.
            sender.cmdStop_Click();
            if (options.verbose)
                report();
        }
    }
    // A failure found while the port drained after the close.
    QCoreApplication::processEvents();
    if (errors.reports() > 0)
        exitCode = kPortFailure;
    lines.finish(graceFor(options), &SignalBridge::urgency);
    return exitCode;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (const auto exitCode = parse(argc, argv, options))
        return *exitCode;
    QCoreApplication app(argc, argv);
    return run(options);
}
