// SPDX-License-Identifier: MIT
// Preloaded into a test or a program under test (LD_PRELOAD): writes every terminal control call
// that reaches a terminal, with its argument and the kernel's answer, to the file named by
// VORLAGEN_IOCTL_LOG, one line each: "<device> <call> <argument> <result>". A pseudo-terminal
// answers calls it cannot carry out (modem lines, a break) with an error, but the call is seen
// here as the kernel saw it, so a test can tell DTR from RTS and a drain from a break.

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
// The kernel's termios2 (the rate a line runs at) clashes with <termios.h>: ioctl() alone here.
#include <asm/termbits.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

struct Call
{
    enum Argument { None, Value, PointerToInt, OutputRate };
    unsigned long request;
    const char *name;
    Argument argument;
};

constexpr Call kCalls[] = {
    {TCSBRK, "TCSBRK", Call::Value},
    {TCSBRKP, "TCSBRKP", Call::Value},
    {TIOCSBRK, "TIOCSBRK", Call::None},
    {TIOCEXCL, "TIOCEXCL", Call::None},
    {TIOCNXCL, "TIOCNXCL", Call::None},
    {TIOCMBIS, "TIOCMBIS", Call::PointerToInt},
    {TIOCMBIC, "TIOCMBIC", Call::PointerToInt},
    {TCSETS2, "TCSETS2", Call::OutputRate},
};

void record(int fd, const Call &call, long argument, long result)
{
    const char *log = std::getenv("VORLAGEN_IOCTL_LOG");
    if (!log)
        return;
    char device[256] = "?";
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, device, sizeof device - 1);
    device[n > 0 ? n : 1] = '\0';
    char line[400];
    const int size =
        std::snprintf(line, sizeof line, "%s %s %ld %ld\n", device, call.name, argument, result);
    const int out = ::open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (out < 0)
        return;
    [[maybe_unused]] const ssize_t written = ::write(out, line, size_t(size));
    ::close(out);
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    const long result = ::syscall(SYS_ioctl, fd, request, argument);
    const int saved = errno;
    for (const Call &call : kCalls) {
        if (call.request != request)
            continue;
        long value = 0;
        if (call.argument == Call::Value)
            value = long(reinterpret_cast<intptr_t>(argument));
        else if (call.argument == Call::PointerToInt && argument)
            value = *static_cast<const int *>(argument);
        else if (call.argument == Call::OutputRate && argument)
            value = long(static_cast<const termios2 *>(argument)->c_ospeed);
        record(fd, call, value, result);
    }
    errno = saved;
    return int(result);
}
