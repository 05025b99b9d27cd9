// SPDX-License-Identifier: MIT
#include "serial/nativeline.h"

// termios2 (any rate, exact) comes from the kernel headers, which clash with <termios.h>; so this
// file speaks to the tty through ioctl() alone.
#include <asm/termbits.h>
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

struct NativeLine::State
{};

namespace {

NativeLine::Status statusOf(int error)
{
    switch (error) {
    case EAGAIN:
        return NativeLine::Status::WouldBlock;
    case ENOTTY:
    case EINVAL:
        return NativeLine::Status::Unsupported;
    case EIO:
    case ENXIO:
    case ENODEV:
    case EPIPE:
    case EBADF:
        return NativeLine::Status::Gone;
    default:
        return NativeLine::Status::Failed;
    }
}

} // namespace

NativeLine::NativeLine(Handle handle)
    : m_handle(handle)
{}

NativeLine::~NativeLine()
{
    releaseHandle();
}

NativeLine::Pushed NativeLine::push(const char *data, std::int64_t size)
{
    Pushed pushed;
    while (pushed.bytes < size) {
        const ssize_t n = ::write(m_handle, data + pushed.bytes, size_t(size - pushed.bytes));
        if (n > 0) {
            pushed.bytes += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        const int error = n < 0 ? errno : EAGAIN;
        if (error != EAGAIN)
            m_lastError = error;
        pushed.status = statusOf(error);
        break;
    }
    return pushed;
}

std::int64_t NativeLine::queued() const
{
    int bytes = 0;
    if (::ioctl(m_handle, TIOCOUTQ, &bytes) != 0)
        return 0;
    return bytes;
}

bool NativeLine::writeInFlight() const
{
    return false; // write() hands the bytes to the kernel before it returns
}

NativeLine::Status NativeLine::waitWritable(int timeoutMs)
{
    pollfd fd{m_handle, POLLOUT, 0};
    const int n = ::poll(&fd, 1, timeoutMs);
    if (n < 0)
        return errno == EINTR ? Status::WouldBlock : statusOf(errno);
    if (n == 0)
        return Status::WouldBlock;
    // A hung-up tty reports POLLHUP for good; waiting on it again would spin.
    if (fd.revents & (POLLHUP | POLLERR | POLLNVAL)) {
        m_lastError = EIO;
        return Status::Gone;
    }
    return Status::Ok;
}

NativeLine::Status NativeLine::drain()
{
    // TCSBRK with a non-zero argument is tcdrain().
    for (;;) {
        if (::ioctl(m_handle, TCSBRK, 1) == 0)
            return Status::Ok;
        if (errno == EINTR)
            continue;
        m_lastError = errno;
        return statusOf(errno);
    }
}

void NativeLine::discardPending()
{
    // Flushing the output wakes a TCSBRK that waits for it.
    ::ioctl(m_handle, TCFLSH, TCOFLUSH);
}

NativeLine::Status NativeLine::setRate(std::int32_t rate, std::int32_t *applied)
{
    int error = 0;
    const Status set = setExactRate(m_handle, rate, applied, &error);
    if (error)
        m_lastError = error;
    return set;
}

NativeLine::Status NativeLine::setExactRate(Handle handle, std::int32_t rate, std::int32_t *applied,
                                            int *error)
{
    termios2 tio{};
    const auto failed = [&](Status status) {
        *error = errno;
        return status;
    };
    if (::ioctl(handle, TCGETS2, &tio) != 0)
        return failed(statusOf(errno));
    tio.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = speed_t(rate);
    tio.c_ospeed = speed_t(rate);
    if (::ioctl(handle, TCSETS2, &tio) != 0)
        return failed(errno == EINVAL ? Status::Unsupported : statusOf(errno));
    const std::int32_t back = rateOf(handle);
    if (back == 0)
        return failed(statusOf(errno));
    if (applied)
        *applied = back;
    return Status::Ok;
}

std::int32_t NativeLine::rateOf(Handle handle)
{
    termios2 tio{};
    return ::ioctl(handle, TCGETS2, &tio) == 0 ? std::int32_t(tio.c_ospeed) : 0;
}

NativeLine::Status NativeLine::setModemLine(ModemLine line, bool on)
{
    int bits = line == ModemLine::Dtr ? TIOCM_DTR : TIOCM_RTS;
    if (::ioctl(m_handle, on ? TIOCMBIS : TIOCMBIC, &bits) == 0)
        return Status::Ok;
    m_lastError = errno;
    return statusOf(errno);
}

NativeLine::Status NativeLine::claimExclusive()
{
    if (::ioctl(m_handle, TIOCEXCL) == 0)
        return Status::Ok;
    m_lastError = errno;
    return statusOf(errno);
}

void NativeLine::releaseHandle()
{
    if (m_handle < 0)
        return;
    ::ioctl(m_handle, TIOCNXCL); // a device that is gone has nothing left to release
    m_handle = -1;
}

bool NativeLine::accessDenied(const char *localPath)
{
    return ::access(localPath, W_OK) != 0 && errno == EACCES;
}

bool NativeLine::terminalMultiplexer(const char *localPath)
{
    struct stat info = {};
    return ::stat(localPath, &info) == 0 && S_ISCHR(info.st_mode) && major(info.st_rdev) == 5 &&
           minor(info.st_rdev) == 2;
}
