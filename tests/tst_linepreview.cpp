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

using namespace Qt::StringLiterals;

namespace {

const QString kTen = u"F0 F0 F0 F0 F0 F0 F0 F0 F0 F0"_s;

QImage render(LinePreview &preview)
{
    preview.resize(preview.sizeHint());
    return preview.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int warningPixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y); // antialiased text: reddish is enough
            count += c.red() > 150 && c.green() < 90 && c.blue() < 90;
        }
    return count;
}

} // namespace

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
    QTest::addColumn<bool>("warning"); // in a period of 10 ms
    // Ten bytes: 868 us at 115200 b/s, 10,4 ms at 9600 b/s.
    QTest::newRow("ten bytes fit") << kTen << u"115200"_s << false;
    QTest::newRow("ten bytes outlast the period") << kTen << u"9600"_s << true;
    QTest::newRow("00: nine low") << u"00"_s << u"9600"_s << false;
    QTest::newRow("FF: a lone start bit") << u"FF"_s << u"9600"_s << false;
    QTest::newRow("longer train: the first ten") << kTen + u" 55 55 55"_s << u"115200"_s << false;
    QTest::newRow("no rate still draws the bits") << u"0F"_s << u"abc"_s << false;
}

// At the middle of every bit the trace sits on the model's level and not on the other one; the
// warning shows in red, in the tooltip and to screen readers.
void tst_LinePreview::traceFollowsTheModel()
{
    QFETCH(QString, train);
    QFETCH(QString, rate);
    QFETCH(bool, warning);
    LinePreview preview;
    preview.setTrainText(train);
    preview.setRateText(rate);
    preview.setPeriodText(u"10"_s);
    const QImage image = render(preview);
    const auto isLine = [&](int x, bool level) {
        return image.pixelColor(x, preview.yOfLevel(level)) == LinePreview::lineColor();
    };

    const QVector<bool> bits = lineBits(preview.summary().firstBytes);
    QVERIFY(!bits.isEmpty());
    QVERIFY2(preview.xOfBit(1) - preview.xOfBit(0) >= 2, "at least two pixels per bit");
    for (qsizetype b = 0; b < bits.size(); ++b) {
        const int x = preview.xOfBit(double(b) + 0.5);
        QVERIFY2(isLine(x, bits[b]) && !isLine(x, !bits[b]), qPrintable(u"bit %1"_s.arg(b)));
    }
    // Idle mark before the start bit's falling edge and after the last stop bit.
    QVERIFY(isLine(preview.xOfBit(0) - 3, true) && !isLine(preview.xOfBit(0) - 3, false));
    QVERIFY(isLine(preview.xOfBit(double(bits.size())) + 3, true));

    QCOMPARE(preview.toolTip().contains(u"Povorka traje duze od periode!"_s), warning);
    QCOMPARE(preview.accessibleDescription(), preview.toolTip());
    const int red = warningPixels(image);
    QVERIFY2(warning ? red > 20 : red == 0, qPrintable(u"%1 warning pixels"_s.arg(red)));
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
    QVERIFY(warningPixels(render(preview)) > 0);
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
}

// The real send commands over a fake port and a hand-ticked timer; the preview polls the
// sender's counters while the repetition runs.
void tst_LinePreview::countersMoveDuringARepetition()
{
    auto port = makeFakePort(std::make_shared<FakeLine>());
    FakeTimer timer;
    FakePanel panel;
    RecordingMessenger messenger;
    TrainSender sender(panel, *port, timer, messenger);
    LinePreview preview;
    preview.setCounterSource([&] {
        return LinePreview::Counters{sender.trainsSent(), sender.deadlinesMissed()};
    });
    connect(&sender, &TrainSender::repeatingChanged, &preview, &LinePreview::setRepeating);

    for (int run = 0; run < 2; ++run) { // a new repetition counts from zero again
        sender.cmdPonavljanje_Click();
        QVERIFY(messenger.boxes.isEmpty());
        QCOMPARE(preview.counterLine(), u"Poslato povorki: 0, propusteno rokova: 0"_s);
        for (int i = 0; i < 3; ++i)
            QVERIFY(timer.tick());
        timer.m_missed += 2; // counted from the start of this repetition
        QTRY_COMPARE(preview.counterLine(), u"Poslato povorki: 3, propusteno rokova: 2"_s);
        QVERIFY(preview.toolTip().contains(u"Poslato povorki: 3"_s));
        sender.cmdStop_Click();
        QVERIFY(preview.counterLine().isEmpty());
    }
}

QTEST_MAIN(tst_LinePreview)
#include "tst_linepreview.moc"
