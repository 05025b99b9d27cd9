#include "serial/commcontrol.h"
#include "serial/serialportdevice.h"

#include <QDir>
#include <QFile>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The kernel's termios2 (exact rates) clashes with <termios.h>; ioctl() alone is used here.
#include <asm/termbits.h>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

// A port call that must succeed; a failure shows its report text.
#define QVERIFY_NO_FAILURE(call)                                                                   \
    do {                                                                                           \
        const std::optional<PortFailure> failure_ = (call);                                        \
        QVERIFY2(!failure_, failure_ ? qPrintable(portErrorReportText(*failure_)) : "");           \
    } while (false)

namespace {

// Generous bound for a reader to collect what it expects; never a measure of speed.
constexpr int kCollectMs = 60000;

// A pseudo-terminal: the device side is what the port layer opens, the test reads the other
// side. The test keeps a descriptor of the device side itself, so that it can look at its
// termios and the terminal stays alive after the port layer closed it.
class Pty
{
public:
    Pty()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return;
        m_path = QString::fromLocal8Bit(::ptsname(m_master));
        m_device = ::open(::ptsname(m_master), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    }
    ~Pty()
    {
        // The terminal's number stays taken until the port layer has closed it for good and
        // dropped its lock file; a number freed earlier could go to a parallel test whose
        // open would then find that lock.
        if (!QTest::qWaitFor([] { return SerialPortDevice::linesInUse() == 0; }, kCollectMs))
            qWarning("a port stayed open after its test");
        closeReader();
        if (m_device >= 0)
            ::close(m_device);
    }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool ok() const { return m_master >= 0 && m_device >= 0; }
    QString path() const { return m_path; }

    // Reads what has arrived so far; returns the total read.
    qsizetype collect()
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            m_received.append(buffer, n);
        }
        return m_received.size();
    }
    QByteArray received() const { return m_received; }

    // The other end hangs up.
    void closeReader()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

    termios2 deviceTermios() const
    {
        termios2 tio{};
        ::ioctl(m_device, TCGETS2, &tio);
        return tio;
    }

private:
    int m_master = -1;
    int m_device = -1;
    QString m_path;
    QByteArray m_received;
};

QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + seed + i / 251) & 0xFF);
    return bytes;
}

} // namespace

// The real device layer on pseudo-terminals the test makes, linked as COM numbers under a
// private configuration folder. No real serial port is ever opened.
class tst_SerialDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void allByteValuesArriveIntact();
    void termiosOfTheDevice_data();
    void termiosOfTheDevice();
    void linesOnAPseudoTerminalAreNoFailure();
    void closeDeliversEverythingBehindAStalledReader();
    void reopenWhileDrainingLosesNothing();
    void queueFullWhenReaderStalls();
    void missingDevice_data();
    void missingDevice();
    void rateTheLayerRefuses_data();
    void rateTheLayerRefuses();
    void notASerialDevice();
    void portInUseBySecondPortObject();
    void portInUseByAnotherProgram();
    void hangUpIsReportedOnce();
    void hangUpWhileDrainingGoesToTheHandler();
    void portObjectGoneBeforeTheDrainFails();

private:
    void linkAs(int number, const QString &target);

    QTemporaryDir m_config;
};

void tst_SerialDevice::initTestCase()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    QVERIFY(QDir(m_config.path()).mkpath(QStringLiteral("vorlagen")));
    Pty probe;
    if (!probe.ok())
        QSKIP("no pseudo-terminals on this machine");
}

void tst_SerialDevice::cleanup()
{
    // Every line the test opened is closed for good before the next one starts.
    QTRY_COMPARE_WITH_TIMEOUT(SerialPortDevice::linesInUse(), 0, kCollectMs);
}

void tst_SerialDevice::linkAs(int number, const QString &target)
{
    const QString link = m_config.filePath(QStringLiteral("vorlagen/com%1").arg(number));
    QFile::remove(link);
    QVERIFY(QFile::link(target, link));
}

