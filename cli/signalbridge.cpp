// SPDX-License-Identifier: MIT
#include "cli/signalbridge.h"

#include <QSocketNotifier>
#include <atomic>
#include <iterator>
#include <utility>

#ifdef Q_OS_WIN
#include <QMetaObject>
#include <mutex>
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

// Lock-free, so that a signal handler may touch them.
std::atomic<bool> ending{false};
std::atomic<bool> hurry{false};

// A request while the end is under way: the first one starts it, a later "now" hurries it.
// Returns whether this request hurried.
bool noteRequest(bool isNow)
{
    const bool again = ending.exchange(true);
    if (again && isNow)
        hurry.store(true);
    return again && isNow;
}

#ifdef Q_OS_WIN

std::mutex bridgeMutex;
SignalBridge *bridge = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    const bool isNow = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    const bool wasHurried = hurry.load();
    noteRequest(isNow);
    if (wasHurried && isNow)
        return FALSE; // the third: the system's default
    {
        std::lock_guard lock(bridgeMutex);
        if (!bridge)
            return FALSE; // the system's default: end the process
        QMetaObject::invokeMethod(bridge, "endRequested", Qt::QueuedConnection,
                                  Q_ARG(int, int(event)));
    }
    // For these the system ends the process as soon as the handler returns: hold it until the
    // orderly end has finished the process (the system's own time limit still applies).
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        ::Sleep(INFINITE);
    return TRUE;
}

const wchar_t kSessionWindowClass[] = L"vorlagen-session-end";

// The hidden window's messages, on the thread that made it (its event loop dispatches them).
LRESULT CALLBACK onSessionMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_QUERYENDSESSION:
        return TRUE; // nothing to ask the user: the end comes in order
    case WM_ENDSESSION:
        if (wParam) {
            noteRequest(false);
            if (auto *owner =
                    reinterpret_cast<SignalBridge *>(::GetWindowLongPtrW(window, GWLP_USERDATA)))
                emit owner->sessionEnding();
        }
        return 0;
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

HWND makeSessionWindow(SignalBridge *owner)
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &onSessionMessage;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kSessionWindowClass;
    ::RegisterClassW(&windowClass); // fails harmlessly when a bridge before us registered it
    // Top-level but never shown: a message-only window hears no session messages.
    HWND window = ::CreateWindowExW(0, kSessionWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                    nullptr, windowClass.hInstance, nullptr);
    if (window)
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
    return window;
}

#else

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
bool taken[std::size(kSignals)] = {};
int socketPair[2] = {-1, -1};
std::atomic<int> writeEnd{-1};

void onSignal(int number)
{
    const int savedErrno = errno;
    if (noteRequest(number == SIGTERM || number == SIGINT)) {
        // The next one takes the default way.
        struct sigaction defaults = {};
        defaults.sa_handler = SIG_DFL;
        sigemptyset(&defaults.sa_mask);
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            if (taken[i] && kSignals[i] != SIGHUP)
                ::sigaction(kSignals[i], &defaults, nullptr);
        }
    }
    const char byte = char(number);
    // Never blocks (non-blocking socket); a full socket already holds a request.
    if (const int fd = writeEnd.load(); fd >= 0) [[maybe_unused]]
        const ssize_t written = ::write(fd, &byte, 1);
    errno = savedErrno;
}

// A signal that was ignored when the program started (nohup, a background job) stays ignored.
void takeSignals()
{
    struct sigaction action = {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        struct sigaction before = {};
        ::sigaction(kSignals[i], nullptr, &before);
        taken[i] = before.sa_handler != SIG_IGN;
        if (taken[i])
            ::sigaction(kSignals[i], &action, nullptr);
    }
}

void releaseSignals()
{
    struct sigaction defaults = {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (std::exchange(taken[i], false))
            ::sigaction(kSignals[i], &defaults, nullptr);
    }
}

#endif

} // namespace

SignalBridge::SignalBridge(QObject *parent)
    : QObject(parent)
{
    ending = false;
    hurry = false;
#ifdef Q_OS_WIN
    {
        std::lock_guard lock(bridgeMutex);
        bridge = this;
    }
    ::SetConsoleCtrlHandler(&onConsoleEvent, TRUE);
    m_sessionWindow = makeSessionWindow(this);
#else
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, socketPair) != 0)
        return; // the signals keep their default: the program still ends, just not in order
    for (const int fd : socketPair)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(socketPair[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalBridge::readRequests);
    writeEnd = socketPair[0];
    takeSignals();
#endif
}

SignalBridge::~SignalBridge()
{
#ifdef Q_OS_WIN
    ::SetConsoleCtrlHandler(&onConsoleEvent, FALSE);
    if (m_sessionWindow)
        ::DestroyWindow(static_cast<HWND>(m_sessionWindow));
    std::lock_guard lock(bridgeMutex);
    bridge = nullptr;
#else
    if (!m_notifier)
        return;
    releaseSignals();
    writeEnd = -1;
    delete m_notifier;
    for (int &fd : socketPair) {
        ::close(fd);
        fd = -1;
    }
#endif
}

void SignalBridge::endBegun()
{
    ending = true;
}

bool SignalBridge::hurried()
{
    return hurry.load();
}

SerialLines::Urgency SignalBridge::urgency()
{
    if (hurry.load())
        return SerialLines::Urgency::Now;
    return ending.load() ? SerialLines::Urgency::Soon : SerialLines::Urgency::None;
}

void SignalBridge::readRequests()
{
#ifndef Q_OS_WIN
    char bytes[16];
    const ssize_t n = ::read(socketPair[1], bytes, sizeof bytes);
    for (ssize_t i = 0; i < n; ++i)
        emit endRequested(int(bytes[i]));
#endif
}
