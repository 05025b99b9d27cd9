#include "fakes.h"
#include "train/fields.h"
#include "train/trainsender.h"

#include <QSignalSpy>
#include <QTest>

namespace {

const QString kTitle = QStringLiteral("Greska !");

QString reportOf(int number, const QString &description, const QString &source)
{
    return QStringLiteral("Greska %1 - %2 - %3\r\n Pokusajte ponovo !")
        .arg(number)
        .arg(description, source);
}

} // namespace

// The send commands against a fake port, a hand-ticked timer and recorded message boxes.
class tst_TrainSender : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void formLoadSetsLinesBeforeFirstOpen();
    void lineBoxesFollowClicks_data();
    void lineBoxesFollowClicks();
    void jednomWithDefaults();
    void ponavljanjeSendsOnTicksOnly();
    void periodZeroNeverSends();
    void editsWhileRepeatingWaitForPonavljanje();
    void stopWhenIdleDoesNothing();
    void emptyTrainWritesNothing();
    void failedSetUp_data();
    void failedSetUp();
    void jednomDuringRepetitionEndsIt();
    void badPeriodIsRefused_data();
    void badPeriodIsRefused();
    void badPeriodWhileRepeatingKeepsRepetition();
    void tooLongTrainChangesNothing_data();
    void tooLongTrainChangesNothing();
    void failureDuringRepetitionStopsAndReportsOnce_data();
    void failureDuringRepetitionStopsAndReportsOnce();
    void pendingFailureShownOnceByFirstComer();
    void integer16_data();
    void integer16();

private:
    std::shared_ptr<FakeLine> m_line;
    std::unique_ptr<CommControl> m_port;
    FakeTimer m_timer;
    FakePanel m_panel;
    RecordingMessenger m_messenger;
    std::unique_ptr<TrainSender> m_sender;
};

void tst_TrainSender::init()
{
    m_line = std::make_shared<FakeLine>();
    m_port = makeFakePort(m_line);
    m_timer = FakeTimer();
    m_panel = FakePanel();
    m_messenger = RecordingMessenger();
    m_sender = std::make_unique<TrainSender>(m_panel, *m_port, m_timer, m_messenger);
    m_sender->Form_Load();
}

void tst_TrainSender::cleanup()
{
    m_sender.reset();
    m_port.reset();
}

void tst_TrainSender::formLoadSetsLinesBeforeFirstOpen()
{
    QCOMPARE(m_panel.dtr, int(Panel::Checked));
    QCOMPARE(m_panel.rts, int(Panel::Unchecked));
    QVERIFY(m_port->DTREnable());
    QVERIFY(!m_port->RTSEnable());
    QVERIFY(m_line->calls.isEmpty()); // nothing opened at load

    QCOMPARE(m_sender->SetUpCommPort(), qint16(0));
    QCOMPARE(m_line->calls, QStringList{QStringLiteral("open /dev/ttyUSB0 115200 dtr=1 rts=0")});
}

void tst_TrainSender::lineBoxesFollowClicks_data()
{
    QTest::addColumn<bool>("openFirst");
    QTest::addColumn<int>("dtrState");
    QTest::addColumn<int>("rtsState");
    QTest::addColumn<bool>("dtr");
    QTest::addColumn<bool>("rts");
    QTest::newRow("closed: DTR off") << false << 0 << 0 << false << false;
    QTest::newRow("closed: grayed changes nothing") << false << 2 << 2 << true << false;
    QTest::newRow("open: DTR off RTS on") << true << 0 << 1 << false << true;
}

