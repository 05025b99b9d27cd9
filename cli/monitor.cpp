// SPDX-License-Identifier: MIT
// vorlagen-monitor N: a virtual serial port to try the program without hardware. It makes a
// pseudo-terminal, links it as com<N> in the folder where the program looks for port links, and
// prints every train that arrives with its time, its bytes, the measured period and its jitter.
//
// A train is the bytes that arrive without a pause of more than the gap (--gap, in ms). The
// monitor keeps the terminal's other end open itself, so that a program that closes the port
// right after a write ("Jednom") loses nothing; it notices the program's opens and closes
// through inotify instead, and clears the exclusive claim a program that was killed left on the
// terminal. It runs until Ctrl+C, Ctrl+\, SIGTERM or SIGHUP, until its output is gone (a pipe
// whose reader ended), or with --once until the program has closed the port for the first time
// (after "Jednom", or at "STOP"). Every way it removes the link, while it is still its own; a
// link left by kill -9 counts as ended for everyone (cli/monitorlink.h).
//
// vorlagen-monitor --device PATH [--rate BPS] listens on a real serial device instead: with the
// TX of the port the program sends on wired to this device's RX, it shows the real line.

#include "cli/commandline.h"
#include "cli/monitorline.h"
#include "cli/monitorlink.h"
#include "cli/monitoroptions.h"
#include "cli/monitortrains.h"
#include "serial/portbusy.h"
#include "serial/portmap.h"

#include "texts/commandline.h"
#include "texts/monitor.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

namespace {

namespace Text = OperatorText;

// Every message starts with the program's name: it may share a terminal with others.
void complain(const QString &message)
{
    printText(stderr, Text::programMessage(Text::kMonitorProgram, message));
}

// The system's words for an error number.
QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString decoded(const std::string &path)
{
    return QFile::decodeName(path.c_str());
}

std::string readLink(const std::string &path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, size_t(n)) : std::string();
}

class Monitor
{
public:
    explicit Monitor(MonitorOptions options)
        : m_options(std::move(options))
        , m_trains(m_options.all)
    {}
    ~Monitor() { cleanUp(); }

    int run();

private:
    bool start();
    int watch();
    bool openTerminal();
    bool makeLink();
    bool openDevice();
    void cleanUp();
    int ending(int exitCode);
    void readBytes(double now);
    void readEvents();
    void finishTrain();
    void printSeries();
    void portClosed();
    void removeStaleLock();
    void sampleSettings();
    void say(const QString &line);

    MonitorOptions m_options;
    int m_master = -1;
    int m_slave = -1;
    int m_events = -1;
    int m_signals = -1;
    std::string m_slaveName;
    MonitorLink m_link;

    QString m_ownSettings; // ours, also what the program's close restores
    QString m_settings;    // the program's, as last seen during this opening
    TrainLog m_trains;
    int m_openers = 0;
    bool m_closePending = false; // closed, but bytes of the last write may still be coming
    bool m_stop = false;
    int m_endSignal = 0;
    int m_outputError = 0; // why standard output took no more
};

// The lines go out at once (a pipe would hold them back); once the output is gone, the monitor
// has no more use and ends.
void Monitor::say(const QString &line)
{
    if (m_outputError != 0 || line.isEmpty())
        return;
    if (!printText(stdout, line + u'\n'))
        m_outputError = errno != 0 ? errno : EIO;
}

bool Monitor::openTerminal()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        complain(Text::terminalNotMade(reason(errno)));
        return false;
    }
    char name[256];
    if (ptsname_r(m_master, name, sizeof name) != 0) {
        complain(Text::terminalNameUnknown(reason(errno)));
        return false;
    }
    m_slaveName = name;
    // Held open for the whole run: the program's close then never cuts off bytes still on
    // their way, and the master never reports a hang-up between the program's opens.
    m_slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) {
        const int error = errno;
        complain(Text::notOpened(decoded(name), reason(error)));
        return false;
    }
    // Raw, so that bytes pass unchanged even before the program sets the port up.
    termios settings{};
    tcgetattr(m_slave, &settings);
    cfmakeraw(&settings);
    // At 0 b/s, a rate no program runs a port at: settings that differ are the program's.
    cfsetspeed(&settings, B0);
    tcsetattr(m_slave, TCSANOW, &settings);
    m_ownSettings = lineSettings(m_slave);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);

    m_events = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_events >= 0 &&
        inotify_add_watch(m_events, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        close(m_events);
        m_events = -1;
    }
    if (m_events < 0)
        complain(Text::opensNotWatched(reason(errno)));
    return true;
}

