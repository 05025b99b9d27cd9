#include "fakes.h"
#include "serial/commcontrol.h"

#include <QTest>

// The port object's own rules, over a fake device: what it keeps while closed, what it
// validates, and when it lets go of a device.
class tst_CommControl : public QObject
{
    Q_OBJECT

private slots:
    void lineFlagsKeptWhileClosedAndAppliedAtOpen();
    void lineFlagsWhileOpenGoStraightToTheDevice();
    void settings_data();
    void settings();
    void portNumberBelowOne_data();
    void portNumberBelowOne();
    void portNumberKeptWhileOpen();
    void outputOnAClosedPort();
    void failedWriteForgetsTheDevice();
    void failedOpenLeavesThePortClosed();
    void missingPortNamesThePortsPresent();
};

void tst_CommControl::lineFlagsKeptWhileClosedAndAppliedAtOpen()
{
    auto line = std::make_shared<FakeLine>();
    auto port = makeFakePort(line);
    QCOMPARE(port->setDTREnable(false), std::nullopt);
    QCOMPARE(port->setRTSEnable(true), std::nullopt);
    QVERIFY(line->calls.isEmpty()); // nothing to tell while closed

    QCOMPARE(port->setPortOpen(true), std::nullopt);
    QCOMPARE(line->calls.last(), QStringLiteral("open /dev/ttyUSB0 9600 dtr=0 rts=1"));
    QCOMPARE(port->setPortOpen(false), std::nullopt);

    QCOMPARE(port->setDTREnable(true), std::nullopt);
    QVERIFY(port->DTREnable());
    QCOMPARE(port->setPortOpen(true), std::nullopt);
    QCOMPARE(line->calls.last(), QStringLiteral("open /dev/ttyUSB0 9600 dtr=1 rts=1"));
    QCOMPARE(line->calls.count(QStringLiteral("dtr 1")), 0);
}

void tst_CommControl::lineFlagsWhileOpenGoStraightToTheDevice()
{
    auto line = std::make_shared<FakeLine>();
    auto port = makeFakePort(line);
    QCOMPARE(port->setPortOpen(true), std::nullopt);
    QCOMPARE(port->setRTSEnable(true), std::nullopt);
    QCOMPARE(port->setDTREnable(false), std::nullopt);
    QCOMPARE(line->calls.mid(1), (QStringList{"rts 1", "dtr 0"}));
    QVERIFY(port->RTSEnable());
    QVERIFY(!port->DTREnable());
}

void tst_CommControl::settings_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("standard rate") << QStringLiteral("9600,n,8,1") << true;
    QTest::newRow("non-standard rate") << QStringLiteral("250000,n,8,1") << true;
    QTest::newRow("odd rate") << QStringLiteral("12345,n,8,1") << true;
    QTest::newRow("largest 32-bit rate") << QStringLiteral("2147483647,n,8,1") << true;
    QTest::newRow("zero") << QStringLiteral("0,n,8,1") << false;
    QTest::newRow("negative") << QStringLiteral("-5,n,8,1") << false;
    QTest::newRow("digits and a letter") << QStringLiteral("12a,n,8,1") << false;
    QTest::newRow("empty rate") << QStringLiteral(",n,8,1") << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("beyond 32 bits") << QStringLiteral("2147483648,n,8,1") << false;
    QTest::newRow("fraction") << QStringLiteral("9600.5,n,8,1") << false;
    QTest::newRow("two stop bits") << QStringLiteral("9600,n,8,2") << false;
}

void tst_CommControl::settings()
{
    QFETCH(QString, settings);
    QFETCH(bool, accepted);
    auto line = std::make_shared<FakeLine>();
    auto port = makeFakePort(line);
    const QString before = port->settings();
    const auto failure = port->setSettings(settings);
    QCOMPARE(!failure, accepted);
    if (accepted) {
        QCOMPARE(port->settings(), settings);
        return;
    }
    QCOMPARE(failure->number, PortError::BadBitRate);
    QCOMPARE(failure->source, kSourcePort);
    QCOMPARE(port->settings(), before); // a refused text changes nothing
}

