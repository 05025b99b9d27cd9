// SPDX-License-Identifier: MIT
// vorlagen-monitor N: a virtual serial port to try the program without hardware. It makes a
// pseudo-terminal, links it as com<N> in the folder where the program looks for port links, and
// prints every train that arrives with its time, its bytes, the measured period and its jitter.
//
// A train is the bytes that arrive without a pause of more than the gap (--gap, in ms). The
// monitor keeps the terminal's other end open itself, so that a program that closes the port
// right after a write ("Jednom") loses nothing; it notices the program's opens and closes
// through inotify instead. It runs until Ctrl+C or SIGTERM, or with --once until the program
// has closed the port for the first time (after "Jednom", or at "STOP"). Either way it removes
// the link, but only while it still leads to its own terminal.
//
// vorlagen-monitor --device PATH [--rate BPS] listens on a real serial device instead: with the
// TX of the port the program sends on wired to this device's RX, it shows the real line.

#include "cli/commandline.h"
#include "serial/portmap.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#if defined(__linux__) && defined(TCGETS2)
// The kernel's termios with the bit rate as a number (glibc of this age does not declare it);
// the only way to read a rate outside the B* constants, which the program may set.
struct termios2
{
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
#endif
// The kernel's "any rate" marker and the input rate's place in c_cflag (glibc of this age
// declares neither).
#ifndef BOTHER
#define BOTHER 0010000
#endif
#ifndef IBSHIFT
#define IBSHIFT 16
#endif

namespace {

constexpr int kDefaultGapMs = 3;
constexpr size_t kShownBytes = 32;

struct Options
{
    int number = 0;
    std::string device; // a real serial device to listen on instead of a pseudo-terminal
    long rate = 115200; // for the device
    bool once = false;
    bool all = false;
    int gapMs = kDefaultGapMs;
};

void say(const char *format, ...) __attribute__((format(printf, 1, 2)));
void say(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout); // a pipe would otherwise hold the lines back
}

std::optional<int> positive(const QString &text, int max)
{
    const QByteArray digits = text.toLocal8Bit();
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(digits.constData(), &end, 10);
    if (errno != 0 || end == digits.constData() || *end != '\0' || value < 1 || value > max)
        return std::nullopt;
    return int(value);
}

// Reads the command line into options; gives the exit code when the monitor is to end at once
// (--help, --version, a wrong call).
std::optional<int> parse(int argc, char **argv, Options &options)
{
    using namespace Qt::StringLiterals;
    CommandLine line(u"vorlagen-monitor"_s,
                     u"Virtuelni serijski port za probu programa vorlagen bez hardvera: pravi "
                     "pseudoterminal, povezuje ga kao port N i ispisuje svaku povorku koja "
                     "stigne, sa vremenom, bajtovima i periodom. Sa --device slusa pravi serijski "
                     "uredjaj. Radi do Ctrl+C."_s);
    line.addPositional(u"N"_s,
                       u"broj porta (1 do 32767): pravi se veza com<N> koju program "
                       "koristi kao port N"_s,
                       CommandLine::Need::Optional);
    line.addOption(QCommandLineOption(
        u"device"_s,
        u"umesto virtuelnog porta slusaj pravi serijski uredjaj (npr. /dev/ttyUSB1, RX spojen "
        "na TX porta na koji program salje); tada bez N"_s,
        u"PUTANJA"_s));
    line.addOption(
        QCommandLineOption(u"rate"_s,
                           u"uz --device: brzina u b/s (podrazumevano 115200; mora biti ista kao u "
                           "programu)"_s,
                           u"BPS"_s));
    line.addOption(QCommandLineOption(u"once"_s, u"zavrsi kada program prvi put zatvori port "
                                                 "(posle \"Jednom\" ili \"STOP\"; ne uz "
                                                 "--device)"_s));
    line.addOption(QCommandLineOption(
        u"gap"_s, u"pauza u ms koja razdvaja dve povorke (podrazumevano %1)"_s.arg(kDefaultGapMs),
        u"MS"_s));
    line.addOption(QCommandLineOption(
        u"all"_s, u"ispisi sve bajtove povorke (inace prvih %1)"_s.arg(kShownBytes)));
    if (const auto exitCode = line.process(argc, argv))
        return exitCode;

    if (line.isSet(u"device"_s)) {
        if (!line.positional().isEmpty())
            return line.usageError(u"uz --device se ne zadaje broj porta"_s);
        if (line.isSet(u"once"_s))
            return line.usageError(u"--once ne vazi uz --device: pravi uredjaj ne javlja kada "
                                   "ga program zatvori"_s);
        options.device = QFile::encodeName(line.value(u"device"_s)).toStdString();
        if (line.isSet(u"rate"_s)) {
            const auto rate = positive(line.value(u"rate"_s), std::numeric_limits<int>::max());
            if (!rate)
                return line.usageError(u"--rate: brzina mora biti ceo pozitivan broj b/s, a "
                                       "zadato je \""_s +
                                       line.value(u"rate"_s) + u'"');
            options.rate = *rate;
        }
    } else {
        if (line.positional().isEmpty())
            return line.usageError(u"nedostaje argument N (ili --device PUTANJA)"_s);
        if (line.isSet(u"rate"_s))
            return line.usageError(u"--rate vazi samo uz --device; virtuelni port prima brzinu "
                                   "koju program izabere"_s);
        const QString number = line.positional().at(0);
        const auto port = positive(number, 32767);
        if (!port)
            return line.usageError(u"broj porta mora biti ceo broj od 1 do 32767, a zadat je \""_s +
                                   number + u'"');
        options.number = *port;
    }
    options.once = line.isSet(u"once"_s);
    options.all = line.isSet(u"all"_s);
    if (line.isSet(u"gap"_s)) {
        const auto gap = positive(line.value(u"gap"_s), 10000);
        if (!gap)
            return line.usageError(u"--gap: pauza mora biti ceo broj ms od 1 do 10000, a "
                                   "zadato je \""_s +
                                   line.value(u"gap"_s) + u'"');
        options.gapMs = *gap;
    }
    return std::nullopt;
}

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

// "100,02": the operator's decimal comma.
std::string decimal(double value, int decimals, bool sign = false)
{
    char text[64];
    std::snprintf(text, sizeof text, sign ? "%+.*f" : "%.*f", decimals, value);
    std::string result = text;
    std::replace(result.begin(), result.end(), '.', ',');
    return result;
}

std::string readLink(const std::string &path)
{
    std::vector<char> buffer(4096);
    const ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size() - 1);
    if (n < 0)
        return {};
    return std::string(buffer.data(), size_t(n));
}