void tst_SerialDevice::allByteValuesArriveIntact()
{
    Pty pty;
    linkAs(3, pty.path());
    CommControl port;
    QVERIFY_NO_FAILURE(port.setCommPort(3));
    QVERIFY_NO_FAILURE(port.setSettings(QStringLiteral("115200,n,8,1")));
    QVERIFY_NO_FAILURE(port.setOutBufferSize(1024));
    QVERIFY_NO_FAILURE(port.setPortOpen(true));
    QCOMPARE(port.openDevice(), pty.path());

    QByteArray all(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    QVERIFY_NO_FAILURE(port.setOutput(all));
    QVERIFY_NO_FAILURE(port.setPortOpen(false));
    QTRY_VERIFY_WITH_TIMEOUT(pty.collect() >= all.size(), kCollectMs);
    QCOMPARE(pty.received(), all);
}

void tst_SerialDevice::termiosOfTheDevice_data()
{
    QTest::addColumn<qint32>("rate");
    QTest::newRow("standard 115200") << 115200;
    QTest::newRow("slowest common 110") << 110;
    QTest::newRow("custom 12345") << 12345;
    QTest::newRow("custom 250000") << 250000;
}

void tst_SerialDevice::termiosOfTheDevice()
{
    QFETCH(qint32, rate);
    Pty pty;
    SerialPortDevice device;
    QVERIFY_NO_FAILURE(device.open(pty.path(), rate, true, false));

    const termios2 tio = pty.deviceTermios();
    QCOMPARE(qint64(tio.c_ospeed), qint64(rate));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), tcflag_t(0));
    QCOMPARE(tio.c_oflag & OPOST, tcflag_t(0)); // no newline translation
    QCOMPARE(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
    QVERIFY_NO_FAILURE(device.close());
}

void tst_SerialDevice::linesOnAPseudoTerminalAreNoFailure()
{
    Pty pty;
    linkAs(4, pty.path());
    CommControl port;
    QVERIFY_NO_FAILURE(port.setCommPort(4));
    QVERIFY_NO_FAILURE(port.setDTREnable(true));
    QVERIFY_NO_FAILURE(port.setPortOpen(true));
    QVERIFY_NO_FAILURE(port.setDTREnable(false));
    QVERIFY_NO_FAILURE(port.setRTSEnable(true));
    QVERIFY(port.portOpen());
    QVERIFY_NO_FAILURE(port.setPortOpen(false));
}

void tst_SerialDevice::closeDeliversEverythingBehindAStalledReader()
{
    Pty pty;
    const QByteArray train = pattern(256 * 1024, 1);
    SerialPortDevice device;
    QVERIFY_NO_FAILURE(device.open(pty.path(), 110, true, false));
    QVERIFY_NO_FAILURE(device.write(train, train.size()));
    QVERIFY2(device.bytesWaiting() > 0, "the terminal took everything; nothing to drain");

    // Nobody reads yet: a close that waited for the drain would never return.
    QVERIFY_NO_FAILURE(device.close());
    QVERIFY(!device.isOpen());
    QCOMPARE(pty.received().size(), 0);

    QTRY_VERIFY_WITH_TIMEOUT(pty.collect() >= train.size(), kCollectMs);
    QCOMPARE(pty.received(), train);
}

void tst_SerialDevice::reopenWhileDrainingLosesNothing()
{
    Pty pty;
    const QByteArray first = pattern(128 * 1024, 2);
    const QByteArray second = pattern(1000, 3);
    {
        SerialPortDevice device;
        QVERIFY_NO_FAILURE(device.open(pty.path(), 9600, true, false));
        QVERIFY_NO_FAILURE(device.write(first, first.size()));
        QVERIFY(device.bytesWaiting() > 0);
        QVERIFY_NO_FAILURE(device.close());
    }
    SerialPortDevice again;
    QVERIFY_NO_FAILURE(again.open(pty.path(), 115200, false, true));
    // The new rate waits behind the bytes still queued at the old one.
    QCOMPARE(qint64(pty.deviceTermios().c_ospeed), qint64(9600));
    QVERIFY_NO_FAILURE(again.write(second, 1 << 20));

    QTRY_VERIFY_WITH_TIMEOUT(pty.collect() >= first.size() + second.size(), kCollectMs);
    QCOMPARE(pty.received(), first + second);
    // Checked while still open: the final close may put back the terminal's old settings.
    QTRY_COMPARE_WITH_TIMEOUT(qint64(pty.deviceTermios().c_ospeed), qint64(115200), kCollectMs);
    QVERIFY_NO_FAILURE(again.close());
}