void tst_TrainSender::lineBoxesFollowClicks()
{
    QFETCH(bool, openFirst);
    QFETCH(int, dtrState);
    QFETCH(int, rtsState);
    QFETCH(bool, dtr);
    QFETCH(bool, rts);
    if (openFirst)
        QCOMPARE(m_sender->SetUpCommPort(), qint16(0));
    m_panel.dtr = dtrState;
    m_sender->chkDTR_Click();
    m_panel.rts = rtsState;
    m_sender->chkRTS_Click();
    QCOMPARE(m_port->DTREnable(), dtr);
    QCOMPARE(m_port->RTSEnable(), rts);
    if (!openFirst)
        QCOMPARE(m_sender->SetUpCommPort(), qint16(0));
    // The lines at the device match the flags, whether set before or after the open.
    QCOMPARE(m_line->dtr, dtr);
    QCOMPARE(m_line->rts, rts);
    QVERIFY(m_messenger.boxes.isEmpty());
}

void tst_TrainSender::jednomWithDefaults()
{
    m_sender->cmdJednom_Click();
    QCOMPARE(m_line->calls, (QStringList{QStringLiteral("open /dev/ttyUSB0 115200 dtr=1 rts=0"),
                                         QStringLiteral("write 10"), QStringLiteral("close")}));
    QCOMPARE(m_line->writes, QList<QByteArray>{QByteArray(10, char(0xF0))});
    QVERIFY(!m_port->portOpen());
    QVERIFY(m_timer.isEnabled());
    QCOMPARE(m_timer.interval(), 0);
    QVERIFY(!m_sender->isRepeating());
    QVERIFY(m_messenger.boxes.isEmpty());
}

void tst_TrainSender::ponavljanjeSendsOnTicksOnly()
{
    m_sender->cmdPonavljanje_Click();
    QVERIFY(m_sender->isRepeating());
    QVERIFY(m_port->portOpen());
    QCOMPARE(m_timer.interval(), 100);
    QVERIFY(m_timer.isEnabled());
    QVERIFY(m_line->writes.isEmpty()); // the first train comes one period later

    QVERIFY(m_timer.tick());
    QVERIFY(m_timer.tick());
    QVERIFY(m_timer.tick());
    // The terminating zero is never sent.
    QCOMPARE(m_line->writes, QList<QByteArray>(3, QByteArray(10, char(0xF0))));
    QCOMPARE(m_sender->trainsSent(), quint64(3));
    QCOMPARE(int(m_sender->povorka()[10]), 0);

    const quint64 schedule = m_timer.schedule();
    m_sender->cmdStop_Click();
    QVERIFY(!m_sender->isRepeating());
    QVERIFY(!m_timer.isEnabled());
    QVERIFY(!m_port->portOpen());
    QVERIFY(!m_timer.tick());
    m_timer.staleTick(schedule); // due before STOP, arriving after it
    QCOMPARE(m_line->writes.size(), 3);
    QCOMPARE(m_line->closes, 1);
    QVERIFY(m_messenger.boxes.isEmpty());
}

void tst_TrainSender::periodZeroNeverSends()
{
    m_panel.period = QStringLiteral("0");
    m_sender->cmdPonavljanje_Click();
    QVERIFY(m_port->portOpen());
    QCOMPARE(m_sender->brojBajtova(), qint16(10));
    QVERIFY(!m_timer.tick());
    QVERIFY(m_line->writes.isEmpty());
    m_sender->cmdStop_Click();
    QVERIFY(!m_port->portOpen());
    QVERIFY(m_messenger.boxes.isEmpty());
}

void tst_TrainSender::editsWhileRepeatingWaitForPonavljanje()
{
    m_sender->cmdPonavljanje_Click();
    const quint64 schedule = m_timer.schedule();
    m_panel.train = QStringLiteral("11 22");
    m_panel.period = QStringLiteral("7");
    m_panel.port = QStringLiteral("A"); // the open port is kept: neither is looked at
    m_panel.rate = QStringLiteral("9600");
    QVERIFY(m_timer.tick());
    QCOMPARE(m_line->writes.last(), QByteArray(10, char(0xF0)));
    QCOMPARE(m_timer.interval(), 100);
    QCOMPARE(m_timer.schedule(), schedule);

    m_sender->cmdPonavljanje_Click();
    QCOMPARE(m_timer.interval(), 7);
    QVERIFY(m_timer.schedule() != schedule); // restarted from this click
    QVERIFY(m_timer.tick());
    QCOMPARE(m_line->writes.last(), QByteArray("\x11\x22", 2));
    QCOMPARE(m_line->opens, 1);
    QCOMPARE(m_line->openRate, 115200);
    QVERIFY(m_messenger.boxes.isEmpty());
}

