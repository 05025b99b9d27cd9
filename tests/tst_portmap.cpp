// SPDX-License-Identifier: MIT
#include "serial/portmap.h"
#include "serial/windowserrors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// Port numbers to devices: the operator's links first, then the ports present in their order;
// on Windows COM<N> as Windows lists it. Devices here are plain files in a temporary folder;
// nothing is opened. Also what Windows' error numbers mean on the way to a device.
class tst_PortMap : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void ordered_data();
    void ordered();
    void locate_data();
    void locate();
    void windowsErrors_data();
    void windowsErrors();

private:
    QTemporaryDir m_dir;
    QString m_dev; // the devices' folder, links resolved, with a slash
};

void tst_PortMap::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QDir dir(m_dir.path());
    QVERIFY(dir.mkpath("links") && dir.mkpath("dev"));
    QVERIFY(QFile(dir.filePath("dev/adapter")).open(QIODevice::WriteOnly));
    QVERIFY(QFile(dir.filePath("dev/ttyUSB7")).open(QIODevice::WriteOnly));
    m_dev = QFileInfo(dir.filePath("dev")).canonicalFilePath() + QLatin1Char('/');
    const auto link = [&dir](const char *name, const char *target) {
        return QFile::link(dir.filePath(target), dir.filePath(name));
    };
    QVERIFY(link("links/com1", "dev/adapter"));
    // by-id style: a link to a link to the device
    QVERIFY(link("dev/usb-Serial-if00", "dev/ttyUSB7"));
    QVERIFY(link("links/com5", "dev/usb-Serial-if00"));
    QVERIFY(link("links/com2", "dev/unplugged"));
    QVERIFY(link("links/com6", "links/com6")); // a link that points at itself
}

void tst_PortMap::ordered_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("expected");
    // ttyS, ttyUSB, ttyACM, then the rest; by number, not by text; ttySAC is no ttyS.
    QTest::newRow("groups in their order")
        << QStringList{"/dev/ttyACM0",  "/dev/rfcomm0", "/dev/ttySAC0",
                       "/dev/ttyUSB10", "/dev/ttyUSB2", "/dev/ttyS1"}
        << QStringList{"/dev/ttyS1",   "/dev/ttyUSB2", "/dev/ttyUSB10",
                       "/dev/ttyACM0", "/dev/rfcomm0", "/dev/ttySAC0"};
    QTest::newRow("rest grouped by name, then number")
        << QStringList{"/dev/ttyAMA1", "/dev/rfcomm2", "/dev/ttyAMA0", "/dev/rfcomm1"}
        << QStringList{"/dev/rfcomm1", "/dev/rfcomm2", "/dev/ttyAMA0", "/dev/ttyAMA1"};
}

void tst_PortMap::ordered()
{
    QFETCH(QStringList, present);
    QFETCH(QStringList, expected);
    QCOMPARE(PortMap::ordered(present), expected);
}

void tst_PortMap::locate_data()
{
    QTest::addColumn<bool>("comNames"); // the Windows way
    QTest::addColumn<qint16>("number");
    QTest::addColumn<QString>("expected"); // empty: no such port
    QTest::addColumn<bool>("listed");      // the system's ports were asked for (slow)
    const QString adapter = m_dev + "adapter";
    QTest::newRow("link wins over counting, no listing") << false << qint16(1) << adapter << false;
    QTest::newRow("no link: ports present in order")
        << false << qint16(3) << u"/dev/ttyUSB0"_s << true;
    QTest::newRow("links resolved to the device")
        << false << qint16(5) << m_dev + "ttyUSB7" << false;
    QTest::newRow("dangling link: no counting, the list for the message")
        << false << qint16(2) << QString() << true;
    QTest::newRow("link to itself: missing, no counting")
        << false << qint16(6) << QString() << true;
    QTest::newRow("beyond the ports present") << false << qint16(4) << QString() << true;
    QTest::newRow("below one") << false << qint16(0) << QString() << true;
    // Windows: the number names the port, which is there when listed; links play no part.
    QTest::newRow("COM listed") << true << qint16(10) << u"COM10"_s << true;
    QTest::newRow("COM listed in lower case") << true << qint16(3) << u"COM3"_s << true;
    QTest::newRow("COM not listed, link or not") << true << qint16(1) << QString() << true;
}

void tst_PortMap::locate()
{
    QFETCH(bool, comNames);
    QFETCH(qint16, number);
    QFETCH(QString, expected);
    QFETCH(bool, listed);
    int listings = 0;
    const QStringList ports = comNames ? QStringList{"COM10", "COM3", "COM2"}
                                       : QStringList{"/dev/ttyUSB0", "/dev/ttyS1", "/dev/ttyS0"};
    const PortMap map(
        [&] {
            ++listings;
            return ports;
        },
        m_dir.filePath(u"links"_s),
        comNames ? PortMap::Naming::ComNames : PortMap::Naming::Counted);
    const PortLocation where = map.locate(number);
    QCOMPARE(where.device, expected);
    QCOMPARE(listings, listed ? 1 : 0);
    const QStringList present = comNames ? QStringList{"COM2", "COM3", "COM10"}
                                         : QStringList{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyUSB0"};
    QCOMPARE(where.present, listed ? present : QStringList());
}

void tst_PortMap::windowsErrors_data()
{
    using Refusal = WindowsError::OpenRefusal;
    using Status = LineDriver::Status;
    QTest::addColumn<quint32>("error");
    QTest::addColumn<Status>("line");    // what a line call makes of it
    QTest::addColumn<Refusal>("atOpen"); // what a refused open makes of it
    // Unplugged adapters and hung-up lines, as drivers answer: the device is gone (301 once),
    // not a failed write (303 at every train); at the open the port is missing (201).
    QTest::newRow("file not found") << 2u << Status::Gone << Refusal::NoSuchPort;
    QTest::newRow("not ready (hung up)") << 21u << Status::Gone << Refusal::NotASerialPort;
    QTest::newRow("bad command") << 22u << Status::Gone << Refusal::NotASerialPort;
    QTest::newRow("general failure") << 31u << Status::Gone << Refusal::NoSuchPort;
    QTest::newRow("device not connected") << 1167u << Status::Gone << Refusal::NoSuchPort;
    QTest::newRow("device removed") << 1617u << Status::Gone << Refusal::NoSuchPort;
    QTest::newRow("operation aborted") << 995u << Status::Gone << Refusal::NotASerialPort;
    // Held by another program (202); no separate permission error on Windows.
    QTest::newRow("access denied") << 5u << Status::Gone << Refusal::InUse;
    QTest::newRow("sharing violation") << 32u << Status::Failed << Refusal::InUse;
    // What a device does not have, or a setting it refuses (a rate: 205).
    QTest::newRow("invalid parameter") << 87u << Status::Unsupported << Refusal::NotASerialPort;
    QTest::newRow("not supported") << 50u << Status::Unsupported << Refusal::NotASerialPort;
    QTest::newRow("anything else") << 1117u << Status::Failed << Refusal::NotASerialPort;
}

void tst_PortMap::windowsErrors()
{
    QFETCH(quint32, error);
    QFETCH(LineDriver::Status, line);
    QFETCH(WindowsError::OpenRefusal, atOpen);
    QCOMPARE(WindowsError::lineStatus(error), line);
    QCOMPARE(WindowsError::openRefusal(error), atOpen);
}

QTEST_GUILESS_MAIN(tst_PortMap)
#include "tst_portmap.moc"
