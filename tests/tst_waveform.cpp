// SPDX-License-Identifier: MIT
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
    void durations();
    void summary_data();
    void summary();
};

// Rounding up must move to the next unit, never write "1000 us".
void tst_Waveform::durations()
{
    QCOMPARE(formatDuration(999.4e-6), u"999 us"_s);
    QCOMPARE(formatDuration(999.7e-6), u"1,00 ms"_s);
    QCOMPARE(formatDuration(0.9996), u"1,00 s"_s);
}

void tst_Waveform::summary_data()
{
    QTest::addColumn<QString>("train");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QString>("period");
    QTest::addColumn<bool>("outlasts");
    QTest::addColumn<QString>("text");
    QTest::newRow("10 ms is too short") << kTen << u"9600"_s << u"10"_s << true
                                        << u"10 bajtova, 100 bitova, na liniji 10,4 ms\n"
                                           u"Perioda 10 ms, linija zauzeta 104 %\n"
                                           u"Povorka traje duze od periode!"_s;
    QTest::newRow("exactly the period is no overrun")
        << u"55"_s << u"1000"_s << u"10"_s << false
        << u"1 bajt, 10 bitova, na liniji 10,0 ms\nPerioda 10 ms, linija zauzeta 100 %"_s;
    QTest::newRow("period 0") << u"01 02 03"_s << u"1200"_s << u"0"_s << false
                              << u"3 bajta, 30 bitova, na liniji 25,0 ms\n"
                                 u"Perioda 0 ms: Ponavljanje nista ne salje"_s;
    // The rate text is refused as the set-up refuses it, with ",n,8,1" after it.
    QTest::newRow("bad fields give notes") << u""_s << u"9600,n,8,1"_s << u"-5"_s << false
                                           << u"0 bajtova, 0 bitova\n"
                                              u"Perioda: nije broj od 0 do 32767\n"
                                              u"b/s: nije brzina koju port prima\n"
                                              u"Prazna povorka: nista se ne salje"_s;
    QTest::newRow("fits Jednom, not Ponavljanje")
        << zeros(1001) << u"115200"_s << u"1000"_s << false
        << u"1001 bajt, 10010 bitova, na liniji 86,9 ms\nPerioda 1000 ms, linija zauzeta 8,7 %\n"
           u"Ponavljanje prima najvise 1000 bajtova\nNa slici prvih 10 bajtova, jos 991"_s;
    QTest::newRow("too long for both")
        << zeros(1002) << u"115200"_s << u"1000"_s << false
        << u"1002 bajta, 10020 bitova, na liniji 87,0 ms\nPerioda 1000 ms, linija zauzeta 8,7 %\n"
           u"Preduga povorka: najvise 1001 bajt\nNa slici prvih 10 bajtova, jos 992"_s;
}

void tst_Waveform::summary()
{
    QFETCH(QString, train);
    QFETCH(QString, rate);
    QFETCH(QString, period);
    QFETCH(bool, outlasts);
    QFETCH(QString, text);
    const LineSummary summary = summarizeLine(train, rate, period, 10);
    QCOMPARE(summary.outlastsPeriod(), outlasts);
    QCOMPARE(summaryText(summary), text);
}

QTEST_GUILESS_MAIN(tst_Waveform)
#include "tst_waveform.moc"