void tst_TrainSender::stopWhenIdleDoesNothing()
{
    m_sender->cmdStop_Click();
    m_sender->cmdStop_Click();
    QVERIFY(m_line->calls.isEmpty());
    QVERIFY(m_messenger.boxes.isEmpty());
    QVERIFY(!m_timer.isEnabled());
}

void tst_TrainSender::emptyTrainWritesNothing()
{
    m_panel.train.clear();
    m_sender->cmdJednom_Click();
    QCOMPARE(m_line->calls, (QStringList{QStringLiteral("open /dev/ttyUSB0 115200 dtr=1 rts=0"),
                                         QStringLiteral("close")}));
    m_sender->cmdPonavljanje_Click();
    QVERIFY(m_timer.tick());
    QVERIFY(m_line->writes.isEmpty());
    QVERIFY(m_messenger.boxes.isEmpty());
}

void tst_TrainSender::failedSetUp_data()
{
    QTest::addColumn<bool>("repeat");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("source");

    const QString window = QStringLiteral("VorlaGen");
    const QString port = QStringLiteral("MSCommPort");
    // clang-format off
    QTest::newRow("letter for port")      << false << "A"     << "115200" << 101 << window;
    QTest::newRow("empty port")           << true  << ""      << "115200" << 101 << window;
    QTest::newRow("decimal port")         << false << "1.5"   << "115200" << 101 << window;
    QTest::newRow("port past 16 bits")    << true  << "40000" << "115200" << 102 << window;
    QTest::newRow("port 0")               << false << "0"     << "115200" << 103 << port;
    QTest::newRow("negative port")        << true  << "-3"    << "115200" << 103 << port;
    QTest::newRow("rate not a number")    << false << "1"     << "brzo"   << 104 << port;
    QTest::newRow("rate 0")               << true  << "1"     << "0"      << 104 << port;
    QTest::newRow("no such port")         << false << "9"     << "115200" << 201 << port;
    QTest::newRow("no such port, repeat") << true  << "9"     << "115200" << 201 << port;
    // clang-format on
}

void tst_TrainSender::failedSetUp()
{
    QFETCH(bool, repeat);
    QFETCH(QString, port);
    QFETCH(QString, rate);
    QFETCH(int, number);
    QFETCH(QString, source);

    m_panel.port = port;
    m_panel.rate = rate;
    m_panel.train = QStringLiteral("11 22 33");
    repeat ? m_sender->cmdPonavljanje_Click() : m_sender->cmdJednom_Click();

    QCOMPARE(m_messenger.boxes.size(), 1);
    const Box box = m_messenger.boxes.first();
    QCOMPARE(box.kind, QStringLiteral("critical"));
    QCOMPARE(box.title, kTitle);
    QVERIFY2(box.text.startsWith(QStringLiteral("Greska %1 - ").arg(number)), qPrintable(box.text));
    QVERIFY(box.text.endsWith(QStringLiteral(" - %1\r\n Pokusajte ponovo !").arg(source)));
    // Nothing decoded, sent or armed; the port stays closed.
    QCOMPARE(m_sender->brojBajtova(), qint16(0));
    QVERIFY(!m_port->portOpen());
    QVERIFY(m_line->writes.isEmpty());
    QCOMPARE(m_timer.interval(), 0);
    QVERIFY(!m_sender->isRepeating());
}

