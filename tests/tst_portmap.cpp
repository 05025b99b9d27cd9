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
    void countsThePortsPresent_data();
    void countsThePortsPresent();
    void linkWinsOverCounting();
    void linksAreResolvedToTheRealDevice();
    void danglingLinkIsAMissingPort();
    void numberBeyondThePortsPresent();
    void numberBelowOneLeadsNowhere();
    void defaultFolderFollowsXdgConfigHome();

private:
    QString makeDevice(const QString &name);
    void link(const QString &target, const QString &name);
    PortMap mapWith(const QStringList &ports) const;

    QTemporaryDir m_dir;
};

void tst_PortMap::initTestCase()
{
#ifdef Q_OS_WIN
    QSKIP("COM<N> needs no mapping on this platform");
#endif
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("links")));
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("dev")));
}

QString tst_PortMap::makeDevice(const QString &name)
{
    const QString path = m_dir.filePath(QStringLiteral("dev/") + name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    return QFileInfo(path).canonicalFilePath();
}

void tst_PortMap::link(const QString &target, const QString &name)
{
    const QString path = m_dir.filePath(QStringLiteral("links/") + name);
    QFile::remove(path);
    QVERIFY(QFile::link(target, path));
}

PortMap tst_PortMap::mapWith(const QStringList &ports) const
{
    return PortMap([ports] { return ports; }, m_dir.filePath(QStringLiteral("links")));
}

void tst_PortMap::ordered_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("groups in their order")
        << QStringList{"/dev/ttyACM0", "/dev/rfcomm0", "/dev/ttyUSB0", "/dev/ttyS0"}
        << QStringList{"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyACM0", "/dev/rfcomm0"};
    QTest::newRow("by number, not by text")
        << QStringList{"/dev/ttyUSB10", "/dev/ttyUSB2", "/dev/ttyUSB1"}
        << QStringList{"/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB10"};
    QTest::newRow("ttyS is not any name starting so")
        << QStringList{"/dev/ttySAC0", "/dev/ttyS1"} << QStringList{"/dev/ttyS1", "/dev/ttySAC0"};
    QTest::newRow("rest grouped by name, then number")
        << QStringList{"/dev/ttyAMA1", "/dev/rfcomm2", "/dev/ttyAMA0", "/dev/rfcomm1"}
        << QStringList{"/dev/rfcomm1", "/dev/rfcomm2", "/dev/ttyAMA0", "/dev/ttyAMA1"};
    QTest::newRow("one USB adapter, no UART")
        << QStringList{"/dev/ttyUSB0"} << QStringList{"/dev/ttyUSB0"};
    QTest::newRow("none") << QStringList{} << QStringList{};
}

void tst_PortMap::ordered()
{
    QFETCH(QStringList, present);
    QFETCH(QStringList, expected);
    QCOMPARE(PortMap::ordered(present), expected);
}

void tst_PortMap::countsThePortsPresent_data()
{
    QTest::addColumn<qint16>("number");
    QTest::addColumn<QString>("device");
    QTest::newRow("1 is the UART") << qint16(1) << QStringLiteral("/dev/ttyS0");
    QTest::newRow("2 the first USB adapter") << qint16(2) << QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("4 the modem") << qint16(4) << QStringLiteral("/dev/ttyACM0");
}

void tst_PortMap::countsThePortsPresent()
{
    QFETCH(qint16, number);
    QFETCH(QString, device);
    const PortMap map = mapWith({"/dev/ttyACM0", "/dev/ttyUSB1", "/dev/ttyUSB0", "/dev/ttyS0"});
    const PortLocation where = map.locate(number);
    QCOMPARE(where.number, number);
    QCOMPARE(where.device, device);
    QCOMPARE(where.present.size(), 4);
}

void tst_PortMap::linkWinsOverCounting()
{
    const QString adapter = makeDevice(QStringLiteral("adapter"));
    link(adapter, QStringLiteral("com1"));
    const PortLocation where = mapWith({"/dev/ttyS0"}).locate(1);
    QCOMPARE(where.device, adapter);
    QVERIFY(where.tried.contains(QStringLiteral("com1")));
    // Numbers without a link still count the ports present.
    QCOMPARE(mapWith({"/dev/ttyS0", "/dev/ttyS1"}).locate(2).device, QStringLiteral("/dev/ttyS1"));
}

void tst_PortMap::linksAreResolvedToTheRealDevice()
{
    const QString real = makeDevice(QStringLiteral("ttyUSB7"));
    // by-id style: a link to a link to the device, and a second number for the same device
    const QString byId = m_dir.filePath(QStringLiteral("dev/usb-Vendor_Serial-if00"));
    QFile::remove(byId);
    QVERIFY(QFile::link(real, byId));
    link(byId, QStringLiteral("com5"));
    link(real, QStringLiteral("com6"));

    const PortMap map = mapWith({});
    QCOMPARE(map.locate(5).device, real);
    QCOMPARE(map.locate(6).device, map.locate(5).device);
}

void tst_PortMap::danglingLinkIsAMissingPort()
{
    link(m_dir.filePath(QStringLiteral("dev/unplugged")), QStringLiteral("com2"));
    const PortLocation where = mapWith({"/dev/ttyS0", "/dev/ttyS1"}).locate(2);
    QVERIFY(!where.exists()); // no falling back to the second port present
    QVERIFY(where.tried.contains(QStringLiteral("unplugged")));
    QCOMPARE(where.present, (QStringList{"/dev/ttyS0", "/dev/ttyS1"}));
}

void tst_PortMap::numberBeyondThePortsPresent()
{
    const PortLocation where = mapWith({"/dev/ttyUSB0"}).locate(3);
    QVERIFY(!where.exists());
    QVERIFY(where.tried.contains(QStringLiteral("com3")));
    QCOMPARE(where.present, QStringList{"/dev/ttyUSB0"});
}

void tst_PortMap::numberBelowOneLeadsNowhere()
{
    const PortMap map = mapWith({"/dev/ttyUSB0"});
    QVERIFY(!map.locate(0).exists());
    QVERIFY(!map.locate(-1).exists());
}

void tst_PortMap::defaultFolderFollowsXdgConfigHome()
{
    const QString config = m_dir.filePath(QStringLiteral("config"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    QCOMPARE(PortMap::defaultLinkFolder(), config + QStringLiteral("/vorlagen"));

    QVERIFY(QDir().mkpath(config + QStringLiteral("/vorlagen")));
    const QString device = makeDevice(QStringLiteral("ttyUSB3"));
    QVERIFY(QFile::link(device, config + QStringLiteral("/vorlagen/com12")));
    QCOMPARE(PortMap().locate(12).device, device);
}

QTEST_GUILESS_MAIN(tst_PortMap)
#include "tst_portmap.moc"
