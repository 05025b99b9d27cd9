// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

// The links vorlagen-monitor makes for its virtual ports, and how anyone tells whether the
// monitor behind one still runs (Linux; elsewhere there are none).
//
// A monitor links com<N> to /proc/<its pid>/fd/<its descriptor of the terminal>, and holds a
// descriptor of the link itself (O_PATH) for as long as it runs. So:
// - the link dangles the moment the monitor dies, by kill -9 or a crash as well, because the
//   kernel removes /proc/<pid> with the process;
// - should another process get that pid later and hold a terminal at the same descriptor (another
//   program's terminal, or another monitor's port), the link still counts as ended: only the
//   process that made it holds the link open, and the kernel names what a descriptor holds.
// Nobody follows an ended link into a terminal that another program now holds; the next monitor
// for that number replaces it (cli/monitorlink.cpp makes and removes them).
namespace VirtualPort {

enum class Link {
    Other, // not a monitor's link: the operator's own, a file, or nothing at all
    Live,  // its monitor runs
    Ended, // its monitor has ended: the link is stale
};

Link inspect(const QString &path);

// What a monitor links to: its own descriptor `fd` (of the terminal), as any process sees it.
QString targetFor(qint64 pid, int fd);

} // namespace VirtualPort

// Tells when the monitor behind a live link ends (kill -9 included), which changes nothing in
// the link's folder: the line preview looks again then. Linux only; elsewhere it never tells.
class MonitorWatch : public QObject
{
    Q_OBJECT

public:
    explicit MonitorWatch(QObject *parent = nullptr);
    ~MonitorWatch() override;

    // Watches the monitor behind the link at `path` if that is a live monitor's link, and
    // nothing otherwise.
    void watch(const QString &path);

signals:
    void ended();

private:
    void stop();

    QString m_path;
    int m_process = -1; // the monitor's process descriptor (pidfd)
    QSocketNotifier *m_notifier = nullptr;
};
