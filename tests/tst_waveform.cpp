#include "train/waveform.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// "0000011111" style: one character per bit time, as a person reads a scope trace.
QString levels(const QVector<bool> &bits)
{
    QString text;
    for (const bool bit : bits)
        text += bit ? u'1' : u'0';
    return text;
}

} // namespace

class tst_Waveform : public QObject
{
    Q_OBJECT

private slots:
    void bits_data();
    void bits();
    void runs_data();
    void runs();
    void durations_data();
    void durations();
    void busy_data();
    void busy();
    void decodesLikeTheCommands_data();
    void decodesLikeTheCommands();
    void firstBytesOfALongTrain();
    void texts_data();
    void texts();
    void formats_data();
    void formats();
};

void tst_Waveform::bits_data()
{
    QTest::addColumn<QByteArray>("train");
    QTest::addColumn<QString>("expected");
    QTest::newRow("F0: start and four zero data bits low, four ones and stop high")
        << QByteArray("\xF0", 1) << u"0000011111"_s;
    QTest::newRow("00: nine low, then the stop bit") << QByteArray("\x00", 1) << u"0000000001"_s;
    QTest::newRow("FF: only the start bit low") << QByteArray("\xFF", 1) << u"0111111111"_s;
    QTest::newRow("55 alternates") << QByteArray("\x55", 1) << u"0101010101"_s;
    QTest::newRow("01: least significant bit first") << QByteArray("\x01", 1) << u"0100000001"_s;
    QTest::newRow("80: most significant bit last") << QByteArray("\x80", 1) << u"0000000011"_s;
    QTest::newRow("two bytes follow each other")
        << QByteArray("\xF0\x00", 2) << u"00000111110000000001"_s;
    QTest::newRow("empty train: no bits") << QByteArray() << QString();
}

void tst_Waveform::bits()
{
    QFETCH(QByteArray, train);
    QFETCH(QString, expected);
    QCOMPARE(levels(lineBits(train)), expected);
}

void tst_Waveform::runs_data()
{
    QTest::addColumn<QByteArray>("train");
    QTest::addColumn<QString>("expected"); // level:first+count ...
    QTest::newRow("F0 F0: five low, five high per byte")
        << QByteArray("\xF0\xF0", 2) << u"0:0+5 1:5+5 0:10+5 1:15+5"_s;
    QTest::newRow("00: nine low then high") << QByteArray("\x00", 1) << u"0:0+9 1:9+1"_s;
    QTest::newRow("FF FF: stop joins the next start's neighbours")
        << QByteArray("\xFF\xFF", 2) << u"0:0+1 1:1+9 0:10+1 1:11+9"_s;
    QTest::newRow("empty") << QByteArray() << QString();
}

void tst_Waveform::runs()
{
    QFETCH(QByteArray, train);
    QFETCH(QString, expected);
    QStringList got;
    for (const LineRun &run : lineRuns(train))
        got << u"%1:%2+%3"_s.arg(int(run.level)).arg(run.firstBit).arg(run.bits);
    QCOMPARE(got.join(u' '), expected);
}

void tst_Waveform::durations_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<qint32>("rate");
    QTest::addColumn<double>("bitTime");
    QTest::addColumn<double>("trainTime");
    QTest::newRow("1 byte at 115200") << qint64(1) << 115200 << 1.0 / 115200 << 10.0 / 115200;
    QTest::newRow("default train: 10 bytes at 115200")
        << qint64(10) << 115200 << 1.0 / 115200 << 100.0 / 115200;
    QTest::newRow("10 bytes at 9600") << qint64(10) << 9600 << 1.0 / 9600 << 100.0 / 9600;
    QTest::newRow("full buffer at 110") << qint64(1001) << 110 << 1.0 / 110 << 10010.0 / 110;
    QTest::newRow("an unlisted rate") << qint64(3) << 250000 << 4e-6 << 120e-6;
}

void tst_Waveform::durations()
{
    QFETCH(qint64, bytes);
    QFETCH(qint32, rate);
    QFETCH(double, bitTime);
    QFETCH(double, trainTime);
    QVERIFY(qFuzzyCompare(bitSeconds(rate), bitTime));
    QVERIFY(qFuzzyCompare(trainSeconds(bytes, rate), trainTime));
}

