// SPDX-License-Identifier: MIT
#include "cli/monitorline.h"

#include "serial/nativeline.h"
#include "serial/serialline.h"
#include "texts/monitor.h"

#include <termios.h>

QString lineSettings(int fd)
{
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        return OperatorText::lineSettingsUnknown();
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
    return OperatorText::lineSettings(NativeLine::rateOf(fd), dataBits, parity, stopBits);
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
    // Any rate, exactly, and no more than 1 % off: as the program's own line does it.
    std::int32_t applied = 0;
    int error = 0;
    return NativeLine::setExactRate(fd, std::int32_t(rate), &applied, &error) ==
               NativeLine::Status::Ok &&
           SerialLine::closeEnough(std::int32_t(rate), applied);
}
