// SPDX-License-Identifier: MIT
#include "fakes.h"
#include "train/precisetimer.h"
#include "train/trainsender.h"

#include <QTest>

using namespace Qt::StringLiterals;

// The send commands against a fake port, a hand-ticked timer and recorded message boxes.
class tst_TrainSender : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void lineBoxesFollowClicks_data();
    void lineBoxesFollowClicks();
    void editsWhileRepeatingWaitForPonavljanje();
    void nothingToSendSendsNothing();
    void refusedCommandChangesNothing_data();
    void refusedCommandChangesNothing();
    void failureDuringRepetitionStopsAndReportsOnce_data();
    void failureDuringRepetitionStopsAndReportsOnce();
    void boxesNeverStack();
    void ticksRaceEveryCommand();

private:
    FakeTimer &timer() { return static_cast<FakeTimer &>(m_engine->timer()); }

    std::shared_ptr<FakeLine> m_line;
    FakePanel m_panel;
    RecordingMessenger m_messenger;
    std::unique_ptr<Engine> m_engine;
    CommControl *m_port = nullptr;
    TrainSender *m_sender = nullptr;
};

void tst_TrainSender::init()
{
    m_line = std::make_shared<FakeLine>();
    m_panel = FakePanel();
    m_messenger = RecordingMessenger();
    m_engine = std::make_unique<Engine>(fakeParts(m_line), m_panel, m_messenger);
    m_port = &m_engine->port();
    m_sender = &m_engine->sender();
    m_sender->Form_Load();
}

void tst_TrainSender::cleanup()
{
    m_engine.reset();
}

void tst_TrainSender::lineBoxesFollowClicks_data()
{
    QTest::addColumn<bool>("openFirst");
    QTest::addColumn<Panel::CheckState>("dtrState");
    QTest::addColumn<Panel::CheckState>("rtsState");
    QTest::addColumn<QString>("lines"); // what the device was told after "open <path> <rate>"
    using S = Panel::CheckState;
    QTest::newRow("closed: DTR off") << false << S::Unchecked << S::Unchecked << "dtr=0 rts=0";
    QTest::newRow("closed: grayed changes nothing")
        << false << S::Grayed << S::Grayed << "dtr=1 rts=0";
    QTest::newRow("open: DTR off RTS on")
        << true << S::Unchecked << S::Checked << "dtr=1 rts=0, dtr 0, rts 1";
}

void tst_TrainSender::lineBoxesFollowClicks()
{
    QFETCH(bool, openFirst);
    QFETCH(Panel::CheckState, dtrState);
    QFETCH(Panel::CheckState, rtsState);
    QFETCH(QString, lines);
    if (openFirst)
        QCOMPARE(m_sender->SetUpCommPort(), qint16(0));
    m_panel.dtr = dtrState;
    m_panel.rts = rtsState;
    m_sender->chkDTR_Click();
    m_sender->chkRTS_Click();
    if (!openFirst)
        QCOMPARE(m_sender->SetUpCommPort(), qint16(0));
    QCOMPARE(m_line->calls.join(u", "_s), "open /dev/ttyUSB0 115200 " + lines);
    QVERIFY(m_messenger.boxes.isEmpty());
}

