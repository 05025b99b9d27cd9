// SPDX-License-Identifier: MIT
#include "app/linepreview.h"
#include "fakes.h"
#include "train/trainsender.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <mutex>

#ifdef Q_OS_LINUX
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

class tst_LinePreview : public QObject
{
    Q_OBJECT

private slots:
    void traceFollowsTheModel_data();
    void traceFollowsTheModel();
    void portLineFollowsTheFolders();
    void countersMoveDuringARepetition();
};

void tst_LinePreview::traceFollowsTheModel_data()
{
    QTest::addColumn<QString>("train");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QString>("levels"); // one character per bit time, as a scope shows it
    QTest::addColumn<bool>("warning");   // in a period of 10 ms: 11 bytes at 9600 b/s outlast it
    QTest::newRow("the first ten of a longer train")
        << u"55 00 FF F0 F0 F0 F0 F0 F0 F0 7E"_s << u"9600"_s
        << u"0101010101"_s + u"0000000001"_s + u"0111111111"_s + u"0000011111"_s.repeated(7)
        << true;
    QTest::newRow("no rate still draws the bits")
        << u"0F"_s << u"abc"_s << u"0111100001"_s << false;
}

// The line at the middle of every bit time, idle (high) before the start bit and after the
// last stop bit; the warning shows in the tooltip and to screen readers.
void tst_LinePreview::traceFollowsTheModel()
{
    QFETCH(QString, train);
    QFETCH(QString, rate);
    QFETCH(QString, levels);
    QFETCH(bool, warning);
    LinePreview preview;
    preview.setTrainText(train);
    preview.setRateText(rate);
    preview.setPeriodText(u"10"_s);
    preview.resize(preview.sizeHint());
    const QImage image = preview.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const auto levelAt = [&](int x) {
        const auto drawn = [&](bool level) {
            return image.pixelColor(x, preview.yOfLevel(level)) == LinePreview::lineColor();
        };
        return drawn(true) == drawn(false) ? u'?' : drawn(true) ? u'1' : u'0';
    };
    QVERIFY2(preview.xOfBit(1) - preview.xOfBit(0) >= 2, "at least two pixels per bit");
    QString drawn = QChar(levelAt(preview.xOfBit(0) - 3));
    for (qsizetype b = 0; b < levels.size(); ++b)
        drawn += levelAt(preview.xOfBit(double(b) + 0.5));
    drawn += levelAt(preview.xOfBit(double(levels.size())) + 3);
    QCOMPARE(drawn, u'1' + levels + u'1');

    QCOMPARE(preview.toolTip().contains(u"Povorka traje duze od periode!"_s), warning);
    QCOMPARE(preview.accessibleDescription(), preview.toolTip());
}

// Where the port number leads, without polling: a device or a link that appears shows without
// typing; the ports are listed off the window's thread, once per change of the devices, and
// never for a number that a link names.
void tst_LinePreview::portLineFollowsTheFolders()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid() && QDir(dir.path()).mkpath(u"dev"_s) &&
            QDir(dir.path()).mkpath(u"config"_s));
    const QString dev = QFileInfo(dir.filePath(u"dev"_s)).canonicalFilePath();
    const QString links = dir.filePath(u"config/vorlagen"_s); // made later
    QVERIFY(QFile(dev + u"/target"_s).open(QIODevice::WriteOnly));
    std::mutex lock;
    QStringList ports{u"/dev/ttyUSB0"_s};
    std::atomic<bool> onWindowThread{false};
    LinePreview preview;
    preview.setPortMap(PortMap(
                           [&] {
                               onWindowThread =
                                   onWindowThread || QThread::currentThread() == qApp->thread();
                               std::lock_guard guard(lock);
                               return ports;
                           },
                           links),
                       dev);
    preview.setPortText(u"1"_s);
    QTRY_COMPARE(preview.portLine(), u"COM1 = /dev/ttyUSB0"_s);
    preview.setPortText(u"2"_s);
    QTRY_COMPARE(preview.portLine(), u"COM2 ne postoji"_s);
    QVERIFY(preview.toolTip().contains(u"Postoje: /dev/ttyUSB0"_s));
    QCOMPARE(preview.portListings(), 1); // typing counts the list it has

    { // an adapter plugged in
        std::lock_guard guard(lock);
        ports << u"/dev/ttyUSB1"_s;
    }
    QVERIFY(QFile(dev + u"/ttyUSB1"_s).open(QIODevice::WriteOnly));
    QTRY_COMPARE(preview.portLine(), u"COM2 = /dev/ttyUSB1"_s);
    QCOMPARE(preview.portListings(), 2);

    // A link made while the window is open, in a folder that did not exist: no listing for it,
    // not even after the devices change.
    preview.setPortText(u"7"_s);
    QTRY_COMPARE(preview.portLine(), u"COM7 ne postoji"_s);
    QVERIFY(QDir().mkpath(links));
    QVERIFY(QFile::link(dev + u"/target"_s, links + u"/com7"_s));
    QTRY_COMPARE(preview.portLine(), u"COM7 = "_s + dev + u"/target"_s);
    QVERIFY(QFile(dev + u"/ttyUSB2"_s).open(QIODevice::WriteOnly));
    QVERIFY(QFile::remove(dev + u"/target"_s)); // the link now leads nowhere
    QTRY_COMPARE(preview.portLine(), u"COM7 ne postoji"_s);
    QCOMPARE(preview.portListings(), 3); // only to tell what exists
    QVERIFY(!onWindowThread);