void tst_Waveform::busy_data()
{
    QTest::addColumn<QString>("train");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QString>("period");
    QTest::addColumn<double>("busy"); // -1: none
    QTest::addColumn<bool>("outlasts");
    const QString ten = u"F0 F0 F0 F0 F0 F0 F0 F0 F0 F0"_s;
    QTest::newRow("defaults: under one percent")
        << ten << u"115200"_s << u"100"_s << (100.0 / 115200) / 0.1 << false;
    // 10 bytes at 9600 b/s take 10,4 ms.
    QTest::newRow("period shorter than the train")
        << ten << u"9600"_s << u"10"_s << (100.0 / 9600) / 0.01 << true;
    QTest::newRow("just fits") << ten << u"9600"_s << u"11"_s << (100.0 / 9600) / 0.011 << false;
    // 1 byte at 1000 b/s is exactly 10 ms: a full line, not an overrun.
    QTest::newRow("exactly the period") << u"55"_s << u"1000"_s << u"10"_s << 1.0 << false;
    QTest::newRow("period 0: no repetition") << ten << u"115200"_s << u"0"_s << -1.0 << false;
    QTest::newRow("bad period") << ten << u"9600"_s << u"abc"_s << -1.0 << false;
    QTest::newRow("negative period") << ten << u"9600"_s << u"-5"_s << -1.0 << false;
    QTest::newRow("bad rate") << ten << u"fast"_s << u"1"_s << -1.0 << false;
    QTest::newRow("empty train") << QString() << u"9600"_s << u"1"_s << 0.0 << false;
}

void tst_Waveform::busy()
{
    QFETCH(QString, train);
    QFETCH(QString, rate);
    QFETCH(QString, period);
    QFETCH(double, busy);
    QFETCH(bool, outlasts);
    const LineSummary summary = summarizeLine(train, rate, period, 10);
    const auto fraction = summary.busyFraction();
    if (busy < 0) {
        QVERIFY(!fraction);
    } else {
        QVERIFY(fraction);
        QVERIFY2(qFuzzyCompare(1.0 + *fraction, 1.0 + busy),
                 qPrintable(QString::number(*fraction)));
    }
    QCOMPARE(summary.outlastsPeriod(), outlasts);
    QCOMPARE(warningLine(summary) == u"Povorka traje duze od periode!"_s, outlasts);
}

void tst_Waveform::decodesLikeTheCommands_data()
{
    QTest::addColumn<QString>("train");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QString>("period");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<qint32>("bitRate");
    QTest::addColumn<int>("periodMs"); // -1: none
    QTest::newRow("defaults") << u"F0 F0 F0 F0 F0 F0 F0 F0 F0 F0"_s << u"115200"_s << u"100"_s
                              << qint64(10) << QByteArray(10, '\xF0') << 115200 << 100;
    QTest::newRow("lower case is no digit, separators are any character")
        << u"fF,1A-G7"_s << u"9600"_s << u" 250 "_s << qint64(3) << QByteArray("\x0F\x1A\x07", 3)
        << 9600 << 250;
    QTest::newRow("lone last character is a high digit")
        << u"F0 F"_s << u"300"_s << u"+7"_s << qint64(2) << QByteArray("\xF0\xF0", 2) << 300 << 7;
    QTest::newRow("rate text with its own settings is refused like the set-up refuses it")
        << u"00"_s << u"9600,n,8,1"_s << u"1"_s << qint64(1) << QByteArray(1, '\0') << 0 << 1;
    QTest::newRow("rate with a space is refused")
        << u"00"_s << u"9600 "_s << u"1"_s << qint64(1) << QByteArray(1, '\0') << 0 << 1;
    QTest::newRow("zero rate") << u"00"_s << u"0"_s << u"1"_s << qint64(1) << QByteArray(1, '\0')
                               << 0 << 1;
    QTest::newRow("period out of 16 bits")
        << u""_s << u"110"_s << u"32768"_s << qint64(0) << QByteArray() << 110 << -1;
    QTest::newRow("period at the top")
        << u""_s << u"110"_s << u"32767"_s << qint64(0) << QByteArray() << 110 << 32767;
    QTest::newRow("period with a unit")
        << u""_s << u"110"_s << u"100ms"_s << qint64(0) << QByteArray() << 110 << -1;
    // An astral character is one separator, as the walk counts it.
    QTest::newRow("astral separator") << u"F0\U0001F600F0"_s << u"110"_s << u"1"_s << qint64(2)
                                      << QByteArray("\xF0\xF0", 2) << 110 << 1;
}

void tst_Waveform::decodesLikeTheCommands()
{
    QFETCH(QString, train);
    QFETCH(QString, rate);
    QFETCH(QString, period);
    QFETCH(qint64, bytes);
    QFETCH(QByteArray, first);
    QFETCH(qint32, bitRate);
    QFETCH(int, periodMs);
    const LineSummary summary = summarizeLine(train, rate, period, 10);
    QCOMPARE(summary.bytes, bytes);
    QCOMPARE(summary.firstBytes, first);
    QCOMPARE(summary.bitRate, bitRate);
    QCOMPARE(summary.periodMs.value_or(-1), periodMs);
    QCOMPARE(summary.hasRate(), bitRate > 0);
}

