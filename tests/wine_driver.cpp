// Runs wine_nativeline.exe under Wine against a pseudo-terminal linked as COM42 in a private
// Wine prefix, and plays the far end of the line as the program asks (see wine_nativeline.cpp).
// Exits with the program's status, or 77 (skipped) where Wine cannot start.
// Usage: vorlagen-wine-driver WINE64 PROGRAM.exe FOLDER (the prefix and the log go there)
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kSkip = 77;
constexpr const char kPort[] = "com42"; // above the ports Wine links to /dev/ttyS* itself

// The far end: reads slowly (small pieces with pauses) unless stalled.
class Reader
{
public:
    explicit Reader(int master)
        : m_master(master)
        , m_thread([this] { run(); })
    {}
    ~Reader() { stop(); }

    void setReading(bool on) { m_reading = on; }
    std::string take() // in hex
    {
        std::lock_guard lock(m_mutex);
        std::string hex;
        for (const unsigned char c : m_got)
            hex += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
        m_got.clear();
        return hex;
    }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    void run()
    {
        while (!m_stop) {
            pollfd p{m_master, POLLIN, 0};
            if (!m_reading || ::poll(&p, 1, 5) <= 0 || !(p.revents & POLLIN)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            char buffer[512];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0) {
                std::lock_guard lock(m_mutex);
                m_got.append(buffer, std::size_t(n));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    const int m_master;
    std::atomic<bool> m_reading{true};
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::string m_got;
    std::thread m_thread;
};

// Runs `argv` with the prefix's environment, stdin and stdout as given (else the log), stderr
// to the log; returns its exit status, -1 if it did not run or was killed.
int runWine(const std::string &prefix, const std::vector<std::string> &argv, int log, int in = -1,
            int out = -1)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("WINEPREFIX", prefix.c_str(), 1);
        ::setenv("WINEDEBUG", "-all", 1);
        ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1); // no Mono or Gecko prompts
        ::unsetenv("DISPLAY");
        ::dup2(in >= 0 ? in : ::open("/dev/null", O_RDONLY), 0);
        ::dup2(out >= 0 ? out : log, 1);
        ::dup2(log, 2);
        std::vector<char *> args;
        for (const std::string &arg : argv)
            args.push_back(const_cast<char *>(arg.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2; // usage in the comment above
    const std::string wine = argv[1];
    const std::string folder = argv[3];
    const std::string prefix = folder + "/prefix";
    ::signal(SIGPIPE, SIG_IGN);
    if (::access(wine.c_str(), X_OK) != 0) {
        std::printf("SKIP: wine64 not found (%s); install the package wine64\n", wine.c_str());
        return kSkip;
    }
    ::mkdir(folder.c_str(), 0755);
    const std::string logPath = folder + "/wine.log";
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log < 0) {
        std::printf("FAIL: cannot write %s: %s\n", logPath.c_str(), std::strerror(errno));
        return 1;
    }
    // A new prefix takes a while to set up; it stays in the build folder for the next run.
    if (::access((prefix + "/system.reg").c_str(), F_OK) != 0 &&
        runWine(prefix, {wine, "wineboot", "--init"}, log) != 0) {
        std::printf("SKIP: Wine cannot start here (wineboot failed, see %s)\n", logPath.c_str());
        return kSkip;
    }
    // Close-on-exec throughout: a copy of the master in Wine's processes would keep the line
    // from hanging up.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::printf("SKIP: no pseudo-terminals on this machine\n");
        return kSkip;
    }
    const std::string device = ::ptsname(master);
    // Raw, so that every byte arrives as written; held open so that the terminal outlives the
    // program's own open and close.
    const int held = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios raw{};
    ::tcgetattr(held, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(held, TCSANOW, &raw);
    const std::string link = prefix + "/dosdevices/" + kPort;
    ::unlink(link.c_str());
    if (::symlink(device.c_str(), link.c_str()) != 0) {
        std::printf("FAIL: cannot set up %s -> %s: %s\n", link.c_str(), device.c_str(),
                    std::strerror(errno));
        return 1;
    }

    int toProgram[2];
    int fromProgram[2];
    if (::pipe2(toProgram, O_CLOEXEC) != 0 || ::pipe2(fromProgram, O_CLOEXEC) != 0)
        return 1;
    Reader reader(master);
    int status = -1;
    std::thread program([&] {
        status = runWine(prefix, {wine, argv[2], kPort}, log, toProgram[0], fromProgram[1]);
        ::close(fromProgram[1]); // ends the command loop below
    });
    FILE *commands = ::fdopen(fromProgram[0], "r");
    char line[256];
    bool hungUp = false;
    while (std::fgets(line, sizeof line, commands)) {
        std::string command(line);
        while (!command.empty() && (command.back() == '\n' || command.back() == '\r'))
            command.pop_back();
        std::string answer = "ok";
        if (command == "stall") {
            reader.setReading(false);
        } else if (command == "read") {
            reader.setReading(true);
        } else if (command == "take") {
            answer = reader.take();
        } else if (command == "hangup" && !hungUp) {
            reader.stop();
            ::close(master);
            hungUp = true;
        } else {
            std::printf("%s\n", command.c_str()); // the program's report
            continue;
        }
        answer += '\n';
        if (::write(toProgram[1], answer.data(), answer.size()) != ssize_t(answer.size()))
            break;
    }
    program.join();
    ::unlink(link.c_str());
    if (status < 0)
        std::printf("FAIL: Wine ended abnormally (see %s)\n", logPath.c_str());
    return status < 0 ? 1 : status;
}
