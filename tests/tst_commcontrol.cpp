// SPDX-License-Identifier: MIT
#include "fakes.h"
#include "serial/commcontrol.h"

#include <QSignalSpy>
#include <QTest>
#include <thread>

// The port object's own rules, over a fake device: what it keeps while closed and what it
// validates. Failures of real devices are in tst_serialdevice.
class tst_CommControl : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void settings_data();
    void settings();
    void portNumberWhileOpenIsRefused();
    void missingPortNamesThePortsPresent();
    void backgroundFailureReachesOnlyALivePort();

private:
    std::shared_ptr<FakeLine> m_line;
    std::unique_ptr<CommControl> m_port; // two ports present: /dev/ttyUSB0 and /dev/ttyUSB1
};

void tst_CommControl::init()
{
    m_line = std::make_shared<FakeLine>();
    m_port = std::make_unique<CommControl>(
        [line = m_line] { return std::make_unique<FakeDevice>(line); }, fakePortMap(2));
}

void tst_CommControl::settings_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("spaces around the rate") << QStringLiteral(" 9600 ,n,8,1") << true;
    QTest::newRow("largest 32-bit rate") << QStringLiteral("2147483647,n,8,1") << true;
    QTest::newRow("beyond 32 bits") << QStringLiteral("2147483648,n,8,1") << false;
    QTest::newRow("zero") << QStringLiteral("0,n,8,1") << false;
    QTest::newRow("digits and a letter") << QStringLiteral("12a,n,8,1") << false;
    QTest::newRow("two stop bits") << QStringLiteral("9600,n,8,2") << false;
}

void tst_CommControl::settings()
{
    QFETCH(QString, settings);
    QFETCH(bool, accepted);
    QCOMPARE(m_port->setSettings(QStringLiteral("4800,n,8,1")), std::nullopt);
    const auto failure = m_port->setSettings(settings);
    QCOMPARE(!failure, accepted);
    QCOMPARE(m_port->settings(), accepted ? settings : QStringLiteral("4800,n,8,1"));
    if (!accepted)
        QCOMPARE(failure->number, PortError::BadBitRate);
}

void tst_CommControl::portNumberWhileOpenIsRefused()
{
    QCOMPARE(m_port->setCommPort(2), std::nullopt);
    QCOMPARE(m_port->setPortOpen(true), std::nullopt);
    QVERIFY(m_port->setCommPort(1)); // no renumbering under an open device
    QCOMPARE(m_port->commPort(), qint16(2));
    QCOMPARE(m_port->openDevice(), QStringLiteral("/dev/ttyUSB1"));
}

void tst_CommControl::missingPortNamesThePortsPresent()
{
    QCOMPARE(m_port->setCommPort(3), std::nullopt);
    const auto failure = m_port->setPortOpen(true);
    QVERIFY(failure);
    QCOMPARE(failure->number, PortError::NoSuchPort);
    QCOMPARE(failure->description,
             QStringLiteral("Port 3 ne postoji (trazeno: /nonexistent-vorlagen-links/com3 ili 3. "
                            "prisutan port); postojeci portovi: /dev/ttyUSB0, /dev/ttyUSB1"));
    QVERIFY(!m_port->portOpen());
    QVERIFY(m_line->calls.isEmpty()); // no device was even made
}

// A device still draining reports from its own thread, also after the port object is gone.
void tst_CommControl::backgroundFailureReachesOnlyALivePort()
{
    QSignalSpy failed(m_port.get(), &CommControl::failedInBackground);
    QCOMPARE(m_port->setPortOpen(true), std::nullopt);
    const PortFailure lost{PortError::DeviceGone, QStringLiteral("x"), OperatorText::kSourcePort};
    std::thread([this, lost] { m_line->background(lost); }).join();
    QTRY_COMPARE(failed.size(), 1);

    // Nothing may reach the object that is gone: a post to it would be a use after its end,
    // which the sanitizer build of this test reports.
    m_port.reset();
    std::thread([this, lost] { m_line->background(lost); }).join();
    QCoreApplication::processEvents();
}

QTEST_GUILESS_MAIN(tst_CommControl)
#include "tst_commcontrol.moc"
