#include "train/waveform.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString kTen = u"F0 F0 F0 F0 F0 F0 F0 F0 F0 F0"_s;

QString zeros(int count)
{
    return QStringList(count, u"00"_s).join(u' ');
}

} // namespace

class tst_Waveform : public QObject
{
    Q_OBJECT

private slots:
    void bits_data();
    void bits();
    void durations();
    void summary_data();
    void summary();
};

void tst_Waveform::bits_data()
{
    QTest::addColumn<QString>("train");
    QTest::addColumn<QString>("expected"); // one character per bit time, as a scope shows it
    QTest::newRow("F0: five low, five high") << u"F0"_s << u"0000011111"_s;
    QTest::newRow("00: nine low, then high") << u"00"_s << u"0000000001"_s;
    QTest::newRow("55 alternates") << u"55"_s << u"0101010101"_s;
    QTest::newRow("the first two of a longer train")
        << u"FF 01 55 55"_s << u"01111111110100000001"_s;
}

void tst_Waveform::bits()
{
    QFETCH(QString, train);
    QFETCH(QString, expected);
    QString levels;
    for (const bool bit : lineBits(summarizeLine(train, u"9600"_s, u"1"_s, 2).firstBytes))
        levels += bit ? u'1' : u'0';
    QCOMPARE(levels, expected);
}

void tst_Waveform::durations()
{
    QCOMPARE(bitSeconds(115200), 1.0 / 115200);
    QCOMPARE(trainSeconds(10, 115200), 100.0 / 115200);
    QCOMPARE(trainSeconds(1001, 110), 10010.0 / 110);
    // Rounding up must move to the next unit, never write "1000 us".
    QCOMPARE(formatDuration(999.4e-6), u"999 us"_s);
    QCOMPARE(formatDuration(999.7e-6), u"1,00 ms"_s);
    QCOMPARE(formatDuration(0.9996), u"1,00 s"_s);
}

void tst_Waveform::summary_data()
{
    QTest::addColumn<QString>("train");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QString>("period");
    QTest::addColumn<double>("busy"); // -1: none
    QTest::addColumn<bool>("outlasts");
    QTest::addColumn<QString>("text");
    QTest::newRow("defaults") << kTen << u"115200"_s << u"100"_s << 100 / 11520.0 << false
                              << u"10 bajtova, 100 bitova, na liniji 868 us\n"
                                 u"Perioda 100 ms, linija zauzeta 0,9 %"_s;
    QTest::newRow("10 ms is too short") << kTen << u"9600"_s << u"10"_s << 100 / 96.0 << true
                                        << u"10 bajtova, 100 bitova, na liniji 10,4 ms\n"
                                           u"Perioda 10 ms, linija zauzeta 104 %\n"
                                           u"Povorka traje duze od periode!"_s;
    QTest::newRow("11 ms is enough") << kTen << u"9600"_s << u"11"_s << 100 / 105.6 << false
                                     << u"10 bajtova, 100 bitova, na liniji 10,4 ms\n"
                                        u"Perioda 11 ms, linija zauzeta 95 %"_s;
    QTest::newRow("exactly the period is no overrun")
        << u"55"_s << u"1000"_s << u"10"_s << 1.0 << false
        << u"1 bajt, 10 bitova, na liniji 10,0 ms\nPerioda 10 ms, linija zauzeta 100 %"_s;
    QTest::newRow("period 0") << u"01 02 03"_s << u"1200"_s << u"0"_s << -1.0 << false
                              << u"3 bajta, 30 bitova, na liniji 25,0 ms\n"
                                 u"Perioda 0 ms: Ponavljanje nista ne salje"_s;
    // The rate text is refused as the set-up refuses it, with ",n,8,1" after it.
    QTest::newRow("bad fields give notes") << u""_s << u"9600,n,8,1"_s << u"-5"_s << -1.0 << false
                                           << u"0 bajtova, 0 bitova\n"
                                              u"Perioda: nije broj od 0 do 32767\n"
                                              u"b/s: nije brzina koju port prima\n"
                                              u"Prazna povorka: nista se ne salje"_s;
    QTest::newRow("fits Jednom, not Ponavljanje")
        << zeros(1001) << u"115200"_s << u"1000"_s << 10010 / 115200.0 << false
        << u"1001 bajt, 10010 bitova, na liniji 86,9 ms\nPerioda 1000 ms, linija zauzeta 8,7 %\n"
           u"Ponavljanje prima najvise 1000 bajtova\nNa slici prvih 10 bajtova, jos 991"_s;
    QTest::newRow("too long for both")
        << zeros(1002) << u"115200"_s << u"1000"_s << 10020 / 115200.0 << false
        << u"1002 bajta, 10020 bitova, na liniji 87,0 ms\nPerioda 1000 ms, linija zauzeta 8,7 %\n"
           u"Preduga povorka: najvise 1001 bajt\nNa slici prvih 10 bajtova, jos 992"_s;
}

void tst_Waveform::summary()
{
    QFETCH(QString, train);
    QFETCH(QString, rate);
    QFETCH(QString, period);
    QFETCH(double, busy);
    QFETCH(bool, outlasts);
    QFETCH(QString, text);
    const LineSummary summary = summarizeLine(train, rate, period, 10);
    QCOMPARE(summary.busyFraction().value_or(-1.0), busy);
    QCOMPARE(summary.outlastsPeriod(), outlasts);
    QCOMPARE(summaryText(summary), text);
}

QTEST_GUILESS_MAIN(tst_Waveform)
#include "tst_waveform.moc"
