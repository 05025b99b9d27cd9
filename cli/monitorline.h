// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// A terminal's line settings as the monitor reads and sets them: what the program chose for the
// virtual port, and a real device set up to listen on.

// "115200 b/s, 8N1" as the terminal at `fd` is set now.
QString lineSettings(int fd);

// Raw 8N1 at `rate` b/s, no flow control, as the program runs its port; false when the device
// refuses it or would run more than 1 % off.
bool setLine(int fd, long rate);
