// SPDX-License-Identifier: MIT
#include "fakes.h"
#include "train/fields.h"
#include "train/trainsender.h"

#include <QSignalSpy>
#include <QTest>

// The send commands against a fake port, a hand-ticked timer and recorded message boxes.
class tst_TrainSender : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void lineBoxesFollowClicks_data();
    void lineBoxesFollowClicks();
    void jednomWithDefaults();
    void ponavljanjeSendsOnTicksOnly();
    void editsWhileRepeatingWaitForPonavljanje();
    void nothingToSendSendsNothing();
    void failedSetUp_data();
    void failedSetUp();
    void jednomDuringRepetitionEndsIt();
    void badPeriodIsRefused_data();
    void badPeriodIsRefused();
    void trainLengthLimits_data();
    void trainLengthLimits();
    void failureDuringRepetitionStopsAndReportsOnce_data();
    void failureDuringRepetitionStopsAndReportsOnce();
    void pendingFailureShownOnceByFirstComer();
    void boxesNeverStack();
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

void tst_TrainSender::lineBoxesFollowClicks_data()
{
    QTest::addColumn<bool>("openFirst");
    QTest::addColumn<Panel::CheckState>("dtrState");
    QTest::addColumn<Panel::CheckState>("rtsState");
    QTest::addColumn<bool>("dtr");
    QTest::addColumn<bool>("rts");
    using S = Panel::CheckState;
    QTest::newRow("closed: DTR off") << false << S::Unchecked << S::Unchecked << false << false;
    QTest::newRow("closed: grayed changes nothing")
        << false << S::Grayed << S::Grayed << true << false;
    QTest::newRow("open: DTR off RTS on") << true << S::Unchecked << S::Checked << false << true;
}

void tst_TrainSender::lineBoxesFollowClicks()
{
    QFETCH(bool, openFirst);
    QFETCH(Panel::CheckState, dtrState);
    QFETCH(Panel::CheckState, rtsState);
    QFETCH(bool, dtr);
    QFETCH(bool, rts);
    if (openFirst)
        QCOMPARE(m_sender->SetUpCommPort(), qint16(0));
    m_panel.dtr = dtrState;
    m_panel.rts = rtsState;
    m_sender->chkDTR_Click();
    m_sender->chkRTS_Click();
    if (!openFirst)
        QCOMPARE(m_sender->SetUpCommPort(), qint16(0));
    QCOMPARE(m_line->dtr, dtr);
    QCOMPARE(m_line->rts, rts);
    QVERIFY(m_messenger.boxes.isEmpty());
}

// The lines Form_Load set are on the device from its first open.
void tst_TrainSender::jednomWithDefaults()
{
    m_sender->cmdJednom_Click();
    QCOMPARE(m_line->calls, (QStringList{QStringLiteral("open /dev/ttyUSB0 115200 dtr=1 rts=0"),
                                         QStringLiteral("write 10"), QStringLiteral("close")}));
    QCOMPARE(m_line->writes, QList<QByteArray>{QByteArray(10, char(0xF0))});
    QCOMPARE(m_timer.interval(), 0);
    QVERIFY(m_messenger.boxes.isEmpty());
}

void tst_TrainSender::ponavljanjeSendsOnTicksOnly()
{
    m_sender->cmdPonavljanje_Click();
    QVERIFY(m_line->writes.isEmpty()); // the first train comes one period later

    for (int i = 0; i < 3; ++i)
        QVERIFY(m_timer.tick());
    // The terminating zero is never sent.
    QCOMPARE(m_line->writes, QList<QByteArray>(3, QByteArray(10, char(0xF0))));

    const quint64 schedule = m_timer.schedule();
    m_sender->cmdStop_Click();
    QVERIFY(!m_timer.isEnabled());
    m_timer.staleTick(schedule); // due before STOP, arriving after it
    QCOMPARE(m_line->writes.size(), 3);
    QCOMPARE(m_line->closes, 1);
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
    QCOMPARE(m_timer.schedule(), schedule);

    m_sender->cmdPonavljanje_Click();
    QCOMPARE(m_timer.interval(), 7);
    m_timer.staleTick(schedule); // due before this click: sends nothing
    QCOMPARE(m_line->writes.size(), 1);
    QVERIFY(m_timer.tick());
    QCOMPARE(m_line->writes.last(), QByteArray("\x11\x22", 2));
    QCOMPARE(m_line->opens, 1);
    QVERIFY(m_messenger.boxes.isEmpty());
}