bool Monitor::makeLink()
{
    const QString folder = PortMap::defaultLinkFolder();
    if (!QDir().mkpath(folder)) {
        complain(Text::folderNotMade(folder));
        return false;
    }
    const std::string path =
        QFile::encodeName(QDir(folder).filePath(QStringLiteral("com%1").arg(m_options.number)))
            .toStdString();
    switch (m_link.make(path, m_slave)) {
    case MonitorLink::Made::New:
        return true;
    case MonitorLink::Made::Replaced:
        complain(Text::linkReplaced(decoded(path)));
        return true;
    case MonitorLink::Made::Monitored:
        complain(Text::portMonitoredElsewhere(m_options.number, decoded(path)));
        return false;
    case MonitorLink::Made::Occupied:
        complain(Text::linkOccupied(decoded(path), decoded(readLink(path))));
        return false;
    case MonitorLink::Made::Failed:
        break;
    }
    complain(Text::linkNotMade(decoded(path), reason(m_link.error())));
    return false;
}

// Listening on a real device: its RX carries what the program sends on another port's TX.
bool Monitor::openDevice()
{
    const QString path = decoded(m_options.device);
    m_master = open(m_options.device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0) {
        const int error = errno;
        complain(Text::notOpened(path, reason(error)));
        return false;
    }
    if (!isatty(m_master)) {
        complain(Text::notASerialDevice(path));
        return false;
    }
    if (!setLine(m_master, m_options.rate)) {
        complain(Text::rateRefused(path, m_options.rate));
        return false;
    }
    tcflush(m_master, TCIFLUSH); // what arrived before we listened belongs to nobody's train
    return true;
}

void Monitor::cleanUp()
{
    // First, so that no way out leaves it behind.
    const bool removed = m_link.remove();
    if (removed)
        say(Text::monitorLinkRemoved(decoded(m_link.path())));
    removeStaleLock();
    for (int *fd : {&m_signals, &m_events, &m_slave, &m_master}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

void Monitor::readBytes(double now)
{
    unsigned char buffer[4096];
    for (;;) {
        const ssize_t n = read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            return;
        m_trains.add(buffer, size_t(n), now);
    }
}

void Monitor::finishTrain()
{
    say(m_trains.finishTrain());
}

void Monitor::printSeries()
{
    say(m_trains.finishSeries());
}

// The terminal tells nobody when its settings change, and the program's close puts ours back:
// they are read at every wake-up, and one opening that is over before the monitor wakes shows
// its bytes without its settings.
void Monitor::sampleSettings()
{
    if (m_slave < 0)
        return; // a real device: the settings are ours
    const QString settings = lineSettings(m_slave);
    if (settings != m_ownSettings && settings != m_settings) {
        m_settings = settings;
        say(Text::monitorPortSet(settings));
    }
}

void Monitor::portClosed()
{
    finishTrain();
    m_closePending = false;
    m_settings.clear();
    say(Text::monitorPortClosed(wallClock()));
    printSeries();
    removeStaleLock();
    m_stop = m_options.once;
}

// A program killed while it held the terminal leaves its lock file, which refuses every later
// open by another user, and the next program to get this terminal's number once it is gone.
void Monitor::removeStaleLock()
{
    if (m_slaveName.empty())
        return;
    const QString lock = serialLockFile(decoded(m_slaveName));
    if (!lock.isEmpty() && removeStaleSerialLock(decoded(m_slaveName)))
        say(Text::monitorStaleLockRemoved(lock));
}

void Monitor::readEvents()
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = read(m_events, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            at += ssize_t(sizeof(inotify_event)) + ssize_t(event->len);
            if (m_stop)
                continue;
            if (event->mask & IN_OPEN) {
                if (m_closePending)
                    portClosed(); // reopened at once: the earlier opening is over all the same
                if (!m_stop && m_openers++ == 0)
                    say(Text::monitorPortOpened(wallClock()));
            } else if ((event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) && m_openers > 0 &&
                       --m_openers == 0) {
                m_closePending = true;
                // Nobody holds the port now. A program that was killed did not give up its
                // exclusive claim, which would refuse every later open until the terminal ends.
                ::ioctl(m_slave, TIOCNXCL);
            }
        }
    }
}