// Edits wait for the next Ponavljanje and a tick due before it sends nothing; the next set-up
// reads the port fields again. STOP and Jednom each end a repetition.
void tst_TrainSender::editsWhileRepeatingWaitForPonavljanje()
{
    m_sender->cmdPonavljanje_Click();
    QVERIFY(m_line->writes.isEmpty()); // the first train comes one period later
    const quint64 schedule = timer().schedule();
    m_panel.train = u"11 22"_s;
    m_panel.period = u" 000007 "_s;  // spaces and leading zeros are fine
    m_panel.port = u"2"_s;           // port and rate wait for the next open
    m_panel.rate = u" 2147483647"_s; // the largest rate; spaces are fine
    // The window polls while a send holds the lock: what it reads takes none (a read that took
    // it would hang here).
    QList<quint64> polled;
    m_line->whileWriting = [&] {
        polled << m_sender->isRepeating() << m_sender->trainsSent() << m_sender->deadlinesMissed();
    };
    QVERIFY(timer().tick());
    m_line->whileWriting = nullptr;
    QCOMPARE(polled, (QList<quint64>{1, 0, 0}));
    // The terminating zero is never sent.
    QCOMPARE(m_line->writes, QList<QByteArray>{QByteArray(10, char(0xF0))});
    QCOMPARE(timer().schedule(), schedule);

    m_sender->cmdPonavljanje_Click();
    QCOMPARE(timer().interval(), 7);
    timer().tick(schedule); // due before this click: sends nothing
    QCOMPARE(m_line->writes.size(), 1);
    QVERIFY(timer().tick());
    QCOMPARE(m_line->writes.last(), QByteArray("\x11\x22", 2));

    // A tick due before STOP finds the repetition over.
    const quint64 stopped = timer().schedule();
    m_sender->cmdStop_Click();
    QVERIFY(!timer().isEnabled());
    timer().tick(stopped);
    QCOMPARE(m_line->writes.size(), 2);

    m_sender->cmdPonavljanje_Click();
    m_panel.train = u"AB"_s;
    m_sender->cmdJednom_Click(); // sent on the repetition's port
    QVERIFY(!m_sender->isRepeating());
    QVERIFY(!m_port->portOpen());
    QCOMPARE(m_line->writes.mid(2), QList<QByteArray>{QByteArray("\xAB", 1)});
    QCOMPARE(m_line->calls.filter(u"open"_s),
             QStringList({u"open /dev/ttyUSB0 115200 dtr=1 rts=0"_s,
                          u"open /dev/ttyUSB1 2147483647 dtr=1 rts=0"_s}));
    QVERIFY(m_messenger.boxes.isEmpty());
}

// STOP while idle, a period of 0 and an empty train: no write, no box.
void tst_TrainSender::nothingToSendSendsNothing()
{
    m_sender->cmdStop_Click();
    QVERIFY(m_line->calls.isEmpty());
    m_panel.period = u"0"_s;
    m_sender->cmdPonavljanje_Click();
    QVERIFY(m_port->portOpen());
    QVERIFY(!timer().tick());
    m_sender->cmdStop_Click();
    QVERIFY(!m_port->portOpen());
    QVERIFY(!m_sender->isRepeating());

    m_panel.train.clear();
    m_panel.period = u"100"_s;
    m_sender->cmdJednom_Click();
    m_sender->cmdPonavljanje_Click();
    QVERIFY(timer().tick());
    QCOMPARE(m_line->calls.filter(u"open"_s).size(), 3);
    QVERIFY(m_line->writes.isEmpty());
    QVERIFY(m_messenger.boxes.isEmpty());
}