long rateOf(int fd, const termios &settings)
{
#if defined(__linux__) && defined(TCGETS2)
    termios2 exact{};
    if (ioctl(fd, TCGETS2, &exact) == 0)
        return long(exact.c_ospeed);
#else
    (void)fd;
#endif
    static const std::pair<speed_t, long> rates[] = {
        {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},
        {B150, 150},       {B200, 200},       {B300, 300},       {B600, 600},
        {B1200, 1200},     {B1800, 1800},     {B2400, 2400},     {B4800, 4800},
        {B9600, 9600},     {B19200, 19200},   {B38400, 38400},   {B57600, 57600},
        {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
    const speed_t speed = cfgetospeed(&settings);
    for (const auto &[constant, rate] : rates)
        if (constant == speed)
            return rate;
    return 0;
}

// "115200 b/s, 8N1" as the program left the port.
std::string lineSettings(int fd)
{
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        return "nepoznato";
    int dataBits = 8;
    switch (settings.c_cflag & CSIZE) {
    case CS5:
        dataBits = 5;
        break;
    case CS6:
        dataBits = 6;
        break;
    case CS7:
        dataBits = 7;
        break;
    default:
        break;
    }
    const char parity =
        (settings.c_cflag & PARENB) ? ((settings.c_cflag & PARODD) ? 'O' : 'E') : 'N';
    const int stopBits = (settings.c_cflag & CSTOPB) ? 2 : 1;
    char text[64];
    std::snprintf(text, sizeof text, "%ld b/s, %d%c%d", rateOf(fd, settings), dataBits, parity,
                  stopBits);
    return text;
}

// Raw 8N1 at `rate` b/s, no flow control, as the program runs its port; false when the device
// refuses it or would run more than 1 % off.
bool setLine(int fd, long rate)
{
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        return false;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~tcflag_t(CSTOPB | PARENB | CRTSCTS);
    settings.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
    if (tcsetattr(fd, TCSANOW, &settings) != 0)
        return false;
#if defined(__linux__) && defined(TCGETS2)
    termios2 exact{};
    if (ioctl(fd, TCGETS2, &exact) != 0)
        return false;
    exact.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    exact.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    exact.c_ispeed = speed_t(rate);
    exact.c_ospeed = speed_t(rate);
    if (ioctl(fd, TCSETS2, &exact) != 0)
        return false;
#endif
    tcgetattr(fd, &settings);
    const long applied = rateOf(fd, settings);
    return std::labs(applied - rate) * 100 <= rate;
}

// Periods of one opening of the port: a new "Ponavljanje" starts a new series.
struct Series
{
    long trains = 0;
    double lastStart = 0.0;
    long periods = 0;
    double sum = 0.0;
    double sumSquares = 0.0;
    double min = 0.0;
    double max = 0.0;

    void add(double period)
    {
        ++periods;
        sum += period;
        sumSquares += period * period;
        min = periods == 1 ? period : std::min(min, period);
        max = periods == 1 ? period : std::max(max, period);
    }
    double mean() const { return periods > 0 ? sum / double(periods) : 0.0; }
    double deviation() const
    {
        if (periods < 2)
            return 0.0;
        const double m = mean();
        return std::sqrt(std::max(0.0, sumSquares / double(periods) - m * m));
    }
};

class Monitor
{
public:
    explicit Monitor(Options options)
        : m_options(options)
    {}
    ~Monitor() { cleanUp(); }

    int run();

private:
    bool openTerminal();
    bool makeLink();
    bool openDevice();
    void cleanUp();
    void readBytes(double now);
    void readEvents();
    void finishTrain();
    void printSeries();
    void portClosed();
    void sampleSettings();

    Options m_options;
    int m_master = -1;
    int m_slave = -1;
    int m_events = -1;
    int m_signals = -1;
    std::string m_slaveName;
    std::string m_link;
    bool m_linked = false;

    std::string m_ownSettings; // ours, also what the program's close restores
    std::string m_settings;    // the program's, as last seen during this opening
    std::vector<unsigned char> m_train;
    double m_trainStart = 0.0;
    double m_lastByte = 0.0;
    std::string m_trainClock;
    long m_totalTrains = 0;
    Series m_series;
    int m_openers = 0;
    bool m_closePending = false; // closed, but bytes of the last write may still be coming
    bool m_stop = false;
};

bool Monitor::openTerminal()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        std::fprintf(stderr, "Greska: pseudo-terminal nije napravljen (%s)\n",
                     std::strerror(errno));
        return false;
    }
    char name[256];
    if (ptsname_r(m_master, name, sizeof name) != 0) {
        std::fprintf(stderr, "Greska: ime pseudo-terminala nije dostupno (%s)\n",
                     std::strerror(errno));
        return false;
    }
    m_slaveName = name;
    // Held open for the whole run: the program's close then never cuts off bytes still on
    // their way, and the master never reports a hang-up between the program's opens.
    m_slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) {
        std::fprintf(stderr, "Greska: %s se ne otvara (%s)\n", name, std::strerror(errno));
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
        say("Napomena: otvaranje i zatvaranje porta se ne prati (%s)\n", std::strerror(errno));
    return true;
}