bool Monitor::start()
{
    if (!m_options.device.empty()) {
        if (!openDevice())
            return false;
        say(Text::monitorListening(decoded(m_options.device), lineSettings(m_master)));
        return true;
    }
    if (!openTerminal() || !makeLink())
        return false;
    say(Text::monitorLinked(m_options.number, decoded(m_link.path()), decoded(m_slaveName)));
    say(Text::monitorInvitation(m_options.number, m_options.once));
    return true;
}

int Monitor::watch()
{
    const double gap = m_options.gapMs / 1000.0;
    while (!m_stop && m_outputError == 0) {
        pollfd fds[3] = {{m_master, POLLIN, 0}, {m_events, POLLIN, 0}, {m_signals, POLLIN, 0}};
        const bool waiting = m_trains.pending() || m_closePending;
        const int ready = poll(fds, 3, waiting ? m_options.gapMs : -1);
        if (ready < 0 && errno != EINTR) {
            complain(reason(errno));
            return 1;
        }
        const double now = secondsNow();
        if (fds[2].revents & POLLIN) {
            signalfd_siginfo signal{};
            if (read(m_signals, &signal, sizeof signal) == ssize_t(sizeof signal))
                m_endSignal = int(signal.ssi_signo);
            readBytes(now);
            finishTrain();
            return 0;
        }
        // Events first, so that an open reads before the bytes that follow it.
        if (fds[1].revents & POLLIN)
            readEvents();
        sampleSettings();
        if (fds[0].revents & POLLIN)
            readBytes(now);
        // Only a real device hangs up here (the pseudo-terminal's other side stays ours).
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            finishTrain();
            complain(Text::deviceVanished(decoded(m_options.device)));
            return 1;
        }
        if (m_trains.pending() && now - m_trains.lastByte() >= gap)
            finishTrain();
        // Nothing came for a gap after the close: everything of that opening is in.
        if (m_closePending && !m_trains.pending() && ready == 0)
            portClosed();
    }
    return 0;
}

// A reader that went away (`| head`) ends the monitor as it ends any program in a pipe, by
// SIGPIPE, once the link is gone (unless whoever started it ignores SIGPIPE: then, as for any
// other write error, it says so and ends with 1).
int Monitor::ending(int exitCode)
{
    struct sigaction pipe = {};
    ::sigaction(SIGPIPE, nullptr, &pipe);
    if ((m_endSignal == SIGPIPE || m_outputError == EPIPE) && pipe.sa_handler == SIG_DFL) {
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        sigprocmask(SIG_UNBLOCK, &pipeSignal, nullptr);
        std::raise(SIGPIPE);
    }
    if (m_outputError != 0) {
        complain(Text::outputFailed(reason(m_outputError)));
        return 1;
    }
    return exitCode;
}

int Monitor::run()
{
    // Every request to end, a lost reader included, comes through the loop, so that the link
    // goes with the monitor.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
        sigaddset(&stopSignals, signal);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    m_signals = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);

    const int exitCode = start() ? watch() : 1;
    printSeries();
    cleanUp();
    return ending(exitCode);
}

} // namespace

int main(int argc, char **argv)
{
    MonitorOptions options;
    if (const auto exitCode = parseMonitorOptions(argc, argv, options))
        return *exitCode;
    Monitor monitor(options);
    return monitor.run();
}
