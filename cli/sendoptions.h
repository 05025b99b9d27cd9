// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <optional>

// What vorlagen-send is asked to do: the window's fields as its options set them, and the
// train. Every value is checked by the window's own rules before any device is touched.
struct SendOptions
{
    QString port = QStringLiteral("1");
    QString device; // a device named by its path instead of a port number
    QString rate = QStringLiteral("115200");
    QString train;
    std::optional<int> periodMs; // none: once
    quint64 count = 0;           // 0: until a signal
    bool dtr = true;
    bool rts = false;
    bool verbose = false;
    bool list = false; // only list the ports
    // The train from the pulses the line must carry (--pulses), with the designer's choices.
    QString pulses;
    bool standardRates = false;
    std::optional<QString> tolerance;
    bool plan = false; // only print the design
};

// Reads the command line (and the train from standard input for "-") into `options`; gives the
// exit code when the program is to end at once (--help, --version, a wrong call).
std::optional<int> parseSendOptions(int argc, char **argv, SendOptions &options);
