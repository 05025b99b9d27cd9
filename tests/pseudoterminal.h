// SPDX-License-Identifier: MIT
#pragma once

// A pseudo-terminal made by a test, standing in for a serial device: the port layer opens the
// device side, a reader thread keeps every arrival on the other side. A stalled reader takes
// nothing until startReading(), so that writes pile up in the port layer. Close-on-exec: a
// child process holding the master would keep the line from hanging up.

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

class PseudoTerminal
{
public:
    explicit PseudoTerminal(bool reading = true)
        : m_reading(reading)
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return;
        m_path = QString::fromLocal8Bit(::ptsname(m_master));
        // Held open by the test so the terminal outlives every close of the port.
        m_device = ::open(::ptsname(m_master), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        m_reader = std::thread([this] { read(); });
    }
    ~PseudoTerminal()
    {
        hangUp();
        if (m_device >= 0)
            ::close(m_device);
    }
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool ok() const { return m_master >= 0 && m_device >= 0; }
    QString path() const { return m_path; }
    // The test's own descriptor of the device side, to look at its termios.
    int deviceSide() const { return m_device; }
    // Whether a program holds the exclusive claim (TIOCEXCL); root is let through all the same.
    int exclusive() const
    {
        int flag = -1;
        ::ioctl(m_device, TIOCGEXCL, &flag);
        return flag;
    }
    void startReading() { m_reading = true; }
    void stopReading() { m_reading = false; }
    // Bytes on their way to the reader: none once everything written has been received.
    int unread() const
    {
        std::lock_guard lock(m_mutex);
        int bytes = 0;
        return m_master >= 0 && ::ioctl(m_master, FIONREAD, &bytes) == 0 ? bytes : 0;
    }

    QList<QByteArray> arrivals() const
    {
        std::lock_guard lock(m_mutex);
        return m_arrivals;
    }
    QByteArray received() const
    {
        std::lock_guard lock(m_mutex);
        return m_arrivals.join();
    }

    // A receiver that stopped reading: the terminal filled with 'U' from the device side until it
    // takes nothing more, a few refusals in a row (the line discipline makes room once after the
    // first). Gives how many bytes that took; reading again gets them first.
    qint64 fill()
    {
        stopReading();
        const int fd = ::open(::ptsname(m_master), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        const QByteArray block(4096, 'U');
        qint64 total = 0;
        for (int refused = 0; fd >= 0 && refused < 5;) {
            const ssize_t n = ::write(fd, block.constData(), size_t(block.size()));
            refused = n > 0 ? 0 : refused + 1;
            total += n > 0 ? n : 0;
            if (n <= 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (fd >= 0)
            ::close(fd);
        return total;
    }

    // Unplugging: the device side fails from now on.
    void hangUp()
    {
        m_stop = true;
        if (m_reader.joinable())
            m_reader.join();
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

private:
    void read()
    {
        while (!m_stop) {
            if (!m_reading) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 5) <= 0 || !(p.revents & POLLIN))
                continue;
            char buffer[4096];
            std::lock_guard lock(m_mutex); // read and kept in one step, for unread()
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0)
                m_arrivals.append(QByteArray(buffer, int(n)));
        }
    }

    int m_master = -1;
    int m_device = -1;
    QString m_path;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_reading;
    mutable std::mutex m_mutex;
    QList<QByteArray> m_arrivals;
    std::thread m_reader;
};
