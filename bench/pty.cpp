// SPDX-License-Identifier: MIT
#include "bench/pty.h"

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;

Pty::Pty()
{
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("posix_openpt");
        std::exit(2);
    }
    slave = QString::fromLocal8Bit(::ptsname(master));
}

Pty::~Pty()
{
    ::close(master);
}

int Pty::openSlave(int flags) const
{
    const int fd = ::open(slave.toLocal8Bit().constData(), flags | O_NOCTTY);
    if (fd < 0) {
        std::perror("open slave");
        std::exit(2);
    }
    termios raw{};
    ::tcgetattr(fd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(fd, TCSANOW, &raw);
    return fd;
}

Receiver::Receiver(int master, Clock::duration period, size_t wanted)
    : m_master(master)
    , m_period(period)
    , m_wanted(wanted)
    , m_thread([this] { run(); })
    , m_cpu(m_thread)
{}

void Receiver::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void Receiver::awaitTrains(quint64 sent) const
{
    for (int i = 0; i < 500 && received() < sent; ++i)
        std::this_thread::sleep_for(2ms);
}

void Receiver::run()
{
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    pthread_setname_np(pthread_self(), "bench-receiver");
    m_trains.reserve(m_wanted + 16);
    std::vector<unsigned char> buffer(8192);
    int inTrain = 0;
    Clock::time_point trainStart;
    Clock::time_point lastRead;
    while (!m_stop) {
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        const ssize_t n = (p.revents & POLLIN) ? ::read(m_master, buffer.data(), buffer.size()) : 0;
        const auto now = Clock::now();
        if (n <= 0) {
            std::this_thread::sleep_for(1ms); // no slave open: nothing to read
            continue;
        }
        if (inTrain > 0 && now - lastRead > m_period / 2) {
            ++m_fragments;
            inTrain = 0;
        }
        lastRead = now;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[size_t(i)] != kTrainByte)
                ++m_wrong;
            if (inTrain == 0)
                trainStart = now;
            if (++inTrain == kTrainBytes) {
                inTrain = 0;
                m_trains.push_back(trainStart);
                ++m_count;
            }
        }
    }
}