void tst_SerialDevice::queueFullWhenReaderStalls()
{
    Pty pty;
    linkAs(5, pty.path());
    CommControl port;
    QVERIFY_NO_FAILURE(port.setCommPort(5));
    QVERIFY_NO_FAILURE(port.setOutBufferSize(1024));
    QVERIFY_NO_FAILURE(port.setPortOpen(true));

    QByteArray sent;
    std::optional<PortFailure> failure;
    for (int i = 0; i < 10000 && !failure; ++i) {
        const QByteArray train = pattern(1000, i);
        failure = port.setOutput(train);
        if (!failure)
            sent += train;
    }
    QVERIFY(failure);
    QCOMPARE(failure->number, PortError::QueueFull);
    QVERIFY2(failure->description.contains(pty.path()), qPrintable(failure->description));
    QVERIFY(port.portOpen()); // a full queue is no reason to drop the port

    QVERIFY_NO_FAILURE(port.setPortOpen(false));
    QTRY_VERIFY_WITH_TIMEOUT(pty.collect() >= sent.size(), kCollectMs);
    QCOMPARE(pty.received(), sent); // the refused train was not written at all
}

void tst_SerialDevice::missingDevice_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("viaLink");
    QTest::newRow("link to nothing") << QStringLiteral("/dev/vorlagen-no-such-tty") << true;
    QTest::newRow("no link, beyond the ports present") << QString() << false;
}

void tst_SerialDevice::missingDevice()
{
    QFETCH(QString, target);
    QFETCH(bool, viaLink);
    const qint16 number = viaLink ? 6 : 32000;
    if (viaLink)
        linkAs(number, target);
    CommControl port;
    QVERIFY_NO_FAILURE(port.setCommPort(number));
    const auto failure = port.setPortOpen(true);
    QVERIFY(failure);
    QCOMPARE(failure->number, PortError::NoSuchPort);
    QCOMPARE(failure->source, kSourcePort);
    QVERIFY(!port.portOpen());
    QVERIFY(portErrorReportText(*failure).startsWith(
        QStringLiteral("Greska 201 - Port %1 ne postoji").arg(number)));
}

void tst_SerialDevice::rateTheLayerRefuses_data()
{
    QTest::addColumn<qint32>("rate");
    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -9600;
}

void tst_SerialDevice::rateTheLayerRefuses()
{
    QFETCH(qint32, rate);
    Pty pty;
    SerialPortDevice device;
    const auto failure = device.open(pty.path(), rate, true, false);
    QVERIFY(failure);
    QCOMPARE(failure->number, PortError::RateNotAccepted);
    QVERIFY(!device.isOpen());
    QCOMPARE(SerialPortDevice::linesInUse(), 0);
}

void tst_SerialDevice::notASerialDevice()
{
    const QString file = m_config.filePath(QStringLiteral("plain-file"));
    QFile plain(file);
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    linkAs(12, file);
    CommControl port;
    QVERIFY_NO_FAILURE(port.setCommPort(12));
    const auto failure = port.setPortOpen(true);
    QVERIFY(failure);
    QCOMPARE(failure->number, PortError::OpenFailed);
    QVERIFY(failure->description.contains(file));
    QVERIFY(!port.portOpen());
}

void tst_SerialDevice::portInUseBySecondPortObject()
{
    Pty pty;
    linkAs(7, pty.path());
    linkAs(8, pty.path()); // two numbers, one device
    CommControl first;
    CommControl second;
    QVERIFY_NO_FAILURE(first.setCommPort(7));
    QVERIFY_NO_FAILURE(second.setCommPort(8));
    QVERIFY_NO_FAILURE(first.setPortOpen(true));
    const auto failure = second.setPortOpen(true);
    QVERIFY(failure);
    QCOMPARE(failure->number, PortError::PortInUse);
    QVERIFY(!second.portOpen());
    QVERIFY(first.portOpen());
    QVERIFY_NO_FAILURE(first.setPortOpen(false));
}