bool Monitor::makeLink()
{
    const QString folder = PortMap::defaultLinkFolder();
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "Greska: folder %s se ne moze napraviti\n", qPrintable(folder));
        return false;
    }
    m_link = QFile::encodeName(QDir(folder).filePath(QStringLiteral("com%1").arg(m_options.number)))
                 .toStdString();
    // symlink() never replaces: whatever is there belongs to someone else.
    if (symlink(m_slaveName.c_str(), m_link.c_str()) != 0) {
        if (errno == EEXIST) {
            const std::string target = readLink(m_link);
            std::fprintf(stderr,
                         "Greska: %s vec postoji%s%s i nije veza ovog monitora; ne menjam je.\n"
                         "Ako je ostala od ranije, obrisite je (rm %s) ili izaberite drugi "
                         "broj porta.\n",
                         m_link.c_str(), target.empty() ? "" : " -> ", target.c_str(),
                         m_link.c_str());
        } else {
            std::fprintf(stderr, "Greska: veza %s se ne moze napraviti (%s)\n", m_link.c_str(),
                         std::strerror(errno));
        }
        return false;
    }
    m_linked = true;
    return true;
}

// Listening on a real device: its RX carries what the program sends on another port's TX.
bool Monitor::openDevice()
{
    const char *path = m_options.device.c_str();
    m_master = open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0) {
        std::fprintf(stderr, "Greska: %s se ne otvara (%s)\n", path, std::strerror(errno));
        return false;
    }
    if (!isatty(m_master)) {
        std::fprintf(stderr, "Greska: %s nije serijski port\n", path);
        return false;
    }
    if (!setLine(m_master, m_options.rate)) {
        std::fprintf(stderr, "Greska: %s ne prima brzinu %ld b/s (8N1)\n", path, m_options.rate);
        return false;
    }
    tcflush(m_master, TCIFLUSH); // what arrived before we listened belongs to nobody's train
    return true;
}

