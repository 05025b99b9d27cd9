// SPDX-License-Identifier: MIT
#include "fakes.h"
#include "serial/commcontrol.h"
#include "serial/portbusy.h"
#include "serial/portmap.h"
#include "serial/seriallines.h"
#include "serial/serialportdevice.h"
#include "train/trainsender.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Generous: the monitor and the port's background close run beside a noisy CI.
constexpr int kWaitMs = 20000;

// Where the monitor links port 3, in the per-user folder the program also looks in.
QString link()
{
    return PortMap::defaultLinkFolder() + u"/com3"_s;
}

// vorlagen-monitor as a child process, its two output channels in one.
class Monitor : public QProcess
{
public:
    explicit Monitor(const QStringList &arguments,
                     const QString &program = QStringLiteral(VORLAGEN_MONITOR))
    {
        setProcessChannelMode(MergedChannels);
        start(program, arguments);
    }
    QString out() { return QString::fromLocal8Bit(peek(1 << 20)); }
};

// "Jednom" through the program's own port object; with no system ports, port 3 can only lead
// to the monitor's link. Gives the first message box's text, if any.
QString sendOnce(const QString &train)
{
    SerialLines lines; // its end waits until the train has left
    CommControl port(SerialPortDevice::factory(lines),
                     PortMap([] { return QStringList(); }, QString()));
    FakePanel panel;
    panel.port = u"3"_s;
    panel.train = train;
    FakeTimer timer;
    RecordingMessenger messenger;
    TrainSender(panel, port, timer, messenger).cmdJednom_Click();
    return messenger.boxes.value(0).text;
}

} // namespace

class tst_Monitor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void showsTheTrainAndRemovesItsOwnLink_data();
    void showsTheTrainAndRemovesItsOwnLink();
    void clearsTheClaimOfAKilledProgram();
    void refusesWhatIsNotItsOwn_data();
    void refusesWhatIsNotItsOwn();

private:
    std::unique_ptr<QTemporaryDir> m_config;
};

void tst_Monitor::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    QVERIFY(m_config->isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path())); // the monitor inherits it
}

// Every way out but kill -9 takes the link along; the link kill -9 leaves counts as ended: the
// program refuses it, and the next monitor for the number replaces it.
void tst_Monitor::showsTheTrainAndRemovesItsOwnLink_data()
{
    QTest::addColumn<int>("ending");    // the signal; 0: --once ends it at the program's close
    QTest::addColumn<bool>("replaced"); // someone else's link put in its place meanwhile
    QTest::newRow("--once ends at the program's close") << 0 << false;
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("a link that is no longer its own stays") << int(SIGTERM) << true;
    QTest::newRow("Ctrl+C") << int(SIGINT) << false;
    QTest::newRow("the terminal closed") << int(SIGHUP) << false;
    QTest::newRow("Ctrl+\\") << int(SIGQUIT) << false;
    QTest::newRow("its reader gone (| head)") << int(SIGPIPE) << false;
    QTest::newRow("kill -9") << int(SIGKILL) << false;
}

void tst_Monitor::showsTheTrainAndRemovesItsOwnLink()
{
    QFETCH(int, ending);
    QFETCH(bool, replaced);
    if (ending == SIGPIPE) {
        // head ends after the third line ("port otvoren"); the next line finds no reader.
        Monitor piped({u"-c"_s, u"\"$0\" 3 | head -n 3; exit ${PIPESTATUS[0]}"_s,
                       QStringLiteral(VORLAGEN_MONITOR)},
                      u"/bin/bash"_s);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link()).isSymLink(), kWaitMs);
        sendOnce(u"F0"_s);
        QTRY_COMPARE_WITH_TIMEOUT(piped.state(), QProcess::NotRunning, kWaitMs);
        QCOMPARE(piped.exitCode(), 128 + SIGPIPE); // as the shell tells any program's end by it
        QVERIFY(!QFileInfo(link()).isSymLink());
        return;
    }
    Monitor monitor(ending == 0 ? QStringList{u"3"_s, u"--once"_s} : QStringList{u"3"_s});
    // It prints where its link leads once the link is in place.
    QTRY_VERIFY2_WITH_TIMEOUT(monitor.out().contains(u"-> /dev/pts/"_s), qPrintable(monitor.out()),
                              kWaitMs);
    QCOMPARE(sendOnce(u"F0 00 55 7E"_s), QString()); // no message box
    QTRY_VERIFY_WITH_TIMEOUT(monitor.out().contains(u"port zatvoren"_s), kWaitMs);
    QVERIFY2(monitor.out().contains(u"#1  4 B  F0 00 55 7E\n"_s), qPrintable(monitor.out()));
    if (replaced)
        QVERIFY(QFile::remove(link()) && QFile::link(u"/dev/null"_s, link()));
    if (ending != 0)
        ::kill(pid_t(monitor.processId()), ending);
    // The event loop runs meanwhile: the port's last close is posted to this thread.
    QTRY_COMPARE_WITH_TIMEOUT(monitor.state(), QProcess::NotRunning, kWaitMs);
    QCOMPARE(monitor.exitStatus(), ending == SIGKILL ? QProcess::CrashExit : QProcess::NormalExit);
    QCOMPARE(monitor.exitCode(), ending == SIGKILL ? SIGKILL : 0);
    if (ending != SIGKILL) {
        QCOMPARE(QFileInfo(link()).symLinkTarget(), replaced ? u"/dev/null"_s : QString());
        return;
    }
    QVERIFY(QFileInfo(link()).isSymLink());
    QVERIFY2(sendOnce(u"F0"_s).startsWith(u"Greska 201 - Port 3 ne postoji: virtuelni port"_s),
             qPrintable(sendOnce(u"F0"_s)));
    Monitor next({u"3"_s, u"--once"_s});
    QTRY_VERIFY2_WITH_TIMEOUT(next.out().contains(u"-> /dev/pts/"_s), qPrintable(next.out()),
                              kWaitMs);
    QVERIFY2(next.out().contains(u"vorlagen-monitor: veza "_s + link() + u" je ostala"_s),
             qPrintable(next.out()));
    QCOMPARE(sendOnce(u"F0"_s), QString());
    QTRY_COMPARE_WITH_TIMEOUT(next.state(), QProcess::NotRunning, kWaitMs);
    QVERIFY(!QFileInfo(link()).isSymLink());
}

