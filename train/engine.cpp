// SPDX-License-Identifier: MIT
#include "train/engine.h"

#include "serial/serialportdevice.h"
#include "train/precisetimer.h"

Engine::Parts Engine::systemParts(SerialLines &lines)
{
    return Parts{SerialPortDevice::factory(lines), PortMap(), std::make_unique<PreciseTimer>()};
}

Engine::Engine(Parts parts, Panel &panel, Messenger &messenger)
    : m_port(std::move(parts.devices), std::move(parts.map))
    , m_timer(std::move(parts.timer))
    , m_sender(panel, m_port, *m_timer, messenger)
{}