void Monitor::cleanUp()
{
    // Only our own link goes; one that someone replaced meanwhile stays.
    if (m_linked && readLink(m_link) == m_slaveName) {
        unlink(m_link.c_str());
        say("Veza %s uklonjena\n", m_link.c_str());
    }
    m_linked = false;
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
        if (m_train.empty()) {
            m_trainStart = now;
            m_trainClock = wallClock();
        }
        m_train.insert(m_train.end(), buffer, buffer + n);
        m_lastByte = now;
    }
}

void Monitor::finishTrain()
{
    if (m_train.empty())
        return;
    ++m_totalTrains;

    std::string line = m_trainClock + "  #" + std::to_string(m_totalTrains) + "  " +
                       std::to_string(m_train.size()) + " B ";
    const size_t shown = m_options.all ? m_train.size() : std::min(m_train.size(), kShownBytes);
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
    say("%s\n", line.c_str());
    m_train.clear();
}

void Monitor::printSeries()
{
    if (m_series.periods > 0)
        say("Povorki: %ld; perioda srednja %s ms, najmanja %s ms, najveca %s ms, "
            "odstupanje (std.) %s ms\n",
            m_series.trains, decimal(m_series.mean(), 3).c_str(), decimal(m_series.min, 3).c_str(),
            decimal(m_series.max, 3).c_str(), decimal(m_series.deviation(), 3).c_str());
    m_series = Series{};
}

// The terminal tells nobody when its settings change, and the program's close puts ours back:
// they are read at every wake-up, and one opening that is over before the monitor wakes shows
// its bytes without its settings.
void Monitor::sampleSettings()
{
    if (m_slave < 0)
        return; // a real device: the settings are ours
    const std::string settings = lineSettings(m_slave);
    if (settings != m_ownSettings && settings != m_settings) {
        m_settings = settings;
        say("Port podesen: %s\n", settings.c_str());
    }
}

void Monitor::portClosed()
{
    finishTrain();
    m_closePending = false;
    m_settings.clear();
    say("%s  port zatvoren\n", wallClock().c_str());
    printSeries();
    m_stop = m_options.once;
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
                    say("%s  port otvoren\n", wallClock().c_str());
            } else if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                if (m_openers > 0 && --m_openers == 0)
                    m_closePending = true;
            }
        }
    }
}

int Monitor::run()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    m_signals = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);

    if (!m_options.device.empty()) {
        if (!openDevice())
            return 1;
        say("Slusam %s: %s. Kraj: Ctrl+C\n", m_options.device.c_str(),
            lineSettings(m_master).c_str());
    } else {
        if (!openTerminal() || !makeLink())
            return 1;
        say("Port %d: %s -> %s\n", m_options.number, m_link.c_str(), m_slaveName.c_str());
        say("U programu upisite Port: %d i posaljite povorku. Kraj: Ctrl+C%s\n", m_options.number,
            m_options.once ? " ili kada program zatvori port" : "");
    }

    const double gap = m_options.gapMs / 1000.0;
    int exitCode = 0;
    while (!m_stop) {
        pollfd fds[3] = {{m_master, POLLIN, 0}, {m_events, POLLIN, 0}, {m_signals, POLLIN, 0}};
        int timeoutMs = -1;
        if (!m_train.empty() || m_closePending)
            timeoutMs = m_options.gapMs;
        const int ready = poll(fds, 3, timeoutMs);
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "Greska: %s\n", std::strerror(errno));
            break;
        }
        const double now = secondsNow();
        if (fds[2].revents & POLLIN) {
            readBytes(now);
            finishTrain();
            break;
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
            std::fprintf(stderr, "Greska: %s je nestao ili se prekinuo\n",
                         m_options.device.c_str());
            exitCode = 1;
            break;
        }
        if (!m_train.empty() && now - m_lastByte >= gap)
            finishTrain();
        // Nothing came for a gap after the close: everything of that opening is in.
        if (m_closePending && m_train.empty() && ready == 0)
            portClosed();
    }
    printSeries();
    cleanUp();
    return exitCode;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (const auto exitCode = parse(argc, argv, options))
        return *exitCode;
    Monitor monitor(options);
    return monitor.run();
}
