// SPDX-License-Identifier: MIT
#include "ioctllog.h"
#include "pseudoterminal.h"
#include "serial/commcontrol.h"
#include "serial/portbusy.h"
#include "serial/seriallines.h"
#include "serial/serialportdevice.h"
#include "texts/failures.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The kernel's termios2 (exact rates) clashes with <termios.h>; ioctl() alone is used here.
#include <asm/termbits.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

using namespace Qt::StringLiterals;

// A port call that must succeed; a failure shows its report text.
#define QVERIFY_NO_FAILURE(call)                                                                   \
    do {                                                                                           \
        const std::optional<PortFailure> failure_ = (call);                                        \
        QVERIFY2(!failure_, failure_ ? qPrintable(OperatorText::report(*failure_)) : "");          \
    } while (false)

namespace {

// Generous bound for a reader to collect what it expects; never a measure of speed.
constexpr int kCollectMs = 20000;

QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + seed + i / 251) & 0xFF);
    return bytes;
}

// The number of a failure; 0 for none.
int numberOf(const std::optional<PortFailure> &failure)
{
    return failure ? failure->number : 0;
}

// The terminal control calls this test made on `device` (the recorder is linked in).
QStringList callsOn(const QString &device, const QStringList &kinds)
{
    return recordedCalls(QString::fromLocal8Bit(qgetenv("VORLAGEN_IOCTL_LOG")), device, kinds);
}

termios2 termiosOf(const PseudoTerminal &pty)
{
    termios2 tio{};
    ::ioctl(pty.deviceSide(), TCGETS2, &tio);
    return tio;
}

} // namespace

// The real device layer on a pseudo-terminal whose reader starts stalled, linked as COM3 under
// a private configuration folder. No real serial port is ever opened.
class tst_SerialDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void allByteValuesArriveIntact();
    void reopenWhileDrainingLosesNothing();
    void portInUse_data();
    void portInUse();
    void hangUpWhileDraining();
    void lockOfAZombieIsStale();

private:
    void linkAs(int number, const QString &target);

    QTemporaryDir m_config;
    SerialLines m_lines;
    std::unique_ptr<PseudoTerminal> m_pty;
    std::unique_ptr<CommControl> m_port; // COM3, closed
};

void tst_SerialDevice::initTestCase()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    QVERIFY(QDir(m_config.path()).mkpath(u"vorlagen"_s));
    qputenv("VORLAGEN_IOCTL_LOG", QFile::encodeName(m_config.filePath(u"ioctl.log"_s)));
}

void tst_SerialDevice::init()
{
    QFile::remove(QString::fromLocal8Bit(qgetenv("VORLAGEN_IOCTL_LOG")));
    m_pty = std::make_unique<PseudoTerminal>(false);
    if (!m_pty->ok())
        QSKIP("no pseudo-terminals on this machine");
    linkAs(3, m_pty->path());
    m_port = std::make_unique<CommControl>(m_lines);
    QVERIFY_NO_FAILURE(m_port->setCommPort(3));
    // Room for many trains behind the stalled reader.
    QVERIFY_NO_FAILURE(m_port->setOutBufferSize(32000));
}

void tst_SerialDevice::cleanup()
{
    m_port.reset();
    m_pty->startReading();
    // The terminal's number stays taken until every line is closed for good and its lock file
    // gone; freed earlier, it could go to a parallel test that would then find that lock.
    QTRY_COMPARE_WITH_TIMEOUT(m_lines.inUse(), 0, kCollectMs);
    m_pty.reset();
}

void tst_SerialDevice::linkAs(int number, const QString &target)
{
    const QString link = m_config.filePath(u"vorlagen/com%1"_s.arg(number));
    QFile::remove(link);
    QVERIFY(QFile::link(target, link));
}