#ifdef Q_OS_LINUX
    // A virtual port's link as vorlagen-monitor makes it, held by a child that then dies as by
    // kill -9: nothing changes in the folders, and the preview looks again all the same.
    const int terminal = ::open(QFile::encodeName(dev + u"/ttyUSB2"_s), O_RDONLY | O_CLOEXEC);
    int go[2];
    int ready[2];
    QVERIFY(terminal >= 0 && ::pipe(go) == 0 && ::pipe(ready) == 0);
    const QByteArray held = QFile::encodeName(links + u"/com8"_s);
    const pid_t monitor = ::fork();
    if (monitor == 0) { // only what a child of a threaded process may do
        char byte = 0;
        if (::read(go[0], &byte, 1) == 1 && ::open(held.constData(), O_PATH | O_NOFOLLOW) >= 0 &&
            ::write(ready[1], &byte, 1) == 1)
            ::pause();
        ::_exit(1);
    }
    QVERIFY(QFile::link(u"/proc/%1/fd/%2"_s.arg(monitor).arg(terminal), links + u"/com8"_s));
    char byte = 1;
    QVERIFY(::write(go[1], &byte, 1) == 1 && ::read(ready[0], &byte, 1) == 1);
    preview.setPortText(u"8"_s);
    QTRY_COMPARE(preview.portLine(), u"COM8 = "_s + dev + u"/ttyUSB2"_s);
    ::kill(monitor, SIGKILL);
    ::waitpid(monitor, nullptr, 0);
    QTRY_COMPARE(preview.portLine(), u"COM8 ne postoji: virtuelni port je zavrsen"_s);
    for (const int fd : {terminal, go[0], go[1], ready[0], ready[1]})
        ::close(fd);
#endif
}

// The real send commands over a fake port and a hand-ticked timer; the preview polls the
// sender's counters while the repetition runs.
void tst_LinePreview::countersMoveDuringARepetition()
{
    FakePanel panel;
    RecordingMessenger messenger;
    Engine engine(fakeParts(std::make_shared<FakeLine>()), panel, messenger);
    TrainSender &sender = engine.sender();
    auto &timer = static_cast<FakeTimer &>(engine.timer());
    LinePreview preview;
    preview.setCounterSource([&] {
        return LinePreview::Counters{sender.trainsSent(), sender.deadlinesMissed()};
    });
    connect(&sender, &TrainSender::repeatingChanged, &preview, &LinePreview::setRepeating);

    for (int run = 0; run < 2; ++run) { // a new repetition counts from zero again
        sender.cmdPonavljanje_Click();
        QCOMPARE(preview.counterLine(), u"Poslato povorki: 0, propusteno rokova: 0"_s);
        for (int i = 0; i < 3; ++i)
            QVERIFY(timer.tick());
        timer.m_missed += 2; // counted from the start of this repetition
        QTRY_COMPARE(preview.counterLine(), u"Poslato povorki: 3, propusteno rokova: 2"_s);
        QVERIFY(preview.toolTip().contains(u"Poslato povorki: 3"_s));
        sender.cmdStop_Click();
        QVERIFY(preview.counterLine().isEmpty());
    }

    // A sender thread without real-time priority is named on the same line.
    preview.setCounterSource([&] { return LinePreview::Counters{1, 0, u"SCHED_OTHER"_s}; });
    sender.cmdPonavljanje_Click();
    QCOMPARE(preview.counterLine(), u"Poslato povorki: 1, propusteno rokova: 0, "_s +
                                        OperatorText::senderNotRealtime(u"SCHED_OTHER"_s));
}

QTEST_MAIN(tst_LinePreview)
#include "tst_linepreview.moc"