// A program killed while it holds the port leaves the terminal's exclusive claim and its lock
// file, which would refuse every later open by an ordinary user (the lock file even on the next
// terminal of that number); the monitor clears both once nobody holds the port.
void tst_Monitor::clearsTheClaimOfAKilledProgram()
{
    Monitor monitor({u"3"_s});
    QTRY_VERIFY_WITH_TIMEOUT(monitor.out().contains(u"-> /dev/pts/"_s), kWaitMs);
    QProcess send;
    send.start(QStringLiteral(VORLAGEN_SEND), {u"-p3"_s, u"-t1000"_s, u"F0"_s});
    QTRY_VERIFY_WITH_TIMEOUT(monitor.out().contains(u"port otvoren"_s), kWaitMs);
    send.kill();
    QVERIFY(send.waitForFinished(kWaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(monitor.out().contains(u"port zatvoren"_s), kWaitMs);
    // Looked at once the monitor has seen the close: this open is one more to it.
    const QString terminalPath = QFileInfo(link()).canonicalFilePath();
    const int terminal =
        ::open(QFile::encodeName(terminalPath), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(terminal >= 0);
    int exclusive = -1;
    QCOMPARE(::ioctl(terminal, TIOCGEXCL, &exclusive), 0);
    ::close(terminal);
    QCOMPARE(exclusive, 0);
    monitor.terminate();
    QTRY_COMPARE_WITH_TIMEOUT(monitor.state(), QProcess::NotRunning, kWaitMs);
    QVERIFY2(monitor.out().contains(u"Uklonjena datoteka zakljucavanja "_s),
             qPrintable(monitor.out()));
    QCOMPARE(serialLockFile(terminalPath), QString());
}

void tst_Monitor::refusesWhatIsNotItsOwn_data()
{
    QTest::addColumn<QString>("found"); // at com3 beforehand
    QTest::addColumn<QString>("message");
    QTest::newRow("someone else's link") << u"link"_s << u"i nije veza monitora"_s;
    QTest::newRow("a plain file") << u"file"_s << u"i nije veza monitora"_s;
    QTest::newRow("another monitor's port") << u"monitor"_s << u"vec radi drugi vorlagen-monitor"_s;
}

// It exits 1 and leaves what it found as it was.
void tst_Monitor::refusesWhatIsNotItsOwn()
{
    QFETCH(QString, found);
    QFETCH(QString, message);
    Monitor first(found == u"monitor"_s ? QStringList{u"3"_s} : QStringList{u"--version"_s});
    QTRY_VERIFY_WITH_TIMEOUT(found != u"monitor"_s || first.out().contains(u"-> /dev/pts/"_s),
                             kWaitMs);
    QFile plain(link());
    QVERIFY(QDir().mkpath(PortMap::defaultLinkFolder()));
    if (found == u"link"_s)
        QVERIFY(QFile::link(u"/dev/null"_s, link()));
    if (found == u"file"_s)
        QVERIFY(plain.open(QIODevice::WriteOnly) && plain.write("moje") == 4);
    plain.close();
    const QString target = QFileInfo(link()).symLinkTarget();

    Monitor monitor({u"3"_s});
    QTRY_COMPARE_WITH_TIMEOUT(monitor.state(), QProcess::NotRunning, kWaitMs);
    QCOMPARE(monitor.exitCode(), 1);
    // Its own name first: the message may share a terminal with others.
    QVERIFY2(monitor.out().startsWith(u"vorlagen-monitor: "_s) && monitor.out().contains(message),
             qPrintable(monitor.out()));
    QCOMPARE(QFileInfo(link()).symLinkTarget(), target);
    QCOMPARE(QFileInfo(link()).size(), found == u"file"_s ? 4 : 0);
    first.terminate();
    QTRY_COMPARE_WITH_TIMEOUT(first.state(), QProcess::NotRunning, kWaitMs);
}

QTEST_GUILESS_MAIN(tst_Monitor)
#include "tst_monitor.moc"
