#include "serial/nativeline.h"

#include "serial/portfailure.h"

#include <QFile>

// termios2 (any rate, exact) comes from the kernel headers, which clash with <termios.h>; so this
// file speaks to the tty through ioctl() alone.
#include <asm/termbits.h>
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
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

NativeLine::~NativeLine() = default;

NativeLine::Pushed NativeLine::push(const char *data, qint64 size)
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

qint64 NativeLine::queued() const
{
    int bytes = 0;
    if (::ioctl(m_handle, TIOCOUTQ, &bytes) != 0)
        return 0;
    return bytes;
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

NativeLine::Status NativeLine::setRate(qint32 rate, qint32 *applied)
{
    termios2 tio{};
    if (::ioctl(m_handle, TCGETS2, &tio) != 0) {
        m_lastError = errno;
        return statusOf(errno);
    }
    tio.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = speed_t(rate);
    tio.c_ospeed = speed_t(rate);
    if (::ioctl(m_handle, TCSETS2, &tio) != 0) {
        m_lastError = errno;
        return errno == EINVAL ? Status::Unsupported : statusOf(errno);
    }
    termios2 back{};
    if (::ioctl(m_handle, TCGETS2, &back) != 0) {
        m_lastError = errno;
        return statusOf(errno);
    }
    if (applied)
        *applied = qint32(back.c_ospeed);
    return Status::Ok;
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

void NativeLine::releaseExclusive()
{
    ::ioctl(m_handle, TIOCNXCL); // a device that is gone has nothing left to release
}

int NativeLine::openFailureNumber(const QString &path, QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return PortError::NoSuchPort;
    case QSerialPort::PermissionError:
        // Access itself was checked before; what is left is the lock file or TIOCEXCL (EBUSY).
        return accessDenied(path) ? PortError::PermissionDenied : PortError::PortInUse;
    default:
        return PortError::OpenFailed;
    }
}

bool NativeLine::accessDenied(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    return ::access(name.constData(), W_OK) != 0 && errno == EACCES;
}
