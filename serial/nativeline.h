#pragma once

#include <QSerialPort>
#include <QString>
#include <atomic>
#include <memory>
#include <utility>

// The native handle of a serial device that QSerialPort opened, for what QSerialPort does
// badly here: non-blocking writes that never queue without bound, the driver's own queue, the
// drain before a close, exact rates, and modem lines on devices that have none. Every
// platform-specific call of the port layer lives behind this class (one file per platform).
//
// No QObject and no event loop: any thread may call. push(), queued() and the line setters may
// run while another thread sits in waitWritable() or drain() on the same handle.
class NativeLine
{
public:
    // QSerialPort's own name for this type is private.
    using Handle = decltype(std::declval<const QSerialPort &>().handle());

    enum class Status {
        Ok,
        WouldBlock,  // the driver takes nothing more just now
        Unsupported, // the device has no such thing (modem lines on a pseudo-terminal)
        Gone,        // hung up, unplugged: the device will never work again
        Failed,
    };
    struct Pushed
    {
        qint64 bytes = 0; // taken by the driver
        Status status = Status::Ok;
    };
    enum class ModemLine { Dtr, Rts };

    explicit NativeLine(Handle handle);
    ~NativeLine();
    NativeLine(const NativeLine &) = delete;
    NativeLine &operator=(const NativeLine &) = delete;

    // As much of `data` as the driver takes without waiting, in order.
    Pushed push(const char *data, qint64 size);
    // Bytes in the driver's transmit queue (0 when the platform cannot tell).
    qint64 queued() const;
    // Waits at most `timeoutMs` until push() can take something: Ok, WouldBlock (timed out) or
    // Gone.
    Status waitWritable(int timeoutMs);
    // Blocks until everything handed to the driver has left the line.
    Status drain();
    // 8N1 stays; the rate changes to `rate`, `applied` tells what the device reports back.
    Status setRate(qint32 rate, qint32 *applied);
    Status setModemLine(ModemLine line, bool on);
    // Other programs (that honour it) cannot open the device while we hold it.
    Status claimExclusive();
    // Gives the claim up again before the close: the terminal's exclusive flag outlives our
    // descriptor while anyone else holds the device open (a monitor on a pseudo-terminal), and
    // would refuse our own next open.
    void releaseExclusive();
    // The platform's last error number, for descriptions.
    int lastError() const { return m_lastError.load(); }

    // What a failed QSerialPort::open of `path` means, as a PortError number.
    static int openFailureNumber(const QString &path, QSerialPort::SerialPortError error);
    // Whether the user may not open `path` at all (checked before the open).
    static bool accessDenied(const QString &path);

private:
    struct State;
    Handle m_handle;
    std::unique_ptr<State> m_state;
    std::atomic<int> m_lastError{0};
};
