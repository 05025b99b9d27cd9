#include "app/vorlagen.h"
#include "fakes.h"
#include "pseudoterminal.h"
#include "serial/serialportdevice.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

constexpr int kWaitMs = 20000; // generous: a bound for slow machines, never a measure of speed
const QByteArray kDefaultTrain(10, char(0xF0));

} // namespace

// The whole program on a pseudo-terminal linked as a port number: the real window offscreen,
// the real port object and device, the real timer; only the message boxes are recorded.
class tst_EndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void jednomSendsTheDefaultTrainOnceAndCloses();
    void ponavljanjeSendsEveryPeriodFromOnePeriodOn();
    void editsWaitForPonavljanje();
    void unpluggingReportsOnceAndRecovers_data();
    void unpluggingReportsOnceAndRecovers();

private:
    void linkAsPort(const PseudoTerminal &pty);
    void set(const char *field, const QString &text);
    void click(const char *button);
    static int trainsIn(const QByteArray &bytes, const QByteArray &train);

    QTemporaryDir m_config;
    std::unique_ptr<PseudoTerminal> m_pty;
    QPointer<VorlaGen> m_window;
    RecordingMessenger m_messages;
};

void tst_EndToEnd::initTestCase()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    QVERIFY(QDir(m_config.path()).mkpath(QStringLiteral("vorlagen")));
}

void tst_EndToEnd::init()
{
    m_pty = std::make_unique<PseudoTerminal>();
    QVERIFY(m_pty->ok());
    linkAsPort(*m_pty);
    m_messages.boxes.clear();
    m_window = new VorlaGen();
    m_window->setMessenger(&m_messages);
    m_window->show();
    set("txtPort", QStringLiteral("7"));
}

void tst_EndToEnd::cleanup()
{
    delete m_window;
    // Every device is closed for good before the terminal goes.
    QTRY_COMPARE_WITH_TIMEOUT(SerialPortDevice::linesInUse(), 0, kWaitMs);
    m_pty.reset();
}

void tst_EndToEnd::linkAsPort(const PseudoTerminal &pty)
{
    const QString link = m_config.filePath(QStringLiteral("vorlagen/com7"));
    QFile::remove(link);
    QVERIFY(QFile::link(pty.path(), link));
}

void tst_EndToEnd::set(const char *field, const QString &text)
{
    auto *edit = m_window->findChild<QLineEdit *>(QLatin1String(field));
    QVERIFY(edit);
    edit->setText(text);
}

void tst_EndToEnd::click(const char *button)
{
    auto *b = m_window->findChild<QAbstractButton *>(QLatin1String(button));
    QVERIFY(b);
    QTest::mouseClick(b, Qt::LeftButton);
}

int tst_EndToEnd::trainsIn(const QByteArray &bytes, const QByteArray &train)
{
    if (bytes.size() % train.size() != 0)
        return -1;
    for (qsizetype at = 0; at < bytes.size(); at += train.size())
        if (bytes.mid(at, train.size()) != train)
            return -1;
    return int(bytes.size() / train.size());
}

