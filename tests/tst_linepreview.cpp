#include "app/linepreview.h"
#include "fakes.h"
#include "train/trainsender.h"

#include <QImage>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString kDefaultTrain = u"F0 F0 F0 F0 F0 F0 F0 F0 F0 F0"_s;

QImage render(LinePreview &preview)
{
    preview.resize(preview.sizeHint());
    return preview.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool isLine(const QImage &image, int x, int y)
{
    return image.pixelColor(x, y) == LinePreview::lineColor();
}

int warningPixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 150 && c.green() < 90 && c.blue() < 90)
                ++count;
        }
    return count;
}

} // namespace

class tst_LinePreview : public QObject
{
    Q_OBJECT

private slots:
    void fitsTheWindowsGapAndTakesNoFocus();
    void traceFollowsTheModel_data();
    void traceFollowsTheModel();
    void warningWhenTheTrainOutlastsThePeriod_data();
    void warningWhenTheTrainOutlastsThePeriod();
    void longTrainSaysHowManyFollow();
    void port_data();
    void port();
    void portFollowsTheLocator();
    void countersMoveDuringARepetition();
    void tooltipAndAccessibleDescriptionCarryTheSummary();
};

void tst_LinePreview::fitsTheWindowsGapAndTakesNoFocus()
{
    LinePreview preview;
    QCOMPARE(preview.focusPolicy(), Qt::NoFocus);
    // Between the send frame and the window's right edge, below "Kraj", above the data frame.
    QVERIFY(preview.sizeHint().width() <= 250);
    QVERIFY(preview.sizeHint().height() <= 150);
}

void tst_LinePreview::traceFollowsTheModel_data()
{
    QTest::addColumn<QString>("train");
    QTest::addColumn<QString>("rate");
    QTest::newRow("default train") << kDefaultTrain << u"115200"_s;
    QTest::newRow("one F0") << u"F0"_s << u"115200"_s;
    QTest::newRow("00: nine low") << u"00"_s << u"9600"_s;
    QTest::newRow("FF: a lone start bit") << u"FF"_s << u"9600"_s;
    QTest::newRow("55 alternates, ten bytes") << u"55 55 55 55 55 55 55 55 55 55"_s << u"115200"_s;
    QTest::newRow("mixed") << u"01 80 FF 00 AA"_s << u"300"_s;
    QTest::newRow("long train, first bytes")
        << QString(kDefaultTrain + u" 55 55 55"_s) << u"115200"_s;
    QTest::newRow("no rate still draws the bits") << u"0F"_s << u"abc"_s;
}

// At the middle of every bit the trace sits on the model's level and not on the other one.
void tst_LinePreview::traceFollowsTheModel()
{
    QFETCH(QString, train);
    QFETCH(QString, rate);
    LinePreview preview;
    preview.setTrainText(train);
    preview.setRateText(rate);
    preview.setPeriodText(u"100"_s);
    const QImage image = render(preview);

    const QVector<bool> bits = lineBits(preview.summary().firstBytes);
    QVERIFY(!bits.isEmpty());
    QVERIFY2(preview.xOfBit(1) - preview.xOfBit(0) >= 2, "at least two pixels per bit");
    const int high = preview.yOfLevel(true);
    const int low = preview.yOfLevel(false);
    for (qsizetype b = 0; b < bits.size(); ++b) {
        const int x = preview.xOfBit(double(b) + 0.5);
        const int on = bits[b] ? high : low;
        const int off = bits[b] ? low : high;
        QVERIFY2(isLine(image, x, on), qPrintable(u"bit %1 not at its level"_s.arg(b)));
        QVERIFY2(!isLine(image, x, off), qPrintable(u"bit %1 also drawn opposite"_s.arg(b)));
    }
    // The start bit's falling edge comes after idle mark.
    const int before = preview.xOfBit(0) - 3;
    QVERIFY(isLine(image, before, high));
    QVERIFY(!isLine(image, before, low));
    const int after = preview.xOfBit(double(bits.size())) + 3;
    QVERIFY(isLine(image, after, high));
}

