// SPDX-License-Identifier: MIT
#include "cli/monitorline.h"

#include <cstdio>
#include <cstdlib>
#include <sys/ioctl.h>
#include <termios.h>
#include <utility>

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

} // namespace

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
