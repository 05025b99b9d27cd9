#include "fakes.h"
#include "serial/commcontrol.h"
#include "serial/portmap.h"
#include "train/trainsender.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <memory>
#include <stdlib.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Generous: the monitor and the port's background close run beside a noisy CI.
constexpr int kWaitMs = 20000;

// vorlagen-monitor as a child process, its output collected as it comes.
class MonitorProcess
{
public:
    explicit MonitorProcess(const QString &configHome)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_CONFIG_HOME"_s, configHome);
        m_process.setProcessEnvironment(env);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this] {
            m_out += QString::fromLocal8Bit(m_process.readAllStandardOutput());
        });
        QObject::connect(&m_process, &QProcess::readyReadStandardError, &m_process, [this] {
            m_err += QString::fromLocal8Bit(m_process.readAllStandardError());
        });
    }
    ~MonitorProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(kWaitMs);
        }
    }

    void start(const QStringList &arguments)
    {
        m_process.start(QStringLiteral(VORLAGEN_MONITOR), arguments);
    }
    QProcess &process() { return m_process; }
    // waitForFinished() says false for a process that has already ended.
    bool finished()
    {
        return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(kWaitMs);
    }
    const QString &out() const { return m_out; }
    const QString &err() const { return m_err; }

private:
    QProcess m_process;
    QString m_out;
    QString m_err;
};

} // namespace

class tst_Monitor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void jednomArrivesAndOnceEnds();
    void repetitionShowsPeriods();
    void refusesAForeignLink_data();
    void refusesAForeignLink();
    void removesItsLinkOnTerm();
    void leavesALinkThatIsNoLongerItsOwn();
    void badArguments_data();
    void badArguments();

private:
    bool waitForLink(MonitorProcess &monitor, const QString &link);
    QString link(int number) const;

    std::unique_ptr<QTemporaryDir> m_config;
    QString m_folder;
};

void tst_Monitor::initTestCase()
{
    QVERIFY(QFileInfo::exists(QStringLiteral(VORLAGEN_MONITOR)));
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal < 0)
        QSKIP("this machine gives out no pseudo-terminals");
    close(terminal);
}

void tst_Monitor::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    QVERIFY(m_config->isValid());
    // The program and the monitor must look in the same per-user folder.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
    m_folder = PortMap::defaultLinkFolder();
    QCOMPARE(m_folder, m_config->path() + u"/vorlagen"_s);
}

void tst_Monitor::cleanup()
{
    m_config.reset();
}

QString tst_Monitor::link(int number) const
{
    return m_folder + u"/com%1"_s.arg(number);
}

bool tst_Monitor::waitForLink(MonitorProcess &monitor, const QString &path)
{
    // The monitor prints where its link leads once the link is in place.
    const bool announced = QTest::qWaitFor(
        [&] {
            return monitor.out().contains(u"-> /dev/pts/"_s) ||
                   monitor.process().state() == QProcess::NotRunning;
        },
        kWaitMs);
    return announced && QFileInfo(path).isSymLink();
}

