// SPDX-License-Identifier: MIT
#include "train/engine.h"

#include "serial/serialportdevice.h"
#include "train/precisetimer.h"

Engine::Parts Engine::systemParts(SerialLines &lines)
{
    auto timer = std::make_unique<PreciseTimer>(RealtimeRequest::system());
    auto priority = timer->priority();
    return Parts{SerialPortDevice::factory(lines), PortMap(), std::move(timer),
                 std::move(priority)};
}

Engine::Engine(Parts parts, Panel &panel, Messenger &messenger)
    : m_port(std::move(parts.devices), std::move(parts.map))
    , m_timer(std::move(parts.timer))
    , m_sender(panel, m_port, *m_timer, messenger)
    , m_priority(std::move(parts.priority))
{}

SenderPriority Engine::senderPriority() const
{
    return m_priority.valid() ? m_priority.get() : SenderPriority();
}

std::optional<SenderPriority> Engine::senderPriorityIfKnown() const
{
    using namespace std::chrono_literals;
    if (!m_priority.valid() || m_priority.wait_for(0s) != std::future_status::ready)
        return std::nullopt;
    return m_priority.get();
}
