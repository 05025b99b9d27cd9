// SPDX-License-Identifier: MIT
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

// The far end: reads slowly (small pieces with pauses) unless stalled, until stopped.
struct Reader
{
    std::atomic<bool> reading{true};
    std::atomic<bool> stopped{false};
    std::mutex mutex;
    std::string got;

    void run(int master)
    {
        while (!stopped) {
            pollfd p{master, POLLIN, 0};
            char buffer[512];
            const ssize_t n = reading && ::poll(&p, 1, 5) > 0 && (p.revents & POLLIN)
                                  ? ::read(master, buffer, sizeof buffer)
                                  : 0;
            if (n > 0) {
                std::lock_guard lock(mutex);
                got.append(buffer, std::size_t(n));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(n > 0 ? 1 : 2));
        }
    }
    std::string take() // in hex
    {
        std::lock_guard lock(mutex);
        std::string hex;
        for (const unsigned char c : got)
            hex += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
        got.clear();
        return hex;
    }
};

// Runs `wine program argument` with the prefix's environment, stdin and stdout as given (else
// the log), stderr to the log; returns its exit status, -1 if it did not run or was killed.
int runWine(const std::string &prefix, const std::string &wine, const char *program,
            const char *argument, int log, int in = -1, int out = -1)
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
        ::execl(wine.c_str(), wine.c_str(), program, argument, nullptr);
        ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Says why the test cannot run; gives `code`, the test's exit status.
int say(int code, const std::string &why)
{
    std::printf("%s: %s\n", code == kSkip ? "SKIP" : "FAIL", why.c_str());
    return code;
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
    if (::access(wine.c_str(), X_OK) != 0)
        return say(kSkip, "wine64 not found (" + wine + "); install the package wine64");
    ::mkdir(folder.c_str(), 0755);
    const std::string logPath = folder + "/wine.log";
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log < 0)
        return say(1, "cannot write " + logPath + ": " + std::strerror(errno));
    // A new prefix takes a while to set up; it stays in the build folder for the next run.
    if (::access((prefix + "/system.reg").c_str(), F_OK) != 0 &&
        runWine(prefix, wine, "wineboot", "--init", log) != 0)
        return say(kSkip, "Wine cannot start here (wineboot failed, see " + logPath + ")");
    // Close-on-exec throughout: a copy of the master in Wine's processes would keep the line
    // from hanging up.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return say(kSkip, "no pseudo-terminals on this machine");
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
    if (::symlink(device.c_str(), link.c_str()) != 0)
        return say(1, "cannot set up " + link + " -> " + device + ": " + std::strerror(errno));

    int toProgram[2];
    int fromProgram[2];
    if (::pipe2(toProgram, O_CLOEXEC) != 0 || ::pipe2(fromProgram, O_CLOEXEC) != 0)
        return 1;
    Reader reader;
    std::thread far([&] { reader.run(master); });
    int status = -1;
    std::thread program([&] {
        status = runWine(prefix, wine, argv[2], kPort, log, toProgram[0], fromProgram[1]);
        ::close(fromProgram[1]); // ends the command loop below
    });
    FILE *commands = ::fdopen(fromProgram[0], "r");
    char line[256];
    while (std::fgets(line, sizeof line, commands)) {
        const std::string command(line, std::strcspn(line, "\r\n"));
        std::string answer = "ok";
        if (command == "stall" || command == "read") {
            reader.reading = command == "read";
        } else if (command == "take") {
            answer = reader.take();
        } else if (command == "hangup") {
            if (!reader.stopped.exchange(true)) {
                far.join();
                ::close(master);
            }
        } else {
            std::printf("%s\n", command.c_str()); // the program's report
            continue;
        }
        answer += '\n';
        if (::write(toProgram[1], answer.data(), answer.size()) != ssize_t(answer.size()))
            break;
    }
    program.join();
    reader.stopped = true;
    if (far.joinable())
        far.join();
    ::unlink(link.c_str());
    return status < 0 ? say(1, "Wine ended abnormally (see " + logPath + ")") : status;
}
