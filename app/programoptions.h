// SPDX-License-Identifier: MIT
#pragma once

#include <optional>

// The program's command line, read before the application object exists (on X11 that needs a
// display) and before the one-instance lock: --help and --version print and end the program,
// a wrong call is refused. Gives the exit code when the program is to end at once.
std::optional<int> handleProgramOptions(int argc, char *argv[]);