void tst_SerialDevice::portInUseByAnotherProgram()
{
    Pty pty;
    linkAs(9, pty.path());
    // Another program's open: its own QSerialPort with the lock file it takes.
    QSerialPort other;
    other.setPortName(pty.path());
    QVERIFY(other.open(QIODevice::WriteOnly));

    CommControl port;
    QVERIFY_NO_FAILURE(port.setCommPort(9));
    const auto failure = port.setPortOpen(true);
    QVERIFY(failure);
    QCOMPARE(failure->number, PortError::PortInUse);
    QVERIFY(!port.portOpen());
    other.close();
    QVERIFY_NO_FAILURE(port.setPortOpen(true));
    QVERIFY_NO_FAILURE(port.setPortOpen(false));
}

void tst_SerialDevice::hangUpIsReportedOnce()
{
    Pty pty;
    linkAs(10, pty.path());
    CommControl port;
    QSignalSpy background(&port, &CommControl::failedInBackground);
    QVERIFY_NO_FAILURE(port.setCommPort(10));
    QVERIFY_NO_FAILURE(port.setPortOpen(true));
    pty.closeReader();

    const auto failure = port.setOutput(QByteArray("\x55\xAA", 2));
    QVERIFY(failure);
    QCOMPARE(failure->number, PortError::DeviceGone);
    QVERIFY(!port.portOpen());
    // Afterwards the port is simply closed; the loss is not told again.
    const auto next = port.setOutput(QByteArray("\x55", 1));
    QVERIFY(next);
    QCOMPARE(next->number, PortError::PortClosed);
    QVERIFY_NO_FAILURE(port.setPortOpen(false));
    QTRY_COMPARE(SerialPortDevice::linesInUse(), 0);
    QCOMPARE(background.count(), 0);
}

void tst_SerialDevice::hangUpWhileDrainingGoesToTheHandler()
{
    Pty pty;
    std::mutex mutex;
    QList<PortFailure> told;
    SerialPortDevice device;
    device.setBackgroundFailureHandler([&](const PortFailure &failure) {
        std::lock_guard lock(mutex);
        told << failure;
    });
    const auto count = [&] {
        std::lock_guard lock(mutex);
        return told.size();
    };
    QVERIFY_NO_FAILURE(device.open(pty.path(), 9600, true, false));
    // Far more than a terminal buffers, so that some of it surely still waits with us.
    const QByteArray train = pattern(256 * 1024, 4);
    QVERIFY_NO_FAILURE(device.write(train, train.size()));
    QVERIFY_NO_FAILURE(device.close());
    pty.closeReader();

    QTRY_COMPARE_WITH_TIMEOUT(count(), 1, kCollectMs);
    QCOMPARE(told.at(0).number, PortError::DeviceGone);
    QCOMPARE(told.at(0).source, kSourcePort);
    QVERIFY2(told.at(0).description.contains(QStringLiteral("bajtova nije poslato")),
             qPrintable(told.at(0).description));
    QTRY_COMPARE(SerialPortDevice::linesInUse(), 0);
    QCOMPARE(count(), 1);
}

void tst_SerialDevice::portObjectGoneBeforeTheDrainFails()
{
    Pty pty;
    linkAs(13, pty.path());
    auto port = std::make_unique<CommControl>();
    QVERIFY_NO_FAILURE(port->setCommPort(13));
    QVERIFY_NO_FAILURE(port->setPortOpen(true));
    std::optional<PortFailure> failure;
    for (int i = 0; i < 10000 && !failure; ++i)
        failure = port->setOutput(pattern(1000, i));
    QVERIFY(failure);
    port.reset(); // the window goes away while bytes still wait
    pty.closeReader();
    QTRY_COMPARE_WITH_TIMEOUT(SerialPortDevice::linesInUse(), 0, kCollectMs);
}

QTEST_GUILESS_MAIN(tst_SerialDevice)
#include "tst_serialdevice.moc"