void tst_SerialDevice::allByteValuesArriveIntact()
{
    QVERIFY_NO_FAILURE(m_port->setPortOpen(true));
    // A terminal has no modem lines; changing them must not fail the port.
    QVERIFY_NO_FAILURE(m_port->setRTSEnable(true));

    QByteArray all(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    QVERIFY_NO_FAILURE(m_port->setOutput(all));
    QCOMPARE(m_pty->exclusive(), 1); // no other program opens it meanwhile
    QVERIFY_NO_FAILURE(m_port->setPortOpen(false));
    m_pty->startReading();
    QTRY_VERIFY_WITH_TIMEOUT(m_pty->received().size() >= all.size(), kCollectMs);
    QCOMPARE(m_pty->received(), all);
    // Closed for good, the claim is gone although the test still holds the terminal: else a
    // user's next open of it would be refused (root is let through, so look at the flag).
    QTRY_COMPARE_WITH_TIMEOUT(m_lines.inUse(), 0, kCollectMs);
    QCOMPARE(m_pty->exclusive(), 0);
    // As the kernel saw it: the lines as the flags say (both off at the open, then RTS on), and a
    // close that drains (TCSBRK 1), never a break, before it gives the claim up.
    QCOMPARE(callsOn(m_pty->path(), {"TIOCMBIS", "TIOCMBIC"}),
             QStringList({"TIOCMBIC 2", "TIOCMBIC 4", "TIOCMBIS 4"}));
    const QStringList ends =
        callsOn(m_pty->path(), {"TCSBRK", "TCSBRKP", "TIOCSBRK", "TIOCEXCL", "TIOCNXCL"});
    QVERIFY2(!ends.filter(QRegularExpression("^TCSBRK 1$")).isEmpty() &&
                 ends.filter(QRegularExpression("^(TCSBRK 0|TCSBRKP|TIOCSBRK)")).isEmpty() &&
                 ends.lastIndexOf("TCSBRK 1") < ends.lastIndexOf("TIOCNXCL 0"),
             qPrintable(ends.join(", ")));
}

void tst_SerialDevice::reopenWhileDrainingLosesNothing()
{
    const QByteArray first = pattern(128 * 1024, 2);
    const QByteArray second = pattern(1000, 3);
    {
        SerialPortDevice device(m_lines);
        QVERIFY_NO_FAILURE(device.open(m_pty->path(), 12345, true, false)); // no standard rate
        QVERIFY_NO_FAILURE(device.write(first, first.size()));
        QVERIFY(device.bytesWaiting() > 0);
        QVERIFY_NO_FAILURE(device.close());
    }
    SerialPortDevice again(m_lines);
    QVERIFY_NO_FAILURE(again.open(m_pty->path(), 115200, false, true));
    // The new rate waits behind the bytes still queued at the old one.
    QCOMPARE(qint64(termiosOf(*m_pty).c_ospeed), qint64(12345));
    QVERIFY_NO_FAILURE(again.write(second, 1 << 20));

    m_pty->startReading();
    QTRY_VERIFY_WITH_TIMEOUT(m_pty->received().size() >= first.size() + second.size(), kCollectMs);
    QCOMPARE(m_pty->received(), first + second);
    // Checked while still open: the final close may put back the terminal's old settings.
    QTRY_COMPARE_WITH_TIMEOUT(qint64(termiosOf(*m_pty).c_ospeed), qint64(115200), kCollectMs);
    const termios2 tio = termiosOf(*m_pty);
    QCOMPARE(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), tcflag_t(0));
    QCOMPARE(tio.c_oflag & OPOST, tcflag_t(0)); // no newline translation
    QCOMPARE(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
    QVERIFY_NO_FAILURE(again.close());
}

void tst_SerialDevice::portInUse_data()
{
    QTest::addColumn<bool>("byThisProgram");
    QTest::newRow("by a second port object") << true;
    // Another program: its own QSerialPort with the lock file it takes.
    QTest::newRow("by another program") << false;
}

void tst_SerialDevice::portInUse()
{
    QFETCH(bool, byThisProgram);
    QSerialPort other(m_pty->path());
    if (byThisProgram)
        QVERIFY_NO_FAILURE(m_port->setPortOpen(true));
    else
        QVERIFY(other.open(QIODevice::WriteOnly));
    linkAs(6, m_pty->path()); // a second number for the same device

    CommControl port(m_lines);
    QSignalSpy background(&port, &CommControl::failedInBackground);
    QVERIFY_NO_FAILURE(port.setCommPort(6));
    QCOMPARE(numberOf(port.setPortOpen(true)), PortError::PortInUse);
    QVERIFY(!port.portOpen());
    QCoreApplication::processEvents();
    QCOMPARE(background.count(), 0);
}

// The device goes while closed bytes still drain: told once, in the background.
void tst_SerialDevice::hangUpWhileDraining()
{
    QSignalSpy background(m_port.get(), &CommControl::failedInBackground);
    QVERIFY_NO_FAILURE(m_port->setPortOpen(true));
    std::optional<PortFailure> full; // trains of 1000 bytes until one is refused
    for (int i = 0; !full && i < 10000; ++i)
        full = m_port->setOutput(pattern(1000, i));
    QCOMPARE(numberOf(full), PortError::QueueFull);
    QVERIFY_NO_FAILURE(m_port->setPortOpen(false));
    m_pty->hangUp();
    QTRY_COMPARE_WITH_TIMEOUT(m_lines.inUse(), 0, kCollectMs);
    QTRY_COMPARE(background.count(), 1);
    const auto told = background.first().first().value<PortFailure>();
    QCOMPARE(told.number, PortError::DeviceGone);
    QVERIFY2(told.description.contains(u"bajtova nije poslato"_s), qPrintable(told.description));
    QCoreApplication::processEvents();
    QCOMPARE(background.count(), 1);
}

// A lock file whose program has ended but not yet been reaped (a zombie) holds nothing.
void tst_SerialDevice::lockOfAZombieIsStale()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    siginfo_t info{};
    QCOMPARE(::waitid(P_PID, id_t(child), &info, WEXITED | WNOWAIT), 0); // ended, not reaped
    QFile lock(QDir::temp().filePath(u"LCK..vorlagen-zombie-%1"_s.arg(child)));
    QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write(QByteArray::number(child) + "\nx\nh\n"));
    lock.close();
    const bool removed = removeStaleSerialLock(u"/dev/vorlagen-zombie-%1"_s.arg(child));
    const bool kept = lock.exists() && lock.remove();
    ::waitpid(child, nullptr, 0);
    QVERIFY(removed && !kept);
}

QTEST_GUILESS_MAIN(tst_SerialDevice)
#include "tst_serialdevice.moc"