void tst_TrainSender::jednomDuringRepetitionEndsIt()
{
    m_sender->cmdPonavljanje_Click();
    QVERIFY(m_timer.tick());
    const quint64 repeating = m_timer.schedule();
    m_panel.train = QStringLiteral("AB");
    m_sender->cmdJednom_Click();

    QVERIFY(!m_sender->isRepeating());
    QVERIFY(!m_timer.isEnabled());
    QVERIFY(!m_port->portOpen());
    QCOMPARE(m_line->writes.last(), QByteArray("\xAB", 1));
    QCOMPARE(m_line->opens, 1); // sent on the repetition's port
    // A tick that was already due finds the repetition over.
    m_timer.staleTick(repeating);
    QVERIFY(!m_timer.tick());
    QCOMPARE(m_line->writes.size(), 2);
    QVERIFY(m_messenger.boxes.isEmpty());
}

void tst_TrainSender::badPeriodIsRefused_data()
{
    QTest::addColumn<QString>("period");
    QTest::newRow("letters") << "sto";
    QTest::newRow("negative") << "-1";
    QTest::newRow("past 16 bits") << "32768";
    QTest::newRow("decimal") << "1.5";
}

void tst_TrainSender::badPeriodIsRefused()
{
    QFETCH(QString, period);
    m_panel.period = period;
    m_sender->cmdPonavljanje_Click();
    QCOMPARE(m_messenger.boxes.size(), 1);
    QCOMPARE(m_messenger.boxes.first().text, OperatorText::badPeriod(period));
    QVERIFY(!m_sender->isRepeating());
    QVERIFY(m_line->calls.isEmpty()); // the port was not even opened
    QCOMPARE(m_sender->brojBajtova(), qint16(0));
}

void tst_TrainSender::badPeriodWhileRepeatingKeepsRepetition()
{
    m_sender->cmdPonavljanje_Click();
    const quint64 schedule = m_timer.schedule();
    m_panel.period = QStringLiteral("abc");
    m_panel.train = QStringLiteral("11");
    m_sender->cmdPonavljanje_Click();
    QCOMPARE(m_messenger.boxes.size(), 1);
    QVERIFY(m_sender->isRepeating());
    QCOMPARE(m_timer.schedule(), schedule);
    QCOMPARE(m_timer.interval(), 100);
    QVERIFY(m_timer.tick());
    QCOMPARE(m_line->writes.last(), QByteArray(10, char(0xF0)));
}

void tst_TrainSender::tooLongTrainChangesNothing_data()
{
    QTest::addColumn<bool>("repeatFirst");
    QTest::addColumn<bool>("repeat");
    QTest::addColumn<int>("bytes");
    QTest::newRow("Jednom 1002 idle") << false << false << 1002;
    QTest::newRow("Ponavljanje 1001 idle") << false << true << 1001;
    QTest::newRow("Jednom 1002 repeating") << true << false << 1002;
    QTest::newRow("Ponavljanje 1001 repeating") << true << true << 1001;
}

void tst_TrainSender::tooLongTrainChangesNothing()
{
    QFETCH(bool, repeatFirst);
    QFETCH(bool, repeat);
    QFETCH(int, bytes);
    if (repeatFirst)
        m_sender->cmdPonavljanje_Click();
    const PovorkaBuffer povorka = m_sender->povorka();
    const QStringList calls = m_line->calls;
    const quint64 schedule = m_timer.schedule();

    m_panel.train = QString(bytes * 3 - 1, QLatin1Char('E'));
    repeat ? m_sender->cmdPonavljanje_Click() : m_sender->cmdJednom_Click();

    QCOMPARE(m_messenger.boxes.size(), 1);
    QVERIFY(m_messenger.boxes.first().text.contains(QString::number(bytes)));
    QVERIFY(m_sender->povorka() == povorka);
    QCOMPARE(m_sender->brojBajtova(), qint16(repeatFirst ? 10 : 0));
    QCOMPARE(m_line->calls, calls);
    QCOMPARE(m_timer.schedule(), schedule);
    QCOMPARE(m_sender->isRepeating(), repeatFirst);
}

