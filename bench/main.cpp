// SPDX-License-Identifier: MIT
// Period benchmark: drives the window's own repetition code (TrainSender with the real timer and
// the real serial device) against a pseudo-terminal linked as a COM number, and in the same
// moment two reference senders (an ordinary and a real-time thread, each clock_nanosleep to
// absolute deadlines and one write) on pseudo-terminals of their own. Receiver threads stamp
// every arrival on the monotonic clock and group the bytes into trains; a probe around the
// program's timer and device follows each late tick to where its time went. Headless by
// default; with --window it runs the real window (offscreen) with its preview, counters and port
// watching alive, clicks its buttons, and also measures the idle window and keystrokes in "Port:".
//
//   bench_period [--window] [--rounds N] [--no-realtime] [--no-probe] [--poller] [--worst N]
//                [PERIOD_MS:COUNT ...]

#include "bench/drivers.h"
#include "bench/machine.h"
#include "bench/probe.h"
#include "bench/session.h"
#include "serial/seriallines.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

#include <sys/resource.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

struct Options
{
    bool window = false;
    bool ordinary = false; // --no-realtime
    bool probe = true;     // --no-probe
    bool poller = false;   // --poller
    int rounds = 0;        // 0: the mode's default
    int worst = 5;         // late ticks shown in detail per run
    std::vector<Run> runs;
};

bool parseNumber(int argc, char *argv[], int &i, int &value)
{
    bool ok = false;
    value = i + 1 < argc ? QString::fromLocal8Bit(argv[++i]).toInt(&ok) : 0;
    return ok && value >= 0;
}

bool parseArguments(int argc, char *argv[], Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--window")) {
            options.window = true;
        } else if (arg == QLatin1String("--no-realtime")) {
            options.ordinary = true;
        } else if (arg == QLatin1String("--no-probe")) {
            options.probe = false;
        } else if (arg == QLatin1String("--poller")) {
            options.poller = true;
        } else if (arg == QLatin1String("--rounds")) {
            if (!parseNumber(argc, argv, i, options.rounds) || options.rounds < 1)
                return false;
        } else if (arg == QLatin1String("--worst")) {
            if (!parseNumber(argc, argv, i, options.worst))
                return false;
        } else {
            const QStringList parts = arg.split(QLatin1Char(':'));
            bool okPeriod = false;
            bool okCount = false;
            const int period = parts.value(0).toInt(&okPeriod);
            const int count = parts.value(1).toInt(&okCount);
            if (parts.size() != 2 || !okPeriod || !okCount || period < 1 || period > 32767 ||
                count < 2)
                return false;
            options.runs.push_back({period, size_t(count)});
        }
    }
    // The window's runs are the ones its goals are stated for: 1 ms for 2 s, 10 ms, five times.
    if (options.runs.empty())
        options.runs = options.window ? std::vector<Run>{{1, 2000}, {10, 1000}}
                                      : std::vector<Run>{{100, 150}, {10, 1000}, {1, 5000}};
    if (options.rounds == 0)
        options.rounds = options.window ? 5 : 1;
    return true;
}

void printSetUp(const Options &options, const Lines &lines, const SenderPriority &asked,
                const QString &policy)
{
    printMachine();
#ifndef __OPTIMIZE__
    std::printf("note: built without optimisation; figures are meant for a Release build\n");
#endif
    rlimit rtprio{};
    ::getrlimit(RLIMIT_RTPRIO, &rtprio);
    std::printf("mode: %s; user id %u, rtprio limit %lld%s; sender thread: %s\n",
                options.window ? "the real window (offscreen), preview and port watching alive"
                               : "headless (send logic, real timer and device, no window)",
                ::getuid(),
                rtprio.rlim_cur == RLIM_INFINITY ? -1LL : static_cast<long long>(rtprio.rlim_cur),
                ::getuid() == 0 ? " (root is not bound by it)" : "", qPrintable(policy));
    std::printf("%s\n", qPrintable(describe(asked)));
    std::printf("train: 10 bytes F0 (one write each); COM%d -> %s; ref-ord on %s, ref-rt on %s\n",
                kComNumber, qPrintable(lines.program.slave), qPrintable(lines.ordinary.slave),
                qPrintable(lines.realtime.slave));
    printLegend();
}

// The idle window and the keystrokes in "Port:", against their goals.
bool measureWindow(WindowDriver &window)
{
    const double idle = idleCpuPercent(10);
    const Keystrokes keys = measureKeystrokes(window, 40, idle);
    std::printf("idle window: %.3f %% of one core over 10 s (goal < 0.3 %%: %s)\n", idle,
                idle < 0.3 ? "met" : "MISSED");
    std::printf("keystrokes in \"Port:\": %.2f ms of CPU each over %d keys, %d port listing(s) "
                "(goal < 2.5 ms: %s)\n\n",
                keys.cpuMsEach, keys.count, keys.listings, keys.cpuMsEach < 2.5 ? "met" : "MISSED");
    return idle < 0.3 && keys.cpuMsEach < 2.5;
}

int runBench(const Options &options, const Lines &lines)
{
    SerialLines serialLines;
    BenchMessenger messenger;
    TickProbe probe(options.probe);
    std::unique_ptr<Driver> driver;
    WindowDriver *window = nullptr;
    if (options.window) {
        auto shown = std::make_unique<WindowDriver>(serialLines, messenger, probe);
        window = shown.get();
        driver = std::move(shown);
    } else {
        driver = std::make_unique<HeadlessDriver>(serialLines, messenger, probe);
    }
    if (driver->port().locate(kComNumber).device != lines.program.slave) {
        std::fprintf(stderr, "COM%d does not lead to %s\n", kComNumber,
                     qPrintable(lines.program.slave));
        return 2;
    }
    // The sender thread has set itself up by the time the window has settled.
    runEventsUntil(Clock::now() + 1s);
    const int timer = timerThreadId();
    probe.watchTimerThread(timer);
    printSetUp(options, lines, driver->priority(), threadPolicy(timer, options.ordinary));
    bool met = !window || measureWindow(*window);

    std::map<int, std::vector<RoundResult>> all;
    for (int round = 1; round <= options.rounds; ++round) {
        std::printf("round %d of %d\n", round, options.rounds);
        printHeader();
        for (const Run &run : options.runs) {
            all[run.periodMs].push_back(runRound(*driver, lines, probe, run, options.poller));
            printRound(run, all[run.periodMs].back(), options.worst);
        }
        std::printf("\n");
    }
    met = printSummary(options.runs, all) && met;
    if (messenger.shown > 0)
        std::printf("%d message box(es) shown: see above\n", messenger.shown);
    std::printf("%s\n", met && messenger.shown == 0 ? "all goals met" : "some goals missed");
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    Options options;
    if (!parseArguments(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: bench_period [--window] [--rounds N] [--no-realtime] [--no-probe] "
                     "[--poller] [--worst N] [PERIOD_MS:COUNT ...]\n"
                     "default: 100:150 10:1000 1:5000, one round; --window: 1:2000 10:1000, five "
                     "rounds\n");
        return 1;
    }
    // The COM link lives in a configuration folder of our own, set before anything reads it.
    QTemporaryDir config;
    if (!config.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 2;
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    if (options.window && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> app;
    if (options.window)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);

    Lines lines;
    QDir().mkpath(config.path() + QStringLiteral("/vorlagen"));
    const QString link = config.path() + QStringLiteral("/vorlagen/com%1").arg(kComNumber);
    if (!QFile::link(lines.program.slave, link)) {
        std::fprintf(stderr, "cannot link %s\n", qPrintable(link));
        return 2;
    }
    return runBench(options, lines);
}
