// SPDX-License-Identifier: MIT
#include "pseudoterminal.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

constexpr int kWaitMs = 20000; // a noisy CI; nothing here is a timing check

// vorlagen-send as a child process, with its own link folder in which port 7 leads to `device`.
class Send : public QProcess
{
public:
    Send(const QTemporaryDir &config, const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_CONFIG_HOME"_s, config.path());
        setProcessEnvironment(environment);
        start(QStringLiteral(VORLAGEN_SEND), arguments);
    }
    QString errors() { return QString::fromLocal8Bit(readAllStandardError()); }
};

QString repeated(const QString &token, int count)
{
    return QStringList(count, token).join(u' ');
}

} // namespace

class tst_Send : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void refusals_data();
    void refusals();
    void trainsOnTheLine_data();
    void trainsOnTheLine();

private:
    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<PseudoTerminal> m_device;
};

void tst_Send::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    m_device = std::make_unique<PseudoTerminal>();
    if (!m_device->ok())
        QSKIP("no pseudo-terminal to stand in for the port");
    QVERIFY(QDir(m_config->path()).mkpath(u"vorlagen"_s));
    QVERIFY(QFile::link(m_device->path(), m_config->filePath(u"vorlagen/com7"_s)));
}

// What a script learns from the exit code and stderr; nothing reaches the line.
void tst_Send::refusals_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error"); // how stderr begins

    // No system has 30000 ports and no link names it: the port layer's own report.
    QTest::newRow("missing port") << QStringList{u"-p"_s, u"30000"_s, u"F0"_s} << 1
                                  << u"vorlagen-send: Greska 201 - Port 30000 ne postoji"_s;
    QTest::newRow("bad period") << QStringList{u"-p"_s, u"7"_s, u"-t"_s, u"sto"_s, u"F0"_s} << 2
                                << u"vorlagen-send: Perioda mora biti ceo broj"_s;
    QTest::newRow("train too long")
        << QStringList{u"-p"_s, u"7"_s, repeated(u"00"_s, 1002)} << 2
        << u"vorlagen-send: Povorka je preduga: tekst daje 1002 bajtova"_s;
    QTest::newRow("repeating a train of 1001")
        << QStringList{u"-p"_s, u"7"_s, u"-t"_s, u"10"_s, repeated(u"00"_s, 1001)} << 2
        << u"vorlagen-send: Povorka je preduga: tekst daje 1001 bajtova, a stane najvise 1000"_s;
    QTest::newRow("port is no number")
        << QStringList{u"-p"_s, u"x"_s, u"F0"_s} << 2 << u"vorlagen-send: --port:"_s;
    QTest::newRow("rate is no number") << QStringList{u"-p"_s, u"7"_s, u"-b"_s, u"brzo"_s, u"F0"_s}
                                       << 2 << u"vorlagen-send: --rate:"_s;
    QTest::newRow("count without period") << QStringList{u"-p"_s, u"7"_s, u"-n"_s, u"5"_s, u"F0"_s}
                                          << 2 << u"vorlagen-send: --count vazi samo uz"_s;
}

void tst_Send::refusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    Send send(*m_config, arguments);
    QVERIFY(send.waitForFinished(kWaitMs));
    QCOMPARE(send.exitStatus(), QProcess::NormalExit);
    QCOMPARE(send.exitCode(), exitCode);
    const QString errors = send.errors();
    QVERIFY2(errors.startsWith(error), qPrintable(errors));
    QVERIFY(m_device->received().isEmpty());
}

// Exactly the bytes, in whole trains: once, K times, and until SIGINT ends it like STOP.
void tst_Send::trainsOnTheLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("train");
    QTest::addColumn<int>("trains"); // 0: as many as went out before SIGINT
    QTest::addColumn<QByteArray>("input");

    const QByteArray pattern("\xF0\x0F\x55\x00\xFF", 5);
    QTest::newRow("once, any rate")
        << QStringList{u"-p"_s, u"7"_s, u"-b"_s, u"250000"_s, u"F0 0F 55 00 FF"_s} << pattern << 1
        << QByteArray();
    QTest::newRow("once, from standard input")
        << QStringList{u"-p"_s, u"7"_s, u"-"_s} << pattern << 1 << QByteArray("F0 0F 55 00 FF\n");
    QTest::newRow("25 trains every 5 ms")
        << QStringList{u"-p"_s, u"7"_s, u"-t"_s, u"5"_s, u"-n"_s, u"25"_s, u"F0 0F 55 00 FF"_s}
        << pattern << 25 << QByteArray();
    QTest::newRow("until SIGINT") << QStringList{u"-p"_s, u"7"_s, u"-t"_s, u"5"_s,
                                                 u"F0 0F 55 00 FF"_s}
                                  << pattern << 0 << QByteArray();
}

void tst_Send::trainsOnTheLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, train);
    QFETCH(int, trains);
    QFETCH(QByteArray, input);
    Send send(*m_config, arguments);
    QVERIFY(send.waitForStarted(kWaitMs));
    if (!input.isEmpty()) {
        send.write(input);
        send.closeWriteChannel();
    }
    if (trains == 0) {
        QTRY_VERIFY_WITH_TIMEOUT(m_device->received().size() >= 3 * train.size(), kWaitMs);
        ::kill(pid_t(send.processId()), SIGINT);
    }
    QVERIFY(send.waitForFinished(kWaitMs));
    QCOMPARE(send.exitStatus(), QProcess::NormalExit);
    QCOMPARE(send.exitCode(), 0);
    QVERIFY2(send.errors().isEmpty(), qPrintable(send.errors()));

    // Whatever the process handed over has arrived by the time it ended.
    QTRY_COMPARE_WITH_TIMEOUT(m_device->unread(), 0, kWaitMs);
    const QByteArray received = m_device->received();
    QCOMPARE(received.size() % train.size(), 0);
    if (trains > 0)
        QCOMPARE(received.size(), trains * train.size());
    QCOMPARE(received, train.repeated(received.size() / train.size()));
}

QTEST_GUILESS_MAIN(tst_Send)
#include "tst_send.moc"
