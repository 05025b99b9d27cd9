// SPDX-License-Identifier: MIT
#include "train/decoder.h"

#include <QTest>

using namespace Qt::StringLiterals;

class tst_Decoder : public QObject
{
    Q_OBJECT

private slots:
    void token_data();
    void token();
    void walk_data();
    void walk();
};

// The token cases: the walk decodes each token through HexStringToChar, so they hold for both.
void tst_Decoder::token_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<int>("value");
    QTest::newRow("09") << u"09"_s << 0x09;
    QTest::newRow("fF: lower case is no digit") << u"fF"_s << 0x0F;
    QTest::newRow("G7: non-digit high") << u"G7"_s << 0x07;
    QTest::newRow("7G: non-digit low") << u"7G"_s << 0x70;
    QTest::newRow("lone char is high digit") << u"F"_s << 0xF0;
    QTest::newRow("digit-like full-width") << u"\uff111"_s << 0x01;
}

void tst_Decoder::token()
{
    QFETCH(QString, token);
    QFETCH(int, value);
    QCOMPARE(int(HexStringToChar(token)), value);
}

// Where the walk cuts the text: every third character, whatever it is.
void tst_Decoder::walk_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("any separator") << u"FF,00-7E"_s << QByteArray("\xFF\x00\x7E", 3);
    QTest::newRow("F0 F: a last lone char") << u"F0 F"_s << QByteArray("\xF0\xF0", 2);
    QTest::newRow("no separators") << u"F0F0"_s << QByteArray("\xF0\x00", 2);
    QTest::newRow("one trailing space") << u"F0 F0 "_s << QByteArray("\xF0\xF0", 2);
    QTest::newRow("two trailing spaces") << u"F0 F0  "_s << QByteArray("\xF0\xF0\x00", 3);
    QTest::newRow("leading space shifts tokens") << u" F0"_s << QByteArray("\x0F", 1);
    // A letter outside the BMP is one character, so it separates like any other.
    QTest::newRow("emoji separator") << u"1A\U0001F6002B"_s << QByteArray("\x1A\x2B", 2);
}

void tst_Decoder::walk()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    PovorkaBuffer povorka{};
    qint16 count = -1;
    QVERIFY(!walkTrain(text, Terminator::None, povorka, count));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(povorka.data()), count), bytes);
    QCOMPARE(trainByteCount(text), qint64(bytes.size()));
}

QTEST_APPLESS_MAIN(tst_Decoder)
#include "tst_decoder.moc"
