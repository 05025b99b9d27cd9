// SPDX-License-Identifier: MIT
#pragma once

#include "serial/seriallines.h"

#include <QObject>

class QSocketNotifier;

// Turns the system's requests to end into a Qt signal, so that they end the program the same
// orderly way as its own exit: SIGTERM (shutdown, logout, kill), SIGINT (Ctrl+C in the terminal
// that started it) and SIGHUP (that terminal closed). The handler only writes the signal's number
// into a socket pair; a QSocketNotifier reads it on the bridge's thread, so no Qt code ever runs
// inside the handler.
//
// Once the end is under way (a request came, or endBegun() was called), a further SIGTERM or
// SIGINT means "now": hurried() turns true, so whatever waits for bytes still on their way stops
// waiting, and a third one ends the process the system's default way.
//
// Windows has no such signals. There the bridge listens to the console's events (Ctrl+C,
// Ctrl+Break, the console closed) the same way. Logoff and shutdown reach a console program only
// as window messages (the console's own events for them go to services alone), so the bridge
// keeps a hidden window for them: sessionEnding() is emitted inside the system's call, and the
// process ends as soon as the handlers return. The window program hears the same from Qt as
// QCoreApplication::aboutToQuit.
//
// One bridge at a time; the default handling is back once it is destroyed.
class SignalBridge : public QObject
{
    Q_OBJECT

public:
    explicit SignalBridge(QObject *parent = nullptr);
    ~SignalBridge() override;
    SignalBridge(const SignalBridge &) = delete;
    SignalBridge &operator=(const SignalBridge &) = delete;

    // The end began another way ("Kraj"): from now on SIGTERM or SIGINT hurries it.
    static void endBegun();
    // A SIGTERM or SIGINT came while the end was under way. Any thread may ask.
    static bool hurried();
    // The same as the line owner's end reads it: Soon once the end is under way, Now once
    // hurried.
    static SerialLines::Urgency urgency();

signals:
    // The signal's number (Windows: the console event's).
    void endRequested(int signalNumber);
    // Windows: the session ends (logoff, shutdown). Emitted on the bridge's thread, directly:
    // whatever must happen before the process ends happens in the handler.
    void sessionEnding();

private:
    void readRequests();

    QSocketNotifier *m_notifier = nullptr;
    void *m_sessionWindow = nullptr; // Windows: the hidden window that hears the session end
};
