// SPDX-License-Identifier: MIT
#include "train/decoder.h"

#include <QTest>

class tst_Decoder : public QObject
{
    Q_OBJECT

private slots:
    void token_data();
    void token();
    void walk_data();
    void walk();
    void walkLeavesTheRestOfTheBuffer();
    void limits_data();
    void limits();
};

namespace {

QByteArray sent(const PovorkaBuffer &povorka, int count)
{
    return QByteArray(reinterpret_cast<const char *>(povorka.data()), count);
}

} // namespace

// The token cases: the walk decodes each token through HexStringToChar, so they hold for both.
void tst_Decoder::token_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<int>("value");
    QTest::newRow("empty") << QString() << 0;
    QTest::newRow("F0") << QStringLiteral("F0") << 0xF0;
    QTest::newRow("09") << QStringLiteral("09") << 0x09;
    QTest::newRow("lower f0 is no digit") << QStringLiteral("f0") << 0x00;
    QTest::newRow("lower 0f is no digit") << QStringLiteral("0f") << 0x00;
    QTest::newRow("fF") << QStringLiteral("fF") << 0x0F;
    QTest::newRow("G7: non-digit high") << QStringLiteral("G7") << 0x07;
    QTest::newRow("7G: non-digit low") << QStringLiteral("7G") << 0x70;
    QTest::newRow("lone char is high digit") << QStringLiteral("F") << 0xF0;
    QTest::newRow("third char never looked at") << QStringLiteral("1AF") << 0x1A;
    QTest::newRow("digit-like full-width") << QStringLiteral(u"\uff111") << 0x01;
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
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("any separator") << QStringLiteral("FF,00-7E") << QByteArray("\xFF\x00\x7E", 3);
    QTest::newRow("F0 F: a last lone char") << QStringLiteral("F0 F") << QByteArray("\xF0\xF0", 2);
    QTest::newRow("no separators") << QStringLiteral("F0F0") << QByteArray("\xF0\x00", 2);
    QTest::newRow("one trailing space") << QStringLiteral("F0 F0 ") << QByteArray("\xF0\xF0", 2);
    QTest::newRow("two trailing spaces")
        << QStringLiteral("F0 F0  ") << QByteArray("\xF0\xF0\x00", 3);
    QTest::newRow("leading space shifts tokens") << QStringLiteral(" F0") << QByteArray("\x0F", 1);
    // A letter outside the BMP is one character, so it separates like any other.
    QTest::newRow("emoji separator")
        << QStringLiteral(u"1A\U0001F6002B") << QByteArray("\x1A\x2B", 2);
}

void tst_Decoder::walk()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    PovorkaBuffer povorka{};
    qint16 count = -1;
    QVERIFY(!walkTrain(text, Terminator::None, povorka, count));
    QCOMPARE(sent(povorka, count), bytes);
    QCOMPARE(trainByteCount(text), qint64(bytes.size()));
}

// Only the walked slots change, plus the terminating zero of a repetition.
void tst_Decoder::walkLeavesTheRestOfTheBuffer()
{
    PovorkaBuffer povorka;
    povorka.fill(0xAA);
    qint16 count = 0;
    QVERIFY(!walkTrain(QStringLiteral("11 22 33"), Terminator::None, povorka, count));
    QCOMPARE(sent(povorka, 4), QByteArray("\x11\x22\x33\xAA", 4));
    QVERIFY(!walkTrain(QStringLiteral("55"), Terminator::Zero, povorka, count));
    QCOMPARE(int(count), 1);
    QCOMPARE(sent(povorka, 4), QByteArray("\x55\x00\x33\xAA", 4));
    QVERIFY(!walkTrain(QString(), Terminator::Zero, povorka, count));
    QCOMPARE(int(count), 0);
    QCOMPARE(int(povorka[0]), 0);
}

void tst_Decoder::limits_data()
{
    QTest::addColumn<int>("bytes");
    QTest::addColumn<bool>("zero");
    QTest::addColumn<bool>("fits");
    QTest::newRow("once 1001") << 1001 << false << true;
    QTest::newRow("once 1002") << 1002 << false << false;
    QTest::newRow("repeat 1000") << 1000 << true << true;
    QTest::newRow("repeat 1001") << 1001 << true << false;
    QTest::newRow("far too long") << 70000 << false << false;
}

void tst_Decoder::limits()
{
    QFETCH(int, bytes);
    QFETCH(bool, zero);
    QFETCH(bool, fits);
    const QString text = QStringLiteral("5A ").repeated(bytes).chopped(1);
    PovorkaBuffer povorka;
    povorka.fill(0x33);
    const PovorkaBuffer before = povorka;
    qint16 count = 7;
    const auto refusal =
        walkTrain(text, zero ? Terminator::Zero : Terminator::None, povorka, count);
    QCOMPARE(!refusal, fits);
    if (fits) {
        QCOMPARE(int(count), bytes);
        QCOMPARE(int(povorka[size_t(bytes - 1)]), 0x5A);
        if (zero)
            QCOMPARE(int(povorka[size_t(bytes)]), 0);
    } else { // a refused walk changes nothing
        QCOMPARE(int(count), 7);
        QVERIFY(povorka == before);
        QCOMPARE(refusal->bytes, qint64(bytes));
        QCOMPARE(refusal->capacity, zero ? 1000 : 1001);
    }
}

QTEST_APPLESS_MAIN(tst_Decoder)
#include "tst_decoder.moc"
