// SPDX-License-Identifier: MIT
#pragma once

#include "serial/linedriver.h"
#include "serial/portdevice.h"
#include "serial/serialline.h"

#include <QObject>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QIODevice;

// The owner of every serial line the program opens: each line's worker thread, its queue, its
// drain after the close, and the take-over of a line still draining by the next open of the same
// device. The program's start-up makes one (the window's start-up routine, vorlagen-send, the
// benchmark; tests make their own) and hands it to what opens ports; it ends every line before
// the program ends, through finish() or its destructor.
//
// Threads:
// - The owner's thread (the one that made it, the program's main thread) opens and closes every
//   QSerialPort: opens through SerialPortDevice (start, takeOver), closes in finish(), in the
//   destructor, and when a worker posts that its line is done. It alone reads or changes the
//   owner's list of lines; no other thread can reach that list.
// - Each line has one worker thread, started when the line opens and joined by the owner when it
//   closes the line: it pushes what the driver could not take at once, applies a later open's
//   rate once the line has drained, and drains the line after its holder let go. It never
//   touches the QSerialPort; it only posts to the owner's thread.
// - Any thread may write to a line and set its modem lines (SerialLine locks itself). The
//   repetition timer's thread writes that way, through the open device (PortOutput,
//   SerialPortDevice), never through a QObject of another thread.
class SerialLines : public QObject
{
    Q_OBJECT

public:
    explicit SerialLines(QObject *parent = nullptr);
    // finish() with the exit grace, if it has not run.
    ~SerialLines() override;
    SerialLines(const SerialLines &) = delete;
    SerialLines &operator=(const SerialLines &) = delete;

    struct Taken
    {
        std::shared_ptr<SerialLine> line;   // taken over
        std::optional<PortFailure> failure; // the device is held by another open of ours
        // Neither: no line of ours has the device; open it afresh.
    };
    // Takes over the line of `path` that is still draining, at `rate`.
    Taken takeOver(const QString &path, qint32 rate, PortDevice::FailureHandler handler);

    // Starts the line of a device just opened: claims it, applies `rate` (refused when the device
    // would run more than 1 % off) and keeps it. On failure the device is closed again. `port` is
    // the QSerialPort that opened the device, closed with the line; none where the driver opened
    // the device itself (Windows), which then closes it when it releases the handle.
    std::shared_ptr<SerialLine> start(const QString &path, std::unique_ptr<LineDriver> driver,
                                      std::unique_ptr<QIODevice> port, qint32 rate,
                                      PortDevice::FailureHandler handler,
                                      std::optional<PortFailure> *failure);

    // How soon the end must come: as asked (None), within the exit grace from the moment it is
    // first seen (Soon: a first request to end), or at once (Now: a second one).
    enum class Urgency { None, Soon, Now };

    // What became of the bytes written to every line since this owner was made.
    struct Tally
    {
        qint64 written = 0; // taken by the lines
        qint64 lost = 0;    // of those, never sent: the device failed or refused a rate, or the
                            // end came first
        int failedLines = 0;
    };

    // The end of the program: lets every line go and waits until each has drained (its last
    // bytes have left the driver), at most `grace` (cut to kExitGrace once `urgency` says Soon,
    // ended when it says Now); closes each as it is done (giving up its exclusive claim and
    // removing its lock file) and joins its worker. What has not left by then is dropped. Lines
    // still held are closed too; they answer "gone" from then on. Gives the tally of the whole
    // run: a program whose exit status tells whether everything left (vorlagen-send) reads it.
    Tally finish(std::chrono::milliseconds grace, const std::function<Urgency()> &urgency = {});
    static constexpr std::chrono::milliseconds kExitGrace{2000};

    // Devices open or still draining.
    int inUse() const { return int(m_lines.size()); }

private:
    void closeFinished();
    void closeLine(SerialLine &line, SerialLine::Leftovers leftovers);

    std::map<QString, std::shared_ptr<SerialLine>> m_lines; // by the device's resolved path
    Tally m_tally;                                          // of the lines closed so far
};