// "Jednom" through the program's own send path: the train arrives whole, the port shows the
// program's settings, and with --once the monitor ends at the close and takes its link along.
void tst_Monitor::jednomArrivesAndOnceEnds()
{
    MonitorProcess monitor(m_config->path());
    monitor.start({u"5"_s, u"--once"_s});
    QVERIFY2(waitForLink(monitor, link(5)), qPrintable(monitor.err()));

    // No system ports: the number can only lead to the link, never to a real device.
    CommControl port(&makeSerialPortDevice, PortMap([] { return QStringList(); }, QString()));
    FakePanel panel;
    panel.port = u"5"_s;
    panel.train = u"F0 00 55 7E"_s;
    FakeTimer timer;
    RecordingMessenger messenger;
    TrainSender sender(panel, port, timer, messenger);
    sender.cmdJednom_Click();
    QVERIFY2(messenger.boxes.isEmpty(), qPrintable(messenger.boxes.value(0).text));

    QTRY_VERIFY_WITH_TIMEOUT(monitor.out().contains(u"4 B  F0 00 55 7E\n"_s), kWaitMs);
    // The close puts the terminal's settings back, maybe before the monitor read them; what it
    // shows must be the program's all the same.
    if (monitor.out().contains(u"Port podesen"_s))
        QVERIFY(monitor.out().contains(u"Port podesen: 115200 b/s, 8N1\n"_s));
    QVERIFY(monitor.finished());
    QCOMPARE(monitor.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(monitor.process().exitCode(), 0);
    QVERIFY(monitor.out().contains(u"port zatvoren"_s));
    QVERIFY(!QFileInfo(link(5)).isSymLink());
}

// The repetition at the hand-ticked timer: each tick is one train, measured against the last.
void tst_Monitor::repetitionShowsPeriods()
{
    MonitorProcess monitor(m_config->path());
    monitor.start({u"7"_s});
    QVERIFY2(waitForLink(monitor, link(7)), qPrintable(monitor.err()));

    CommControl port(&makeSerialPortDevice, PortMap([] { return QStringList(); }, QString()));
    FakePanel panel;
    panel.port = u"7"_s;
    panel.rate = u"9600"_s;
    panel.train = u"AA BB"_s;
    FakeTimer timer;
    RecordingMessenger messenger;
    TrainSender sender(panel, port, timer, messenger);
    sender.cmdPonavljanje_Click();
    QVERIFY2(messenger.boxes.isEmpty(), qPrintable(messenger.boxes.value(0).text));
    for (int i = 1; i <= 3; ++i) {
        QVERIFY(timer.tick());
        // The next train only after this one is in, so that each one is a train of its own.
        QTRY_VERIFY_WITH_TIMEOUT(monitor.out().contains(u"#%1  2 B  AA BB"_s.arg(i)), kWaitMs);
    }
    sender.cmdStop_Click();
    QTRY_VERIFY_WITH_TIMEOUT(monitor.out().contains(u"port zatvoren"_s), kWaitMs);

    const QString out = monitor.out();
    QVERIFY(out.contains(u"Port podesen: 9600 b/s, 8N1"_s));
    QVERIFY(!out.section(u"#1  "_s, 1).section(u'\n', 0, 0).contains(u"perioda"_s));
    QVERIFY(out.section(u"#2  "_s, 1).section(u'\n', 0, 0).contains(u"perioda"_s));
    QVERIFY(out.section(u"#3  "_s, 1).section(u'\n', 0, 0).contains(u"odstupanje"_s));
    QVERIFY(out.contains(u"Povorki: 3; perioda srednja"_s));

    // Still there for the next run until Ctrl+C.
    QVERIFY(QFileInfo(link(7)).isSymLink());
    monitor.process().terminate();
    QVERIFY(monitor.finished());
    QVERIFY(!QFileInfo(link(7)).isSymLink());
}

void tst_Monitor::refusesAForeignLink_data()
{
    QTest::addColumn<bool>("file");
    QTest::newRow("a link of someone else") << false;
    QTest::newRow("a plain file") << true;
}

void tst_Monitor::refusesAForeignLink()
{
    QFETCH(bool, file);
    QVERIFY(QDir().mkpath(m_folder));
    if (file) {
        QFile plain(link(2));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("moje");
    } else {
        QVERIFY(QFile::link(u"/dev/null"_s, link(2)));
    }

    MonitorProcess monitor(m_config->path());
    monitor.start({u"2"_s});
    QVERIFY(monitor.finished());
    QCOMPARE(monitor.process().exitCode(), 2);
    QVERIFY2(monitor.err().contains(u"vec postoji"_s), qPrintable(monitor.err()));
    QVERIFY(monitor.err().contains(link(2)));
    if (file) {
        QVERIFY(!QFileInfo(link(2)).isSymLink());
        QCOMPARE(QFileInfo(link(2)).size(), qint64(4));
    } else {
        QCOMPARE(QFileInfo(link(2)).symLinkTarget(), u"/dev/null"_s);
    }
}

void tst_Monitor::removesItsLinkOnTerm()
{
    MonitorProcess monitor(m_config->path());
    monitor.start({u"3"_s});
    QVERIFY2(waitForLink(monitor, link(3)), qPrintable(monitor.err()));
    QVERIFY(QFileInfo(link(3)).symLinkTarget().startsWith(u"/dev/pts/"_s));

    // A second monitor on the same number finds the first one's link and leaves it.
    MonitorProcess second(m_config->path());
    second.start({u"3"_s});
    QVERIFY(second.finished());
    QCOMPARE(second.process().exitCode(), 2);
    QVERIFY(QFileInfo(link(3)).isSymLink());

    monitor.process().terminate();
    QVERIFY(monitor.finished());
    QCOMPARE(monitor.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(monitor.process().exitCode(), 0);
    QVERIFY(!QFileInfo(link(3)).isSymLink());
    QVERIFY(monitor.out().contains(u"uklonjena"_s));
}

void tst_Monitor::leavesALinkThatIsNoLongerItsOwn()
{
    MonitorProcess monitor(m_config->path());
    monitor.start({u"4"_s});
    QVERIFY2(waitForLink(monitor, link(4)), qPrintable(monitor.err()));
    QVERIFY(QFile::remove(link(4)));
    QVERIFY(QFile::link(u"/dev/null"_s, link(4)));

    monitor.process().terminate();
    QVERIFY(monitor.finished());
    QCOMPARE(QFileInfo(link(4)).symLinkTarget(), u"/dev/null"_s);
}

void tst_Monitor::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("none") << QStringList();
    QTest::newRow("not a number") << QStringList{u"x"_s};
    QTest::newRow("zero") << QStringList{u"0"_s};
    QTest::newRow("beyond 16 bits") << QStringList{u"32768"_s};
    QTest::newRow("unknown option") << QStringList{u"1"_s, u"--fast"_s};
    QTest::newRow("gap without value") << QStringList{u"1"_s, u"--gap"_s};
}

void tst_Monitor::badArguments()
{
    QFETCH(QStringList, arguments);
    MonitorProcess monitor(m_config->path());
    monitor.start(arguments);
    QVERIFY(monitor.finished());
    QCOMPARE(monitor.process().exitCode(), 1);
    QVERIFY(monitor.err().contains(u"Upotreba: vorlagen-monitor N"_s));
    QVERIFY(!QFileInfo::exists(m_folder));
}

QTEST_GUILESS_MAIN(tst_Monitor)
#include "tst_monitor.moc"
