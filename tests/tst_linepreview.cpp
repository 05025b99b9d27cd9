// SPDX-License-Identifier: MIT
#include "app/linepreview.h"
#include "fakes.h"
#include "train/fields.h"
#include "train/trainsender.h"

#include <QImage>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_LinePreview : public QObject
{
    Q_OBJECT

private slots:
    void traceFollowsTheModel_data();
    void traceFollowsTheModel();
    void portLines_data();
    void portLines();
    void portLineFollowsItsWatcher();
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

void tst_LinePreview::portLines_data()
{
    using Where = std::optional<PortLocation>; // none until the watcher has looked
    QTest::addColumn<QString>("text");
    QTest::addColumn<Where>("where");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("details"); // in the tooltip
    const QStringList usb0{u"/dev/ttyUSB0"_s};
    // What the set-up refuses before it looks for a device, as its report says it.
    QTest::newRow("no number") << u"abc"_s << Where() << u"Port: nije broj"_s << QStringList();
    QTest::newRow("out of range (102)")
        << u" 40000"_s << Where() << u"Port: izvan opsega -32768 do 32767"_s << QStringList();
    QTest::newRow("not looked yet") << u"1"_s << Where() << u"COM1"_s << QStringList();
    QTest::newRow("counted") << u" 1"_s << Where({1, u"/dev/ttyUSB0"_s, u"com1 ili 1."_s, usb0, {}})
                             << u"COM1 = /dev/ttyUSB0"_s << QStringList();
    QTest::newRow("Windows: COM3 is the device")
        << u"3"_s << Where({3, u"COM3"_s, u"COM3"_s, {u"COM3"_s}, {}}) << u"COM3"_s
        << QStringList();
    QTest::newRow("missing") << u"2"_s << Where({2, {}, u"com2 ili 2."_s, usb0, {}})
                             << u"COM2 ne postoji"_s
                             << QStringList{u"Trazeno: com2 ili 2."_s, u"Postoje: /dev/ttyUSB0"_s};
    QTest::newRow("monitor ended")
        << u"8"_s << Where({8, {}, u"com8"_s, {}, {}, true})
        << u"COM8 ne postoji: virtuelni port je zavrsen"_s << QStringList{u"Trazeno: com8"_s};
}

// What "Port:" shows for where the watcher found the number to lead; a missing port is a
// warning.
void tst_LinePreview::portLines()
{
    QFETCH(QString, text);
    QFETCH(std::optional<PortLocation>, where);
    QFETCH(QString, line);
    QFETCH(QStringList, details);
    const LinePreview::PortLines lines = LinePreview::portLines(text, where);
    QCOMPARE(lines.line, line);
    QCOMPARE(lines.details, details);
    QCOMPARE(lines.missing, where && !where->exists());
}

// The preview shows what its watcher finds, and has it follow "Port:" as it is typed.
void tst_LinePreview::portLineFollowsItsWatcher()
{
    QTemporaryDir dir;
    LinePreview preview;
    preview.portWatcher().setPortMap(fakePortMap(1), dir.path());
    preview.setPortText(u"1"_s);
    QTRY_COMPARE(preview.portLine(), u"COM1 = /dev/ttyUSB0"_s);
    preview.setPortText(u"2"_s);
    QTRY_COMPARE(preview.portLine(), u"COM2 ne postoji"_s);
    QVERIFY(preview.toolTip().contains(u"Postoje: /dev/ttyUSB0"_s));
    preview.setPortText(u"0"_s); // refused before any device is looked for
    QVERIFY(!preview.portWatcher().portNumber());
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