void tst_Waveform::firstBytesOfALongTrain()
{
    QString text;
    for (int i = 0; i < 1500; ++i)
        text += QString::asprintf("%02X ", i % 256);
    const LineSummary summary = summarizeLine(text, u"115200"_s, u"100"_s, 4);
    QCOMPARE(summary.bytes, qint64(1500));
    QCOMPARE(summary.firstBytes, QByteArray("\x00\x01\x02\x03", 4));
    QCOMPARE(summary.bytesNotShown(), qint64(1496));
    QVERIFY(summary.tooLong());
    QCOMPARE(warningLine(summary), u"Preduga povorka: najvise 1001 bajt"_s);
    QCOMPARE(shownBytesLine(summary), u"prvih 4 bajta, jos 1496"_s);

    // A train that fits entirely has nothing more to say.
    const LineSummary whole = summarizeLine(u"01 02"_s, u"115200"_s, u"100"_s, 4);
    QCOMPARE(whole.bytesNotShown(), qint64(0));
    QVERIFY(shownBytesLine(whole).isEmpty());
}

void tst_Waveform::texts_data()
{
    QTest::addColumn<QString>("train");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QString>("period");
    QTest::addColumn<QString>("expected");
    QTest::newRow("defaults") << u"F0 F0 F0 F0 F0 F0 F0 F0 F0 F0"_s << u"115200"_s << u"100"_s
                              << u"10 bajtova, 100 bitova, na liniji 868 us\n"
                                 u"Perioda 100 ms, linija zauzeta 0,9 %"_s;
    QTest::newRow("one byte, outlasting") << u"55"_s << u"110"_s << u"50"_s
                                          << u"1 bajt, 10 bitova, na liniji 90,9 ms\n"
                                             u"Perioda 50 ms, linija zauzeta 182 %\n"
                                             u"Povorka traje duze od periode!"_s;
    QTest::newRow("three bytes") << u"01 02 03"_s << u"1200"_s << u"0"_s
                                 << u"3 bajta, 30 bitova, na liniji 25,0 ms\n"
                                    u"Perioda 0 ms: Ponavljanje nista ne salje"_s;
    QTest::newRow("bad rate and period, empty train") << u""_s << u"brzo"_s << u"x"_s
                                                      << u"0 bajtova, 0 bitova\n"
                                                         u"Perioda: nije broj od 0 do 32767\n"
                                                         u"b/s: nije brzina koju port prima\n"
                                                         u"Prazna povorka: nista se ne salje"_s;
    QString full;
    for (int i = 0; i < 1001; ++i)
        full += u"00 "_s;
    full.chop(1);
    QTest::newRow("fits Jednom, not Ponavljanje") << full << u"115200"_s << u"1000"_s
                                                  << u"1001 bajt, 10010 bitova, na liniji 86,9 ms\n"
                                                     u"Perioda 1000 ms, linija zauzeta 8,7 %\n"
                                                     u"Ponavljanje prima najvise 1000 bajtova\n"
                                                     u"Na slici prvih 10 bajtova, jos 991"_s;
}

void tst_Waveform::texts()
{
    QFETCH(QString, train);
    QFETCH(QString, rate);
    QFETCH(QString, period);
    QFETCH(QString, expected);
    const QString text = summaryText(summarizeLine(train, rate, period, 10));
    QCOMPARE(text, expected);
    for (const QChar c : text)
        QVERIFY2(c.unicode() < 128, "operator texts are ASCII");
}

void tst_Waveform::formats_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("duration");
    QTest::newRow("zero") << 0.0 << u"0 s"_s;
    QTest::newRow("one bit at 115200") << 1.0 / 115200 << u"8,68 us"_s;
    QTest::newRow("just under a millisecond") << 999.4e-6 << u"999 us"_s;
    QTest::newRow("rounds up into ms, never 1000 us") << 999.7e-6 << u"1,00 ms"_s;
    QTest::newRow("tens of ms") << 0.0104166 << u"10,4 ms"_s;
    QTest::newRow("rounds up into s") << 0.9996 << u"1,00 s"_s;
    QTest::newRow("long") << 91.0 << u"91,0 s"_s;
}

void tst_Waveform::formats()
{
    QFETCH(double, seconds);
    QFETCH(QString, duration);
    QCOMPARE(formatDuration(seconds), duration);
}

QTEST_GUILESS_MAIN(tst_Waveform)
#include "tst_waveform.moc"
