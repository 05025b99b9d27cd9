// SPDX-License-Identifier: MIT
#pragma once

#include "serial/commcontrol.h"
#include "train/panel.h"
#include "train/realtime.h"
#include "train/trainsender.h"
#include "train/traintimer.h"

#include <future>
#include <memory>
#include <optional>

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
        // What the timer's thread got when it asked for real-time scheduling; none for a timer
        // without a thread of its own. Kept apart from the timer, which a program may wrap.
        std::shared_future<SenderPriority> priority{};
    };
    // The system's ports as lines of `lines`, and the precise timer, whose thread asks for
    // real-time scheduling directly and then from RealtimeKit.
    static Parts systemParts(SerialLines &lines);

    Engine(Parts parts, Panel &panel, Messenger &messenger);
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    CommControl &port() { return m_port; }
    const CommControl &port() const { return m_port; }
    TrainTimer &timer() { return *m_timer; }
    TrainSender &sender() { return m_sender; }
    const TrainSender &sender() const { return m_sender; }

    // How the repetition's thread runs; waits until the thread has asked (at most the broker's
    // time-out, a few milliseconds as a rule). Unknown for a timer ticked by hand.
    SenderPriority senderPriority() const;
    // The same without waiting: nothing until the thread has asked.
    std::optional<SenderPriority> senderPriorityIfKnown() const;

private:
    CommControl m_port;
    std::unique_ptr<TrainTimer> m_timer;
    TrainSender m_sender;
    std::shared_future<SenderPriority> m_priority;
};