void tst_LinePreview::warningWhenTheTrainOutlastsThePeriod_data()
{
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QString>("period");
    QTest::addColumn<bool>("warning");
    // Ten bytes: 868 us at 115200 b/s, 10,4 ms at 9600 b/s.
    QTest::newRow("defaults fit") << u"115200"_s << u"100"_s << false;
    QTest::newRow("9600 b/s in 10 ms does not") << u"9600"_s << u"10"_s << true;
    QTest::newRow("9600 b/s in 11 ms does") << u"9600"_s << u"11"_s << false;
    QTest::newRow("period 0 repeats nothing") << u"9600"_s << u"0"_s << false;
}

void tst_LinePreview::warningWhenTheTrainOutlastsThePeriod()
{
    QFETCH(QString, rate);
    QFETCH(QString, period);
    QFETCH(bool, warning);
    LinePreview preview;
    preview.setTrainText(kDefaultTrain);
    preview.setRateText(rate);
    preview.setPeriodText(period);
    QCOMPARE(preview.isWarning(), warning);
    QCOMPARE(preview.toolTip().contains(u"Povorka traje duze od periode!"_s), warning);
    const int red = warningPixels(render(preview));
    if (warning)
        QVERIFY2(red > 20, qPrintable(u"only %1 warning pixels"_s.arg(red)));
    else
        QCOMPARE(red, 0);
}

void tst_LinePreview::longTrainSaysHowManyFollow()
{
    LinePreview preview;
    preview.setRateText(u"115200"_s);
    preview.setPeriodText(u"100"_s);
    preview.setTrainText(kDefaultTrain + u" 01 02 03 04 05"_s);
    QCOMPARE(preview.summary().firstBytes.size(), qsizetype(LinePreview::kShownBytes));
    QCOMPARE(preview.summary().bytes, qint64(15));
    QVERIFY(preview.toolTip().contains(u"prvih 10 bajtova, jos 5"_s));
    // The drawing ends with the tenth byte's stop bit.
    const QImage image = render(preview);
    QVERIFY(preview.xOfBit(100) < preview.plotRect().right());
    QVERIFY(isLine(image, preview.xOfBit(99.5), preview.yOfLevel(true)));

    preview.setTrainText(u"01 02"_s);
    QVERIFY(!preview.toolTip().contains(u"prvih"_s));
}

void tst_LinePreview::port_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("device"); // empty: none
    QTest::addColumn<QString>("expected");
    QTest::newRow("resolved") << u"1"_s << u"/dev/ttyUSB0"_s << u"COM1 = /dev/ttyUSB0"_s;
    QTest::newRow("no such port") << u"7"_s << QString() << u"COM7 ne postoji"_s;
    QTest::newRow("converted like the set-up")
        << u" +2 "_s << u"/dev/pts/4"_s << u"COM2 = /dev/pts/4"_s;
    QTest::newRow("not a number") << u"x"_s << u"/dev/ttyUSB0"_s << u"Port: nije broj"_s;
    QTest::newRow("out of 16 bits") << u"40000"_s << u"/dev/ttyUSB0"_s << u"Port: nije broj"_s;
    QTest::newRow("Windows name is not repeated") << u"3"_s << u"COM3"_s << u"COM3"_s;
}

void tst_LinePreview::port()
{
    QFETCH(QString, text);
    QFETCH(QString, device);
    QFETCH(QString, expected);
    LinePreview preview;
    QList<qint16> asked;
    preview.setPortLocator([&](qint16 number) {
        asked << number;
        PortLocation where;
        where.number = number;
        where.device = device;
        where.tried = u"/tmp/vorlagen/com%1"_s.arg(number);
        where.present = QStringList{u"/dev/ttyUSB0"_s};
        return where;
    });
    preview.setPortText(text);
    QCOMPARE(preview.portLine(), expected);
    if (device.isEmpty()) {
        QVERIFY(preview.toolTip().contains(u"Trazeno: /tmp/vorlagen/com7"_s));
        QVERIFY(preview.toolTip().contains(u"Postoje: /dev/ttyUSB0"_s));
        QVERIFY(warningPixels(render(preview)) > 0);
    }
}