void tst_TrainSender::refusedCommandChangesNothing_data()
{
    QTest::addColumn<QString>("command"); // "again": Ponavljanje while repeating
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("start"); // of the box's text
    QTest::addColumn<QString>("end");

    const QString window = u" - VorlaGen\r\n Pokusajte ponovo !"_s;
    const QString port = u" - MSCommPort\r\n Pokusajte ponovo !"_s;
    // clang-format off
    QTest::newRow("letter for port") << "Jednom" << "port" << "A" << "Greska 101 - " << window;
    QTest::newRow("empty port") << "Ponavljanje" << "port" << "" << "Greska 101 - " << window;
    // Past 16 bits at either end: a number, but out of range.
    QTest::newRow("port 32768") << "Ponavljanje" << "port" << "32768" << "Greska 102 - " << window;
    QTest::newRow("port -32769") << "Jednom" << "port" << "-32769" << "Greska 102 - " << window;
    // Numbers in range, but below one.
    QTest::newRow("port 0") << "Ponavljanje" << "port" << "0" << "Greska 103 - " << port;
    QTest::newRow("port -32768") << "Jednom" << "port" << "-32768" << "Greska 103 - " << port;
    QTest::newRow("rate not a number") << "Jednom" << "rate" << "brzo" << "Greska 104 - " << port;
    QTest::newRow("rate 0") << "Jednom" << "rate" << "0" << "Greska 104 - " << port;
    QTest::newRow("rate 2^31") << "Jednom" << "rate" << "2147483648" << "Greska 104 - " << port;
    // The largest number in range is looked for, and not there.
    QTest::newRow("no port 32767") << "Jednom" << "port" << "32767" << "Greska 201 - " << port;
    // Hex, a decimal point and digits of other scripts are no whole number either.
    for (const char *text : {"sto", "-1", "0x10", "10.0", "\u0661"})
        QTest::addRow("period %s", text) << "Ponavljanje" << "period" << text
                                         << OperatorText::badPeriod(QString::fromUtf8(text)) << "";
    // What was typed is quoted whole and taken literally, or only its start when it is long.
    QTest::newRow("period %1 while repeating") << "again" << "period" << "%1"
        << "Perioda mora biti ceo broj milisekundi od 0 do 32767, a upisano je \"%1\". "
           "Ponavljanje se nastavlja sa starom periodom od 100 ms." << "";
    QTest::newRow("rate with a framing of its own") << "Jednom" << "rate" << "9600,n,8,1"
        << "Greska 104 - Brzina \"9600,n,8,1\" b/s nije" << port;
    QTest::newRow("rate of 100 digits") << "Jednom" << "rate" << QString(100, QLatin1Char('7'))
        << "Greska 104 - Brzina \"" + QString(21, QLatin1Char('7')) + "...\" b/s"
        << port;
    // clang-format on
    // One byte more than each command takes, and a length whose count must not wrap in 16 bits.
    const auto tooLong = [](const char *command, int bytes, int most) {
        QTest::addRow("%s, %d bytes", command, bytes)
            << command << "train" << QString(bytes * 3 - 1, QLatin1Char('E'))
            << OperatorText::trainTooLong(bytes, most) << "";
    };
    tooLong("Jednom", 1002, 1001);
    tooLong("Ponavljanje", 1001, 1000);
    tooLong("again", 1001, 1000);
    tooLong("Jednom", 70000, 1001);
}

void tst_TrainSender::refusedCommandChangesNothing()
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
    const quint64 schedule = timer().schedule();
    const PovorkaBuffer povorka = m_sender->povorka();
    m_panel.train = u"11 22 33"_s; // decoded, it would show in the buffer
    (field == QLatin1String("port")     ? m_panel.port
     : field == QLatin1String("rate")   ? m_panel.rate
     : field == QLatin1String("period") ? m_panel.period
                                        : m_panel.train) = text;
    command == QLatin1String("Jednom") ? m_sender->cmdJednom_Click()
                                       : m_sender->cmdPonavljanje_Click();

    QCOMPARE(m_messenger.boxes.size(), 1);
    const QString shown = m_messenger.boxes.first().text;
    QVERIFY2(shown.startsWith(start) && shown.endsWith(end), qPrintable(shown));
    // Nothing changes: not the port, the schedule, the buffer or the repetition.
    QCOMPARE(m_line->calls, calls);
    QCOMPARE(timer().schedule(), schedule);
    QVERIFY(m_sender->povorka() == povorka);
    QCOMPARE(m_sender->isRepeating(), again);
}

void tst_TrainSender::failureDuringRepetitionStopsAndReportsOnce_data()
{
    QTest::addColumn<bool>("byClick");
    QTest::addColumn<int>("number");
    // The device refuses the write but stays open: closing it is ours to do.
    QTest::newRow("queue full") << false << PortError::QueueFull;
    // The device is gone (found by a tick or a DTR click: tst_startup).
    QTest::newRow("an RTS click") << true << PortError::DeviceGone;
}

