// SPDX-License-Identifier: MIT
#include "app/vorlagen.h"
#include "fakes.h"
#include "pseudoterminal.h"
#include "serial/seriallines.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

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
    void init();
    void cleanup();

    void unpluggingReportsOnceAndRecovers_data();
    void unpluggingReportsOnceAndRecovers();

private:
    void linkAsPort(const PseudoTerminal &pty);
    void click(const char *button);

    QTemporaryDir m_config;
    SerialLines m_lines;
    std::unique_ptr<PseudoTerminal> m_pty;
    std::unique_ptr<PseudoTerminal> m_unplugged; // kept until every line is closed
    QPointer<VorlaGen> m_window;
    RecordingMessenger m_messages;
};

void tst_EndToEnd::init()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    QVERIFY(QDir(m_config.path()).mkpath(QStringLiteral("vorlagen")));
    m_pty = std::make_unique<PseudoTerminal>();
    if (!m_pty->ok())
        QSKIP("no pseudo-terminal can be made here");
    linkAsPort(*m_pty);
    m_messages.boxes.clear();
    m_window = new VorlaGen(Engine::systemParts(m_lines));
    m_window->setMessenger(&m_messages);
    m_window->show();
    m_window->findChild<QLineEdit *>("txtPort")->setText(QStringLiteral("7"));
}

void tst_EndToEnd::cleanup()
{
    delete m_window;
    // Every device is closed for good before the terminal goes.
    QTRY_COMPARE_WITH_TIMEOUT(m_lines.inUse(), 0, kWaitMs);
    m_pty.reset();
    m_unplugged.reset();
}

void tst_EndToEnd::linkAsPort(const PseudoTerminal &pty)
{
    const QString link = m_config.filePath(QStringLiteral("vorlagen/com7"));
    QFile::remove(link);
    QVERIFY(QFile::link(pty.path(), link));
}

void tst_EndToEnd::click(const char *button)
{
    QTest::mouseClick(m_window->findChild<QAbstractButton *>(QLatin1String(button)),
                      Qt::LeftButton);
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
    m_window->findChild<QLineEdit *>("txtPerioda")->setText(byDtrClick ? "30000" : "10");
    click("cmdPonavljanje");
    if (!byDtrClick)
        QTRY_VERIFY_WITH_TIMEOUT(m_pty->received().size() >= 2 * kDefaultTrain.size(), kWaitMs);

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

    // The device is back under the same number: "Jednom" sends the train in one write and
    // closes, and no second box came for the same fault.
    m_unplugged = std::exchange(m_pty, std::make_unique<PseudoTerminal>());
    QVERIFY(m_pty->ok());
    linkAsPort(*m_pty);
    click("cmdJednom");
    QVERIFY(!m_window->port().portOpen());
    QTRY_COMPARE_WITH_TIMEOUT(m_pty->received(), kDefaultTrain, kWaitMs);
    QCOMPARE(m_pty->arrivals().size(), 1);
    QCOMPARE(m_messages.boxes.size(), 1);
}

QTEST_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
