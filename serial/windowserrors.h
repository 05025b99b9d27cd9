// SPDX-License-Identifier: MIT
#pragma once

#include "serial/linedriver.h"

// What Windows' error numbers mean to the port layer. Plain numbers and standard C++ only, so
// that the Windows line (nativeline_win.cpp) and the device's open use it and a test on any
// platform can read the table.
namespace WindowsError {

// Why an open of a COM port was refused.
enum class OpenRefusal {
    NoSuchPort,     // no such device, or one that is unplugged
    InUse,          // another program holds it (a COM port opens exclusively)
    NotASerialPort, // it opened, or answered, but not as a serial port
};

// An error of a line call (a write, its wait, the drain, the settings).
LineDriver::Status lineStatus(unsigned long error);
// An error of CreateFile on a COM port, or of its first settings.
OpenRefusal openRefusal(unsigned long error);

} // namespace WindowsError
