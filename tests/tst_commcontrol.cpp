// SPDX-License-Identifier: MIT
#include "fakes.h"
#include "serial/commcontrol.h"

#include <QSignalSpy>
#include <QTest>
#include <thread>

using namespace Qt::StringLiterals;

// The port object's own rules, over a fake device. Failures of real devices are in
// tst_serialdevice.
class tst_CommControl : public QObject
{
    Q_OBJECT

private slots:
    void init();

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

void tst_CommControl::portNumberWhileOpenIsRefused()
{
    QCOMPARE(m_port->setCommPort(2), std::nullopt);
    QCOMPARE(m_port->setPortOpen(true), std::nullopt);
    QVERIFY(m_port->setCommPort(1)); // no renumbering under an open device
    QCOMPARE(m_port->commPort(), qint16(2));
    QCOMPARE(m_port->openDevice(), u"/dev/ttyUSB1"_s);
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
    const PortFailure lost{PortError::DeviceGone, u"x"_s, OperatorText::kSourcePort};
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