void tst_TrainSender::failureDuringRepetitionStopsAndReportsOnce_data()
{
    QTest::addColumn<QString>("foundBy");
    QTest::newRow("a tick") << QStringLiteral("tick");
    QTest::newRow("a DTR click") << QStringLiteral("dtr");
    QTest::newRow("an RTS click") << QStringLiteral("rts");
}

void tst_TrainSender::failureDuringRepetitionStopsAndReportsOnce()
{
    QFETCH(QString, foundBy);
    QSignalSpy repeating(m_sender.get(), &TrainSender::repeatingChanged);
    m_sender->cmdPonavljanje_Click();
    QVERIFY(m_timer.tick());
    m_line->failWrite = PortFailure{PortError::DeviceGone, QStringLiteral("Uredjaj je nestao"),
                                    OperatorText::kSourcePort};
    if (foundBy == QLatin1String("tick")) {
        QVERIFY(m_timer.tick());
    } else if (foundBy == QLatin1String("dtr")) {
        m_panel.dtr = Panel::Unchecked;
        m_sender->chkDTR_Click();
    } else {
        m_panel.rts = Panel::Checked;
        m_sender->chkRTS_Click();
    }

    // Stopped and closed before anything is shown; no further tick sends.
    QVERIFY(!m_sender->isRepeating());
    QVERIFY(!m_timer.isEnabled());
    QVERIFY(!m_port->portOpen());
    QVERIFY(!m_timer.tick());
    QTRY_COMPARE(m_messenger.boxes.size(), 1);
    QCOMPARE(m_messenger.boxes.first().text,
             reportOf(301, QStringLiteral("Uredjaj je nestao"), QStringLiteral("MSCommPort")));
    QCoreApplication::processEvents();
    QCOMPARE(m_messenger.boxes.size(), 1);
    QCOMPARE(repeating.size(), 2);
    QCOMPARE(repeating.last().first().toBool(), false);

    // The device is back: the commands work again.
    m_line->failWrite.reset();
    m_sender->cmdPonavljanje_Click();
    QVERIFY(m_timer.tick());
    QCOMPARE(m_line->writes.size(), 2);
    QCOMPARE(m_messenger.boxes.size(), 1);
}

void tst_TrainSender::pendingFailureShownOnceByFirstComer()
{
    m_sender->cmdPonavljanje_Click();
    m_line->failWrite =
        PortFailure{PortError::WriteFailed, QStringLiteral("x"), OperatorText::kSourcePort};
    QVERIFY(m_timer.tick());
    // A command that runs before the queued report shows it first, exactly once...
    m_line->failWrite.reset();
    m_sender->cmdJednom_Click();
    QCOMPARE(m_messenger.boxes.size(), 1);
    QCOMPARE(m_line->writes.size(), 1);
    // ...and the queued report then has nothing left to show.
    QCoreApplication::processEvents();
    QCOMPARE(m_messenger.boxes.size(), 1);
}

void tst_TrainSender::integer16_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << "100" << true << 100;
    QTest::newRow("spaces around") << "  42 " << true << 42;
    QTest::newRow("minus") << "-32768" << true << -32768;
    QTest::newRow("leading zeros") << "000000000012" << true << 12;
    QTest::newRow("past max") << "32768" << false << 0;
    QTest::newRow("past min") << "-32769" << false << 0;
    QTest::newRow("hex") << "0x10" << false << 0;
    QTest::newRow("decimal point") << "10.0" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("arabic-indic digits") << QString::fromUtf8("\xd9\xa1") << false << 0;
}

void tst_TrainSender::integer16()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, value);
    const auto result = Fields::toInteger16(text);
    QCOMPARE(bool(result), ok);
    if (ok)
        QCOMPARE(int(*result), value);
}

QTEST_GUILESS_MAIN(tst_TrainSender)
#include "tst_trainsender.moc"