void tst_EndToEnd::jednomSendsTheDefaultTrainOnceAndCloses()
{
    click("cmdJednom");
    QVERIFY(!m_window->port().portOpen());
    QTRY_COMPARE_WITH_TIMEOUT(m_pty->received(), kDefaultTrain, kWaitMs);
    // One write: the ten bytes came through the terminal together.
    QCOMPARE(m_pty->arrivals().size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(SerialPortDevice::linesInUse(), 0, kWaitMs);
    QCOMPARE(m_pty->received(), kDefaultTrain);
    QVERIFY(m_messages.boxes.isEmpty());
}

void tst_EndToEnd::ponavljanjeSendsEveryPeriodFromOnePeriodOn()
{
    set("txtPerioda", QStringLiteral("40"));
    const auto clicked = PseudoTerminal::Clock::now();
    click("cmdPonavljanje");
    QVERIFY(m_window->trainSender().isRepeating());
    QTRY_VERIFY_WITH_TIMEOUT(trainsIn(m_pty->received(), kDefaultTrain) >= 5, kWaitMs);
    click("cmdStop");
    QVERIFY(!m_window->trainSender().isRepeating());
    QVERIFY(!m_window->port().portOpen());

    const auto arrivals = m_pty->arrivals();
    // Nothing at the click: the first train no earlier than one period after it (a lower bound
    // only, which a slow machine cannot break).
    QVERIFY(arrivals.first().at - clicked >= 40ms);
    QTRY_COMPARE_WITH_TIMEOUT(SerialPortDevice::linesInUse(), 0, kWaitMs);
    const int sent = trainsIn(m_pty->received(), kDefaultTrain);
    QVERIFY(sent >= 5);
    QCOMPARE(quint64(sent), m_window->trainSender().trainsSent());
    // After "STOP" returned, no new train starts.
    QTest::qWait(150);
    QCOMPARE(trainsIn(m_pty->received(), kDefaultTrain), sent);
    QVERIFY(m_messages.boxes.isEmpty());
}

void tst_EndToEnd::editsWaitForPonavljanje()
{
    set("txtPerioda", QStringLiteral("30"));
    click("cmdPonavljanje");
    set("txtPodaciZaSlanje", QStringLiteral("11 22"));
    set("txtPerioda", QStringLiteral("abc"));
    QTRY_VERIFY_WITH_TIMEOUT(trainsIn(m_pty->received(), kDefaultTrain) >= 3, kWaitMs);

    set("txtPerioda", QStringLiteral("30"));
    click("cmdPonavljanje");
    QTRY_VERIFY_WITH_TIMEOUT(m_pty->received().endsWith(QByteArray("\x11\x22\x11\x22", 4)),
                             kWaitMs);
    click("cmdStop");
    QTRY_COMPARE_WITH_TIMEOUT(SerialPortDevice::linesInUse(), 0, kWaitMs);

    // Whole trains only: the old ones, then the new ones.
    const QByteArray all = m_pty->received();
    const qsizetype split = all.indexOf(QByteArray("\x11\x22", 2));
    QVERIFY(trainsIn(all.left(split), kDefaultTrain) >= 3);
    QVERIFY(trainsIn(all.mid(split), QByteArray("\x11\x22", 2)) >= 2);
    QVERIFY(m_messages.boxes.isEmpty());
}

void tst_EndToEnd::unpluggingReportsOnceAndRecovers_data()
{
    QTest::addColumn<bool>("byDtrClick");
    QTest::newRow("found by the next train") << false;
    QTest::newRow("found by a DTR click before it") << true;
}

void tst_EndToEnd::unpluggingReportsOnceAndRecovers()
{
    QFETCH(bool, byDtrClick);
    set("txtPerioda", QString::fromLatin1(byDtrClick ? "30000" : "10"));
    click("cmdPonavljanje");
    if (!byDtrClick)
        QTRY_VERIFY_WITH_TIMEOUT(trainsIn(m_pty->received(), kDefaultTrain) >= 2, kWaitMs);

    m_pty->hangUp();
    if (byDtrClick)
        click("chkDTR");
    QTRY_COMPARE_WITH_TIMEOUT(m_messages.boxes.size(), 1, kWaitMs);
    const Box box = m_messages.boxes.first();
    QCOMPARE(box.kind, QStringLiteral("critical"));
    QCOMPARE(box.title, QStringLiteral("Greska !"));
    QVERIFY2(box.text.startsWith(QStringLiteral("Greska 301 - ")), qPrintable(box.text));
    QVERIFY(box.text.endsWith(QStringLiteral(" - MSCommPort\r\n Pokusajte ponovo !")));
    QVERIFY(!m_window->trainSender().isRepeating());
    QVERIFY(!m_window->port().portOpen());
    // No second box for the same fault, however long we look.
    QTest::qWait(200);
    QCOMPARE(m_messages.boxes.size(), 1);

    // The device is back under the same number: the commands work again.
    auto replugged = std::make_unique<PseudoTerminal>();
    QVERIFY(replugged->ok());
    linkAsPort(*replugged);
    click("cmdJednom");
    QTRY_COMPARE_WITH_TIMEOUT(replugged->received(), kDefaultTrain, kWaitMs);
    QCOMPARE(m_messages.boxes.size(), 1);
    delete m_window;
    QTRY_COMPARE_WITH_TIMEOUT(SerialPortDevice::linesInUse(), 0, kWaitMs);
    replugged.reset();
}

QTEST_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
