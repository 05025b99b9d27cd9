// SPDX-License-Identifier: MIT
#pragma once

#include "train/panel.h"

class VorlaGen;

// The start-up routine: the first of the program's own code to run, before any window.
namespace Module1 {

// Refuses a second instance (the notice goes to `messenger`), creates the window, writes the two
// settings and shows the window. Returns false when the program must end at once: another
// instance runs. Otherwise the program lives on the window's events until it is closed.
bool Main(Messenger &messenger);

// After Main: runs the program until it ends and then ends it in order, whichever way it ends
// ("Kraj", the window closed, SIGTERM, SIGINT, SIGHUP): the repetition stops, the port closes,
// what waits to be sent goes out within a grace time, every device is closed and its claim and
// lock given up. Only then does it return, with the exit code.
int Run();

// The window made by Main; null once it has been closed (closing destroys it).
VorlaGen *mainWindow();

} // namespace Module1