void tst_LinePreview::portFollowsTheLocator()
{
    LinePreview preview;
    preview.setPortText(u"4"_s);
    QCOMPARE(preview.portLine(), u"COM4"_s); // nothing known yet

    // A location for another number (the field changed meanwhile) says nothing about this one.
    PortLocation other;
    other.number = 3;
    other.device = u"/dev/ttyUSB2"_s;
    preview.setPortLocation(other);
    QCOMPARE(preview.portLine(), u"COM4"_s);

    // A link that appears later shows without typing.
    QString device;
    preview.setPortLocator([&](qint16 number) {
        PortLocation where;
        where.number = number;
        where.device = device;
        return where;
    });
    QCOMPARE(preview.portLine(), u"COM4 ne postoji"_s);
    device = u"/dev/pts/9"_s;
    QTRY_COMPARE_WITH_TIMEOUT(preview.portLine(), u"COM4 = /dev/pts/9"_s, 10000);
}

// The real send commands over a fake port and a timer ticked by hand: the preview polls the
// sender's counters while the repetition runs.
void tst_LinePreview::countersMoveDuringARepetition()
{
    auto line = std::make_shared<FakeLine>();
    auto port = makeFakePort(line);
    FakeTimer timer;
    FakePanel panel;
    RecordingMessenger messenger;
    TrainSender sender(panel, *port, timer, messenger);

    LinePreview preview;
    preview.setCounterSource([&] {
        return LinePreview::Counters{sender.trainsSent(), sender.deadlinesMissed()};
    });
    connect(&sender, &TrainSender::repeatingChanged, &preview, &LinePreview::setRepeating);
    QVERIFY(preview.counterLine().isEmpty());

    sender.cmdPonavljanje_Click();
    QVERIFY(messenger.boxes.isEmpty());
    QCOMPARE(preview.counterLine(), u"Poslato povorki: 0, propusteno rokova: 0"_s);
    for (int i = 0; i < 3; ++i)
        QVERIFY(timer.tick());
    timer.m_missed = 2;
    QTRY_COMPARE(preview.counterLine(), u"Poslato povorki: 3, propusteno rokova: 2"_s);
    QVERIFY(preview.toolTip().contains(u"Poslato povorki: 3"_s));

    sender.cmdStop_Click();
    QVERIFY(preview.counterLine().isEmpty());
    QVERIFY(!preview.toolTip().contains(u"Poslato"_s));

    // A new repetition counts from zero again.
    sender.cmdPonavljanje_Click();
    QCOMPARE(preview.counterLine(), u"Poslato povorki: 0, propusteno rokova: 0"_s);
    sender.cmdStop_Click();
}

void tst_LinePreview::tooltipAndAccessibleDescriptionCarryTheSummary()
{
    LinePreview preview;
    preview.setTrainText(kDefaultTrain);
    preview.setRateText(u"115200"_s);
    preview.setPeriodText(u"100"_s);
    preview.setPortText(u"1"_s);
    const QString expected = u"10 bajtova, 100 bitova, na liniji 868 us\n"
                             u"Perioda 100 ms, linija zauzeta 0,9 %\n"
                             u"COM1"_s;
    QCOMPARE(preview.toolTip(), expected);
    QCOMPARE(preview.accessibleDescription(), expected);
    QVERIFY(!preview.accessibleName().isEmpty());

    preview.setRateText(u"x"_s);
    QVERIFY(preview.accessibleDescription().contains(u"b/s: nije brzina koju port prima"_s));
}

QTEST_MAIN(tst_LinePreview)
#include "tst_linepreview.moc"
