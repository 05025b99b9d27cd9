// SPDX-License-Identifier: MIT
#pragma once

#include "serial/commcontrol.h"
#include "train/panel.h"
#include "train/trainsender.h"
#include "train/traintimer.h"

#include <memory>

class SerialLines;

// The send engine, wired in one place: the port object, the repetition timer and the send
// commands over them. The window, vorlagen-send and the benchmark each make one over the
// program's lines; tests make one over fake devices and a timer they tick by hand. Declared so
// that the commands go first, then the timer (its thread ends), then the port (released with
// what was written still going out).
class Engine
{
public:
    struct Parts
    {
        CommControl::DeviceFactory devices;
        PortMap map;
        std::unique_ptr<TrainTimer> timer;
    };
    // The system's ports as lines of `lines`, and the precise timer.
    static Parts systemParts(SerialLines &lines);

    Engine(Parts parts, Panel &panel, Messenger &messenger);
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    CommControl &port() { return m_port; }
    const CommControl &port() const { return m_port; }
    TrainTimer &timer() { return *m_timer; }
    TrainSender &sender() { return m_sender; }
    const TrainSender &sender() const { return m_sender; }

private:
    CommControl m_port;
    std::unique_ptr<TrainTimer> m_timer;
    TrainSender m_sender;
};