void tst_CommControl::portNumberBelowOne_data()
{
    QTest::addColumn<qint16>("number");
    QTest::newRow("zero") << qint16(0);
    QTest::newRow("negative") << qint16(-5);
    QTest::newRow("smallest") << qint16(-32768);
}

void tst_CommControl::portNumberBelowOne()
{
    QFETCH(qint16, number);
    auto line = std::make_shared<FakeLine>();
    auto port = makeFakePort(line);
    QCOMPARE(port->setCommPort(2), std::nullopt);
    const auto failure = port->setCommPort(number);
    QVERIFY(failure);
    QCOMPARE(failure->number, PortError::PortBelowOne);
    QCOMPARE(port->commPort(), qint16(2));
}

void tst_CommControl::portNumberKeptWhileOpen()
{
    auto line = std::make_shared<FakeLine>();
    auto port = makeFakePort(line);
    QCOMPARE(port->setCommPort(2), std::nullopt);
    QCOMPARE(port->setPortOpen(true), std::nullopt);
    QVERIFY(port->setCommPort(3));
    QCOMPARE(port->commPort(), qint16(2));
    QCOMPARE(port->openDevice(), QStringLiteral("/dev/ttyUSB1"));
}

void tst_CommControl::outputOnAClosedPort()
{
    auto line = std::make_shared<FakeLine>();
    auto port = makeFakePort(line);
    const auto failure = port->setOutput(QByteArray("\x01", 1));
    QVERIFY(failure);
    QCOMPARE(failure->number, PortError::PortClosed);
    QVERIFY(line->writes.isEmpty());
}

void tst_CommControl::failedWriteForgetsTheDevice()
{
    auto line = std::make_shared<FakeLine>();
    auto port = makeFakePort(line);
    QCOMPARE(port->setPortOpen(true), std::nullopt);
    line->failWrite = PortFailure{PortError::DeviceGone, QStringLiteral("nestao"), kSourcePort};
    const auto failure = port->setOutput(QByteArray("\x01", 1));
    QVERIFY(failure);
    QCOMPARE(failure->number, PortError::DeviceGone);
    QVERIFY(!port->portOpen());
    QVERIFY(port->openDevice().isEmpty());
    QCOMPARE(port->setPortOpen(false), std::nullopt); // nothing left to close

    line->failWrite.reset();
    QCOMPARE(port->setPortOpen(true), std::nullopt); // the next set-up opens anew
    QCOMPARE(line->opens, 2);
}

void tst_CommControl::failedOpenLeavesThePortClosed()
{
    auto line = std::make_shared<FakeLine>();
    auto port = makeFakePort(line);
    line->failOpen = PortFailure{PortError::PortInUse, QStringLiteral("zauzet"), kSourcePort};
    const auto failure = port->setPortOpen(true);
    QVERIFY(failure);
    QCOMPARE(failure->number, PortError::PortInUse);
    QVERIFY(!port->portOpen());
    QVERIFY(port->openDevice().isEmpty());
}

void tst_CommControl::missingPortNamesThePortsPresent()
{
    auto line = std::make_shared<FakeLine>();
    auto port = makeFakePort(line, 2);
    QCOMPARE(port->setCommPort(3), std::nullopt);
    const auto failure = port->setPortOpen(true);
    QVERIFY(failure);
    QCOMPARE(failure->number, PortError::NoSuchPort);
    QVERIFY2(failure->description.contains(QStringLiteral("/dev/ttyUSB0, /dev/ttyUSB1")),
             qPrintable(failure->description));
    QVERIFY(line->calls.isEmpty()); // no device was even made
}

QTEST_GUILESS_MAIN(tst_CommControl)
#include "tst_commcontrol.moc"
