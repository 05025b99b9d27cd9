// SPDX-License-Identifier: MIT
#pragma once

#include <string>

// The link com<N> of a running monitor, made as serial/virtualport.h says a live one is: to
// /proc/<this process>/fd/<its terminal>, with a descriptor of the link itself held open. It is
// made in place of nothing, or of a link whose monitor has ended; it is removed when the monitor
// ends, but only while it is still the monitor's own. (Linux only, like the monitor.)
class MonitorLink
{
public:
    enum class Made {
        New,
        Replaced,  // a link whose monitor had ended was there
        Monitored, // another monitor runs for this number
        Occupied,  // someone else's link or file is there
        Failed,    // the system refused (error())
    };

    MonitorLink() = default;
    ~MonitorLink() { remove(); }
    MonitorLink(const MonitorLink &) = delete;
    MonitorLink &operator=(const MonitorLink &) = delete;

    // Links `path` to descriptor `fd` of this process.
    Made make(const std::string &path, int fd);
    // Whether it was still ours and is gone now.
    bool remove();

    const std::string &path() const { return m_path; }
    int error() const { return m_error; }

private:
    Made hold(Made made);
    bool ours() const;

    std::string m_path;
    std::string m_target;
    int m_held = -1; // O_PATH descriptor of the link itself
    int m_error = 0;
};
