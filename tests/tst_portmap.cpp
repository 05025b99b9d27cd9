// SPDX-License-Identifier: MIT
#include "serial/portmap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

// Port numbers to devices: the operator's links first, then the ports present in their order.
// Devices here are plain files in a temporary folder; nothing is opened.
class tst_PortMap : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void ordered_data();
    void ordered();
    void locate_data();
    void locate();

private:
    QTemporaryDir m_dir;
    QString m_dev; // the devices' folder, links resolved, with a slash
};

void tst_PortMap::initTestCase()
{
#ifdef Q_OS_WIN
    QSKIP("COM<N> needs no mapping on this platform");
#endif
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
    QTest::addColumn<qint16>("number");
    QTest::addColumn<QString>("expected"); // empty: no such port
    QTest::addColumn<bool>("listed");      // the system's ports were asked for (slow)
    QTest::newRow("link wins over counting, no listing") << qint16(1) << m_dev + "adapter" << false;
    QTest::newRow("no link: ports present in order")
        << qint16(3) << QStringLiteral("/dev/ttyUSB0") << true;
    QTest::newRow("links resolved to the device") << qint16(5) << m_dev + "ttyUSB7" << false;
    QTest::newRow("dangling link: no counting, the list for the message")
        << qint16(2) << QString() << true;
    QTest::newRow("beyond the ports present") << qint16(4) << QString() << true;
    QTest::newRow("below one") << qint16(0) << QString() << true;
}

void tst_PortMap::locate()
{
    QFETCH(qint16, number);
    QFETCH(QString, expected);
    QFETCH(bool, listed);
    int listings = 0;
    const PortMap map(
        [&listings] {
            ++listings;
            return QStringList{"/dev/ttyUSB0", "/dev/ttyS1", "/dev/ttyS0"};
        },
        m_dir.filePath(QStringLiteral("links")));
    const PortLocation where = map.locate(number);
    QCOMPARE(where.device, expected);
    QCOMPARE(listings, listed ? 1 : 0);
    const QStringList present{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyUSB0"};
    QCOMPARE(where.present, listed ? present : QStringList());
}

QTEST_GUILESS_MAIN(tst_PortMap)
#include "tst_portmap.moc"