// STOP while idle, a period of 0 and an empty train: no write, no box.
void tst_TrainSender::nothingToSendSendsNothing()
{
    m_sender->cmdStop_Click();
    QVERIFY(m_line->calls.isEmpty());
    m_panel.period = QStringLiteral("0");
    m_sender->cmdPonavljanje_Click();
    QVERIFY(m_port->portOpen());
    QVERIFY(!m_timer.tick());
    m_sender->cmdStop_Click();
    QVERIFY(!m_port->portOpen());

    m_panel.train.clear();
    m_panel.period = QStringLiteral("100");
    m_sender->cmdJednom_Click();
    m_sender->cmdPonavljanje_Click();
    QVERIFY(m_timer.tick());
    QCOMPARE(m_line->opens, 3);
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
    QTest::newRow("port past 16 bits")    << true  << "40000" << "115200" << 102 << window;
    QTest::newRow("port 0")               << true  << "0"     << "115200" << 103 << port;
    QTest::newRow("rate not a number")    << false << "1"     << "brzo"   << 104 << port;
    QTest::newRow("no such port")         << false << "9"     << "115200" << 201 << port;
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
    QCOMPARE(box.title, QStringLiteral("Greska !"));
    QVERIFY2(box.text.startsWith(QStringLiteral("Greska %1 - ").arg(number)), qPrintable(box.text));
    QVERIFY(box.text.endsWith(QStringLiteral(" - %1\r\n Pokusajte ponovo !").arg(source)));
    // Nothing decoded, sent or armed; the port stays closed.
    QCOMPARE(m_sender->brojBajtova(), qint16(0));
    QVERIFY(!m_port->portOpen());
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
    QVERIFY(!m_port->portOpen());
    QCOMPARE(m_line->writes.last(), QByteArray("\xAB", 1));
    QCOMPARE(m_line->opens, 1);   // sent on the repetition's port
    m_timer.staleTick(repeating); // already due: finds the repetition over
    QCOMPARE(m_line->writes.size(), 2);
}

void tst_TrainSender::badPeriodIsRefused_data()
{
    QTest::addColumn<QString>("period");
    QTest::addColumn<bool>("repeating");
    QTest::newRow("letters") << "sto" << false;
    QTest::newRow("negative") << "-1" << false;
    QTest::newRow("letters while repeating") << "abc" << true;
}

void tst_TrainSender::badPeriodIsRefused()
{
    QFETCH(QString, period);
    QFETCH(bool, repeating);
    if (repeating)
        m_sender->cmdPonavljanje_Click();
    const QStringList calls = m_line->calls;
    const quint64 schedule = m_timer.schedule();
    m_panel.period = period;
    m_panel.train = QStringLiteral("11");
    m_sender->cmdPonavljanje_Click();

    QCOMPARE(m_messenger.boxes.size(), 1);
    QCOMPARE(m_messenger.boxes.first().text, repeating ? OperatorText::badPeriodGoesOn(period, 100)
                                                       : OperatorText::badPeriod(period));
    // Nothing changes: not the port, the schedule, the train or the repetition.
    QCOMPARE(m_line->calls, calls);
    QCOMPARE(m_timer.schedule(), schedule);
    QCOMPARE(m_sender->isRepeating(), repeating);
    QCOMPARE(m_sender->brojBajtova(), qint16(repeating ? 10 : 0));
}

void tst_TrainSender::trainLengthLimits_data()
{
    QTest::addColumn<bool>("repeatFirst");
    QTest::addColumn<bool>("repeat");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<bool>("sent");
    QTest::newRow("Jednom 1001") << false << false << 1001 << true;
    QTest::newRow("Jednom 1002") << false << false << 1002 << false;
    QTest::newRow("Ponavljanje 1000") << false << true << 1000 << true;
    QTest::newRow("Ponavljanje 1001") << false << true << 1001 << false;
    QTest::newRow("Ponavljanje 1001 repeating") << true << true << 1001 << false;
}

