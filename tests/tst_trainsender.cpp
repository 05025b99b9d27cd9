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
    void editsWhileRepeatingWaitForPonavljanje();
    void nothingToSendSendsNothing();
    void badFieldsAreRefused_data();
    void badFieldsAreRefused();
    void trainLengthLimits_data();
    void trainLengthLimits();
    void failureDuringRepetitionStopsAndReportsOnce();
    void pendingFailureShownOnceByFirstComer();
    void boxesNeverStack();

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
    QCOMPARE(m_timer.interval(), 0);
    QVERIFY(m_messenger.boxes.isEmpty());
}

// Edits wait for the next Ponavljanje and a tick due before it sends nothing; the next set-up
// reads the port fields again. STOP and Jednom each end a repetition.
void tst_TrainSender::editsWhileRepeatingWaitForPonavljanje()
{
    m_sender->cmdPonavljanje_Click();
    QVERIFY(m_line->writes.isEmpty()); // the first train comes one period later
    const quint64 schedule = m_timer.schedule();
    m_panel.train = QStringLiteral("11 22");
    m_panel.period = QStringLiteral(" 000007 "); // spaces and leading zeros are fine
    m_panel.port = QStringLiteral("2");
    m_panel.rate = QStringLiteral("9600");
    QVERIFY(m_timer.tick());
    // The terminating zero is never sent.
    QCOMPARE(m_line->writes, QList<QByteArray>{QByteArray(10, char(0xF0))});
    QCOMPARE(m_timer.schedule(), schedule);

    m_sender->cmdPonavljanje_Click();
    QCOMPARE(m_timer.interval(), 7);
    m_timer.staleTick(schedule); // due before this click: sends nothing
    QCOMPARE(m_line->writes.size(), 1);
    QVERIFY(m_timer.tick());
    QCOMPARE(m_line->writes.last(), QByteArray("\x11\x22", 2));

    const quint64 stopped = m_timer.schedule();
    m_sender->cmdStop_Click();
    QVERIFY(!m_timer.isEnabled());
    m_timer.staleTick(stopped);
    QCOMPARE(m_line->writes.size(), 2);

    m_sender->cmdPonavljanje_Click();
    m_panel.train = QStringLiteral("AB");
    m_sender->cmdJednom_Click(); // sent on the repetition's port
    QVERIFY(!m_sender->isRepeating());
    QVERIFY(!m_port->portOpen());
    QCOMPARE(m_line->writes.last(), QByteArray("\xAB", 1));
    QCOMPARE(m_line->calls.filter(QStringLiteral("open")),
             QStringList({QStringLiteral("open /dev/ttyUSB0 115200 dtr=1 rts=0"),
                          QStringLiteral("open /dev/ttyUSB1 9600 dtr=1 rts=0")}));
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
    QVERIFY(!m_sender->isRepeating());

    m_panel.train.clear();
    m_panel.period = QStringLiteral("100");
    m_sender->cmdJednom_Click();
    m_sender->cmdPonavljanje_Click();
    QVERIFY(m_timer.tick());
    QCOMPARE(m_line->calls.filter(QStringLiteral("open")).size(), 3);
    QVERIFY(m_line->writes.isEmpty());
    QVERIFY(m_messenger.boxes.isEmpty());
}

void tst_TrainSender::badFieldsAreRefused_data()
{
    QTest::addColumn<QString>("command"); // "again": Ponavljanje while repeating
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("start"); // of the box's text
    QTest::addColumn<QString>("end");

    const QString window = QStringLiteral(" - VorlaGen\r\n Pokusajte ponovo !");
    const QString port = QStringLiteral(" - MSCommPort\r\n Pokusajte ponovo !");
    // clang-format off
    QTest::newRow("letter for port") << "Jednom" << "port" << "A" << "Greska 101 - " << window;
    QTest::newRow("empty port") << "Ponavljanje" << "port" << "" << "Greska 101 - " << window;
    // Past 16 bits at either end: a number, but out of range.
    QTest::newRow("port 32768") << "Ponavljanje" << "port" << "32768" << "Greska 102 - " << window;
    QTest::newRow("port -32769") << "Jednom" << "port" << "-32769" << "Greska 102 - " << window;
    QTest::newRow("port 0") << "Ponavljanje" << "port" << "0" << "Greska 103 - " << port;
    QTest::newRow("rate not a number") << "Jednom" << "rate" << "brzo" << "Greska 104 - " << port;
    QTest::newRow("no such port") << "Jednom" << "port" << "9" << "Greska 201 - " << port;
    // Hex, a decimal point and digits of other scripts are no whole number either.
    for (const char *text : {"sto", "-1", "0x10", "10.0", "\u0661"})
        QTest::addRow("period %s", text) << "Ponavljanje" << "period" << text
                                         << OperatorText::badPeriod(QString::fromUtf8(text)) << "";
    QTest::newRow("period while repeating") << "again" << "period" << "abc"
                                            << OperatorText::badPeriodGoesOn("abc", 100) << "";
    // clang-format on
}

void tst_TrainSender::badFieldsAreRefused()
{
    QFETCH(QString, command);
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, start);
    QFETCH(QString, end);
    const bool again = command == QLatin1String("again");
    if (again)
        m_sender->cmdPonavljanje_Click();
    const QStringList calls = m_line->calls;
    const quint64 schedule = m_timer.schedule();
    const PovorkaBuffer povorka = m_sender->povorka();
    m_panel.train = QStringLiteral("11 22 33"); // decoded, it would show in the buffer
    (field == QLatin1String("port")   ? m_panel.port
     : field == QLatin1String("rate") ? m_panel.rate
                                      : m_panel.period) = text;
    command == QLatin1String("Jednom") ? m_sender->cmdJednom_Click()
                                       : m_sender->cmdPonavljanje_Click();

    QCOMPARE(m_messenger.boxes.size(), 1);
    const Box box = m_messenger.boxes.first();
    QCOMPARE(box.title, QStringLiteral("Greska !"));
    QVERIFY2(box.text.startsWith(start) && box.text.endsWith(end), qPrintable(box.text));
    // Nothing changes: not the port, the schedule, the buffer or the repetition.
    QCOMPARE(m_line->calls, calls);
    QCOMPARE(m_timer.schedule(), schedule);
    QVERIFY(m_sender->povorka() == povorka);
    QCOMPARE(m_sender->isRepeating(), again);
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
    QTest::newRow("far too long to count in 16 bits") << false << false << 70000 << false;
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

// The device refuses a write but stays open: closing it is ours to do. (A device that fails
// for good is in tst_endtoend.)
void tst_TrainSender::failureDuringRepetitionStopsAndReportsOnce()
{
    QSignalSpy repeating(m_sender.get(), &TrainSender::repeatingChanged);
    m_sender->cmdPonavljanje_Click();
    m_line->waiting = 1024 - 10; // the train just fits the 1024-byte queue
    QVERIFY(m_timer.tick());
    m_line->waiting = 1024 - 9;
    QVERIFY(m_timer.tick());
    QCOMPARE(m_line->writes.size(), 1);

    // Stopped and closed before anything is shown; no further tick sends.
    QVERIFY(!m_line->open);
    QVERIFY(!m_timer.tick());
    QTRY_COMPARE(m_messenger.boxes.size(), 1);
    QVERIFY(m_messenger.boxes.first().text.startsWith(QStringLiteral("Greska 302 - ")));
    QCoreApplication::processEvents();
    QCOMPARE(m_messenger.boxes.size(), 1);
    QCOMPARE(repeating.size(), 2);
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

QTEST_GUILESS_MAIN(tst_TrainSender)
#include "tst_trainsender.moc"
