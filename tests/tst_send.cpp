// SPDX-License-Identifier: MIT
#include "pseudoterminal.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

constexpr int kWaitMs = 20000; // a noisy CI; nothing here is a timing check

// vorlagen-send as a script runs it, with a link folder of its own in which port 7 leads to a
// pseudo-terminal.
class tst_Send : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void asAScriptSeesIt_data();
    void asAScriptSeesIt();

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

// Exactly the bytes, in whole trains: once, K times, and until SIGINT ends it like STOP. A
// refusal sends nothing; the exit code and stderr say what kind it was.
void tst_Send::asAScriptSeesIt_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("trains"); // -1: as many as went out before SIGINT
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error"); // how stderr begins

    const QString text = u"F0 0F 55 00 FF"_s;
    QTest::newRow("once at any rate, from standard input")
        << QStringList{u"-p"_s, u"7"_s, u"-b"_s, u"250000"_s, u"-"_s} << text.toLatin1() + '\n'
        << 1 << 0 << QString();
    QTest::newRow("25 trains every 5 ms")
        << QStringList{u"-p"_s, u"7"_s, u"-t"_s, u"5"_s, u"-n"_s, u"25"_s, text} << QByteArray()
        << 25 << 0 << QString();
    QTest::newRow("until SIGINT") << QStringList{u"-p"_s, u"7"_s, u"-t"_s, u"5"_s, text}
                                  << QByteArray() << -1 << 0 << QString();

    // No system has 30000 ports and no link names it: the port layer's own report.
    QTest::newRow("missing port") << QStringList{u"-p"_s, u"30000"_s, u"F0"_s} << QByteArray() << 0
                                  << 1 << u"vorlagen-send: Greska 201 - Port 30000 ne postoji"_s;
    QTest::newRow("bad period") << QStringList{u"-p"_s, u"7"_s, u"-t"_s, u"sto"_s, u"F0"_s}
                                << QByteArray() << 0 << 2
                                << u"vorlagen-send: Perioda mora biti ceo broj"_s;
    QTest::newRow("train too long")
        << QStringList{u"-p"_s, u"7"_s, QStringList(1002, u"00"_s).join(u' ')} << QByteArray() << 0
        << 2 << u"vorlagen-send: Povorka je preduga: tekst daje 1002 bajtova"_s;
    QTest::newRow("port is no number") << QStringList{u"-p"_s, u"x"_s, u"F0"_s} << QByteArray() << 0
                                       << 2 << u"vorlagen-send: --port:"_s;
    QTest::newRow("rate is no number") << QStringList{u"-p"_s, u"7"_s, u"-b"_s, u"brzo"_s, u"F0"_s}
                                       << QByteArray() << 0 << 2 << u"vorlagen-send: --rate:"_s;
    QTest::newRow("count without period")
        << QStringList{u"-p"_s, u"7"_s, u"-n"_s, u"5"_s, u"F0"_s} << QByteArray() << 0 << 2
        << u"vorlagen-send: --count vazi samo uz"_s;
}

void tst_Send::asAScriptSeesIt()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(int, trains);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    const QByteArray train("\xF0\x0F\x55\x00\xFF", 5);
    QProcess send;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"XDG_CONFIG_HOME"_s, m_config->path());
    send.setProcessEnvironment(environment);
    send.start(QStringLiteral(VORLAGEN_SEND), arguments);
    QVERIFY(send.waitForStarted(kWaitMs));
    if (!input.isEmpty()) {
        send.write(input);
        send.closeWriteChannel();
    }
    if (trains < 0) {
        QTRY_VERIFY_WITH_TIMEOUT(m_device->received().size() >= 3 * train.size(), kWaitMs);
        ::kill(pid_t(send.processId()), SIGINT);
    }
    QVERIFY(send.waitForFinished(kWaitMs));
    QCOMPARE(send.exitStatus(), QProcess::NormalExit);
    QCOMPARE(send.exitCode(), exitCode);
    const QString errors = QString::fromLocal8Bit(send.readAllStandardError());
    QVERIFY2(error.isEmpty() ? errors.isEmpty() : errors.startsWith(error), qPrintable(errors));

    // Whatever the process handed over has arrived by the time it ended.
    QTRY_COMPARE_WITH_TIMEOUT(m_device->unread(), 0, kWaitMs);
    const QByteArray received = m_device->received();
    if (trains >= 0)
        QCOMPARE(received.size(), trains * train.size());
    QCOMPARE(received, train.repeated(received.size() / train.size()));
}

QTEST_GUILESS_MAIN(tst_Send)
#include "tst_send.moc"