// A train too long is refused with a message and nothing changes.
void tst_TrainSender::trainLengthLimits()
{
    QFETCH(bool, repeatFirst);
    QFETCH(bool, repeat);
    QFETCH(int, bytes);
    QFETCH(bool, sent);
    if (repeatFirst)
        m_sender->cmdPonavljanje_Click();
    const PovorkaBuffer povorka = m_sender->povorka();
    const QStringList calls = m_line->calls;
    const quint64 schedule = m_timer.schedule();

    m_panel.train = QString(bytes * 3 - 1, QLatin1Char('E'));
    repeat ? m_sender->cmdPonavljanje_Click() : m_sender->cmdJednom_Click();
    if (sent) {
        QVERIFY(!repeat || m_timer.tick());
        QCOMPARE(m_line->writes, QList<QByteArray>{QByteArray(bytes, char(0xEE))});
        QVERIFY(m_messenger.boxes.isEmpty());
        return;
    }
    QCOMPARE(m_messenger.boxes.size(), 1);
    QVERIFY(m_messenger.boxes.first().text.contains(QString::number(bytes)));
    QVERIFY(m_sender->povorka() == povorka);
    QCOMPARE(m_line->calls, calls);
    QCOMPARE(m_timer.schedule(), schedule);
    QCOMPARE(m_sender->isRepeating(), repeatFirst);
}

void tst_TrainSender::failureDuringRepetitionStopsAndReportsOnce_data()
{
    QTest::addColumn<QString>("foundBy");
    QTest::addColumn<int>("number");
    QTest::newRow("a tick") << QStringLiteral("tick") << PortError::DeviceGone;
    QTest::newRow("a DTR click") << QStringLiteral("dtr") << PortError::DeviceGone;
    QTest::newRow("an RTS click") << QStringLiteral("rts") << PortError::DeviceGone;
    // The device refuses the write but stays open: closing it is ours to do.
    QTest::newRow("queue full") << QStringLiteral("full") << PortError::QueueFull;
}

void tst_TrainSender::failureDuringRepetitionStopsAndReportsOnce()
{
    QFETCH(QString, foundBy);
    QFETCH(int, number);
    QSignalSpy repeating(m_sender.get(), &TrainSender::repeatingChanged);
    m_sender->cmdPonavljanje_Click();
    m_line->waiting = 1024 - 10; // the train just fits the 1024-byte queue
    QVERIFY(m_timer.tick());
    QCOMPARE(m_line->writes.size(), 1);
    const PortFailure gone{PortError::DeviceGone, QStringLiteral("nestao"),
                           OperatorText::kSourcePort};
    if (foundBy == QLatin1String("full")) {
        m_line->waiting = 1024 - 9;
        QVERIFY(m_timer.tick());
    } else if (foundBy == QLatin1String("tick")) {
        m_line->failWrite = gone;
        QVERIFY(m_timer.tick());
    } else {
        m_line->failWrite = gone;
        const bool dtr = foundBy == QLatin1String("dtr");
        (dtr ? m_panel.dtr : m_panel.rts) =
            dtr ? Panel::CheckState::Unchecked : Panel::CheckState::Checked;
        dtr ? m_sender->chkDTR_Click() : m_sender->chkRTS_Click();
    }

    // Stopped and closed before anything is shown; no further tick sends.
    QVERIFY(!m_line->open);
    QVERIFY(!m_timer.tick());
    QTRY_COMPARE(m_messenger.boxes.size(), 1);
    QVERIFY(m_messenger.boxes.first().text.startsWith(QStringLiteral("Greska %1 - ").arg(number)));
    QCoreApplication::processEvents();
    QCOMPARE(m_messenger.boxes.size(), 1);
    QCOMPARE(repeating.size(), 2);

    // The device is back: the commands work again.
    m_line->failWrite.reset();
    m_line->waiting = 0;
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

// A failure that arrives while a box is up waits until that box is dismissed.
void tst_TrainSender::boxesNeverStack()
{
    m_messenger.whileShown = [this] {
        if (m_messenger.boxes.size() == 1)
            emit m_port->failedInBackground(
                PortFailure{PortError::DeviceGone, QStringLiteral("x"), OperatorText::kSourcePort});
    };
    m_panel.period = QStringLiteral("abc");
    m_sender->cmdPonavljanje_Click();
    QCOMPARE(m_messenger.boxes.size(), 2);
    QCOMPARE(m_messenger.mostAtOnce, 1);
    QVERIFY(m_messenger.boxes.last().text.startsWith(QStringLiteral("Greska 301 - x")));
}

void tst_TrainSender::integer16_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    QTest::newRow("spaces around") << "  42 " << true << 42;
    QTest::newRow("minus") << "-32768" << true << -32768;
    QTest::newRow("leading zeros") << "000000000012" << true << 12;
    QTest::newRow("past max") << "32768" << false << 0;
    QTest::newRow("past min") << "-32769" << false << 0;
    QTest::newRow("hex") << "0x10" << false << 0;
    QTest::newRow("decimal point") << "10.0" << false << 0;
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
