// SPDX-License-Identifier: MIT
#include "fakes.h"
#include "serial/commcontrol.h"
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
    explicit Monitor(const QStringList &arguments)
    {
        setProcessChannelMode(MergedChannels);
        start(QStringLiteral(VORLAGEN_MONITOR), arguments);
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
    void refusesAndLeavesEverythingAsItWas_data();
    void refusesAndLeavesEverythingAsItWas();

private:
    std::unique_ptr<QTemporaryDir> m_config;
};

void tst_Monitor::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    QVERIFY(m_config->isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path())); // the monitor inherits it
}

void tst_Monitor::showsTheTrainAndRemovesItsOwnLink_data()
{
    QTest::addColumn<bool>("once");
    QTest::addColumn<bool>("replaced"); // someone else's link put in its place meanwhile
    QTest::newRow("--once ends at the program's close") << true << false;
    QTest::newRow("otherwise it runs until SIGTERM") << false << false;
    QTest::newRow("a link that is no longer its own stays") << false << true;
}

void tst_Monitor::showsTheTrainAndRemovesItsOwnLink()
{
    QFETCH(bool, once);
    QFETCH(bool, replaced);
    Monitor monitor(once ? QStringList{u"3"_s, u"--once"_s} : QStringList{u"3"_s});
    // It prints where its link leads once the link is in place.
    QTRY_VERIFY2_WITH_TIMEOUT(monitor.out().contains(u"-> /dev/pts/"_s), qPrintable(monitor.out()),
                              kWaitMs);
    QCOMPARE(sendOnce(u"F0 00 55 7E"_s), QString()); // no message box
    QTRY_VERIFY_WITH_TIMEOUT(monitor.out().contains(u"port zatvoren"_s), kWaitMs);
    QVERIFY2(monitor.out().contains(u"#1  4 B  F0 00 55 7E\n"_s), qPrintable(monitor.out()));
    if (!once) {
        QVERIFY(QFileInfo(link()).isSymLink());
        if (replaced)
            QVERIFY(QFile::remove(link()) && QFile::link(u"/dev/null"_s, link()));
        monitor.terminate();
    }
    // The event loop runs meanwhile: the port's last close is posted to this thread.
    QTRY_COMPARE_WITH_TIMEOUT(monitor.state(), QProcess::NotRunning, kWaitMs);
    QCOMPARE(monitor.exitStatus(), QProcess::NormalExit);
    QCOMPARE(monitor.exitCode(), 0);
    QCOMPARE(QFileInfo(link()).symLinkTarget(), replaced ? u"/dev/null"_s : QString());
}

void tst_Monitor::refusesAndLeavesEverythingAsItWas_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("found"); // at com3 beforehand: "", "link" or "file"
    QTest::addColumn<int>("exitCode");  // 2: a wrong call, 1: the link is not made
    QTest::newRow("no number") << QStringList() << QString() << 2;
    QTest::newRow("number out of range") << QStringList{u"0"_s} << QString() << 2;
    QTest::newRow("someone else's link") << QStringList{u"3"_s} << u"link"_s << 1;
    QTest::newRow("a plain file") << QStringList{u"3"_s} << u"file"_s << 1;
}

void tst_Monitor::refusesAndLeavesEverythingAsItWas()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, found);
    QFETCH(int, exitCode);
    QFile plain(link());
    if (!found.isEmpty())
        QVERIFY(QDir().mkpath(PortMap::defaultLinkFolder()));
    if (found == u"link"_s)
        QVERIFY(QFile::link(u"/dev/null"_s, link()));
    if (found == u"file"_s)
        QVERIFY(plain.open(QIODevice::WriteOnly) && plain.write("moje") == 4);
    plain.close();

    Monitor monitor(arguments);
    QTRY_COMPARE_WITH_TIMEOUT(monitor.state(), QProcess::NotRunning, kWaitMs);
    QCOMPARE(monitor.exitCode(), exitCode);
    const QString message = exitCode == 2 ? u"Pomoc: vorlagen-monitor --help"_s : u"vec postoji"_s;
    QVERIFY2(monitor.out().contains(message), qPrintable(monitor.out()));
    QCOMPARE(QFileInfo::exists(PortMap::defaultLinkFolder()), !found.isEmpty());
    QCOMPARE(QFileInfo(link()).symLinkTarget(), found == u"link"_s ? u"/dev/null"_s : QString());
    QCOMPARE(QFileInfo(link()).size(), found == u"file"_s ? 4 : 0);
}

QTEST_GUILESS_MAIN(tst_Monitor)
#include "tst_monitor.moc"
