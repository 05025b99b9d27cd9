// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// What vorlagen-monitor is asked to do: a virtual port N, or listening on a real device.
struct MonitorOptions
{
    static constexpr int kDefaultGapMs = 3;
    static constexpr std::size_t kShownBytes = 32;

    int number = 0;
    std::string device; // a real serial device to listen on instead of a pseudo-terminal
    long rate = 115200; // for the device
    bool once = false;
    bool all = false;
    int gapMs = kDefaultGapMs;
};

// Reads the command line into `options`; gives the exit code when the monitor is to end at once
// (--help, --version, a wrong call).
std::optional<int> parseMonitorOptions(int argc, char **argv, MonitorOptions &options);