void tst_TrainSender::failureDuringRepetitionStopsAndReportsOnce()
{
    QFETCH(bool, byClick);
    QFETCH(int, number);
    QList<bool> heard;
    connect(m_sender, &TrainSender::repeatingChanged, [&heard](bool on) { heard << on; });
    m_sender->cmdPonavljanje_Click();
    m_line->waiting = 1024 - 10; // the train just fits the 1024-byte queue
    QVERIFY(timer().tick());
    QCOMPARE(m_line->writes.size(), 1);
    if (byClick) {
        m_line->failWrite =
            PortFailure{PortError::DeviceGone, u"nestao"_s, OperatorText::kSourcePort};
        m_sender->chkRTS_Click();
    } else {
        m_line->waiting = 1024 - 9;
        QVERIFY(timer().tick());
    }

    // Stopped and closed before anything is shown; no further tick sends.
    QVERIFY(!m_line->open);
    QVERIFY(!timer().tick());

    // The device is back. A command that runs before the queued report shows it first, exactly
    // once, and works; the queued report then has nothing left to show or to tell.
    m_line->failWrite.reset();
    m_line->waiting = 0;
    m_sender->cmdPonavljanje_Click();
    QCOMPARE(m_messenger.boxes.size(), 1);
    QVERIFY(m_messenger.boxes.first().text.startsWith(u"Greska %1 - "_s.arg(number)));
    QVERIFY(timer().tick());
    QCOMPARE(m_line->writes.size(), 2);
    QCoreApplication::processEvents();
    QCOMPARE(m_messenger.boxes.size(), 1);
    QCOMPARE(heard, (QList<bool>{true, false, true}));
    QVERIFY(m_sender->isRepeating());
}

// A failure that arrives while a box is up waits until that box is dismissed.
void tst_TrainSender::boxesNeverStack()
{
    m_messenger.whileShown = [this] {
        if (m_messenger.boxes.size() == 1)
            emit m_port->failedInBackground(
                PortFailure{PortError::DeviceGone, u"x"_s, OperatorText::kSourcePort});
    };
    m_panel.period = u"abc"_s;
    m_sender->cmdPonavljanje_Click();
    QCOMPARE(m_messenger.boxes.size(), 2);
    QCOMPARE(m_messenger.mostAtOnce, 1);
    QVERIFY(m_messenger.boxes.last().text.startsWith(u"Greska 301 - x"_s));
}

// The real timer ticks every millisecond on its own thread while every command runs: each write
// is one whole train that a command put in place, never a mix, and none comes once STOP has
// returned. (Under ThreadSanitizer a tick without the commands' lock is a reported race.)
void tst_TrainSender::ticksRaceEveryCommand()
{
    auto line = std::make_shared<FakeLine>();
    Engine::Parts parts = fakeParts(line);
    parts.timer = std::make_unique<PreciseTimer>();
    FakePanel panel;
    panel.period = u"1"_s;
    Engine engine(std::move(parts), panel, m_messenger);
    TrainSender &sender = engine.sender();
    const QStringList trains{u"11 11 11 11"_s, u"22 22"_s, u"33 33 33 33 33 33"_s};
    for (int round = 0; round < 200; ++round) {
        panel.train = trains[round % 3];
        panel.dtr = round % 2 ? Panel::CheckState::Checked : Panel::CheckState::Unchecked;
        sender.chkDTR_Click();
        round % 7 == 6 ? sender.cmdJednom_Click() : sender.cmdPonavljanje_Click();
        if (round % 5 == 4)
            sender.cmdStop_Click();
        QTest::qWait(1);
    }
    sender.cmdStop_Click();
    const qsizetype written = line->writes.size();
    QTest::qWait(20);
    QCOMPARE(line->writes.size(), written);
    QVERIFY(written > 20);
    for (const QByteArray &train : std::as_const(line->writes))
        QVERIFY2(train == QByteArray(train.size(), train.front()) && train.size() % 2 == 0,
                 train.toHex(' ').constData());
    QVERIFY(m_messenger.boxes.isEmpty());
}

QTEST_GUILESS_MAIN(tst_TrainSender)
#include "tst_trainsender.moc"
