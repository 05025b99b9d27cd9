// SPDX-License-Identifier: MIT
#include "ioctllog.h"
#include "pseudoterminal.h"
#include "texts/failures.h"
#include "train/waveform.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <termios.h>

using namespace Qt::StringLiterals;

constexpr int kWaitMs = 20000; // a noisy CI; nothing here is a timing check

// vorlagen-send as a script runs it, with a link folder of its own: port 7 leads to a
// pseudo-terminal, and port 9 is a virtual port whose monitor has ended while another process
// (this test) holds a terminal at the descriptor its link names, as after a pid was reused.
class tst_Send : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void asAScriptSeesIt_data();
    void asAScriptSeesIt();
    void whatTheLineCarries_data();
    void whatTheLineCarries();

private:
    QString placed(QString text) const;
    bool start(QProcess &send, const QStringList &arguments, const QString &how);
    void drive(QProcess &send, const QString &how, QString &errors);

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
    QVERIFY(QFile::link(u"/proc/%1/fd/%2"_s.arg(::getpid()).arg(m_device->deviceSide()),
                        m_config->filePath(u"vorlagen/com9"_s)));
    QFile plain(m_config->filePath(u"plain"_s));
    QVERIFY(plain.open(QIODevice::WriteOnly));
}

// @dev: the pseudo-terminal, @config: the link folder's parent, @file: a plain file.
QString tst_Send::placed(QString text) const
{
    return text.replace(u"@dev"_s, m_device->path())
        .replace(u"@config"_s, m_config->path())
        .replace(u"@file"_s, m_config->filePath(u"plain"_s));
}

// A whole train is "F0 0F 55 00 FF". `how` the run goes besides: "stall" (the receiver stopped
// reading), then a signal once the line is held ("+INT") or once trains are counted ("+TERM");
// "INT" after three trains; standard input left "open", a folder or "closed"; "as nobody" on a
// device of group dialout or of root alone. The exit code and stderr say what happened.
void tst_Send::asAScriptSeesIt_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("trains"); // that arrived; -1: as many as went out before the signal
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error"); // what stderr holds; "" for nothing
    QTest::addColumn<QString>("out");   // what stdout holds

    const QString text = u"F0 0F 55 00 FF"_s;
    const auto row = [](const char *name, const QStringList &arguments, const QString &how,
                        int trains, int exitCode, const QString &error) -> QTestData & {
        return QTest::newRow(name)
               << arguments << QByteArray() << how << trains << exitCode << error << QString();
    };
    QTest::newRow("once at any rate, from standard input")
        << QStringList{u"-p"_s, u"7"_s, u"-b"_s, u"250000"_s, u"-"_s} << text.toLatin1() + '\n'
        << QString() << 1 << 0 << QString() << QString();
    row("getopt's forms, a count every second",
        {u"-p7"_s, u"-b9600"_s, u"--per=5"_s, u"-vn3"_s, text}, QString(), 3, 0,
        u"vorlagen-send: Poslato povorki: 3, propusteno rokova: "_s);
    row("until SIGINT, all delivered", {u"-p"_s, u"7"_s, u"-t"_s, u"5"_s, text}, u"INT"_s, -1, 0,
        QString());
    row("a device by its path", {u"--device=@dev"_s, text}, QString(), 1, 0, QString());

    // Nothing arrives, and the status says so.
    row("missing port", {u"-p"_s, u"30000"_s, u"F0"_s}, QString(), 0, 1,
        u"vorlagen-send: Greska 201 - Port 30000 ne postoji"_s);
    row("a stale virtual port is not followed", {u"-p"_s, u"9"_s, u"F0"_s}, QString(), 0, 1,
        OperatorText::virtualPortEnded(9, u"@config/vorlagen/com9"_s).description);
    row("a device that is a plain file", {u"-d"_s, u"@file"_s, u"F0"_s}, QString(), 0, 1,
        u"Greska 204"_s);
    row("the terminal multiplexer", {u"-d"_s, u"/dev/ptmx"_s, u"F0"_s}, QString(), 0, 1,
        u"Greska 204 - Uredjaj /dev/ptmx nije moguce otvoriti kao serijski port"_s);
    row("stalled receiver", {u"-p"_s, u"7"_s, u"A1 A2 A3 A4"_s}, u"stall"_s, 0, 1,
        u"vorlagen-send: 4 od 4 bajtova nije otislo na liniju"_s);
    row("unplugged while the train waits", {u"-p"_s, u"7"_s, u"A1 A2 A3 A4"_s}, u"stall+HUP"_s, 0,
        1, u"vorlagen-send: 4 od 4 bajtova nije otislo na liniju"_s);
    row("one SIGINT cuts a wait of minutes",
        {u"-p7"_s, u"-b110"_s, QStringList(1001, u"A5"_s).join(u' ')}, u"stall+INT"_s, 0, 1,
        u"1001 od 1001 bajtova nije otislo"_s);
    row("SIGTERM ends a stalled repetition", {u"-p"_s, u"7"_s, u"-vt"_s, u"50"_s, text},
        u"stall+TERM"_s, 0, 1, u" bajtova nije otislo na liniju"_s);
    row("as nobody, a device of group dialout", {u"-d"_s, u"@dev"_s, u"F0"_s},
        u"as nobody, dialout"_s, 0, 1,
        u"Nema dozvole za pristup uredjaju @dev; dodajte korisnika u grupu dialout"_s);
    row("as nobody, a device of root alone", {u"-d"_s, u"@dev"_s, u"F0"_s}, u"as nobody, root"_s, 0,
        1, u"uredjaju @dev; uredjaj pripada korisniku root; pristup moze da odobri"_s);

    // Standard input: read no further than a train can reach, and never taken as empty.
    QTest::newRow("endless input is refused unread")
        << QStringList{u"-p"_s, u"7"_s, u"-"_s} << QByteArray(65536, 'F') << u"open"_s << 0 << 2
        << u"povorka sa standardnog ulaza je preduga"_s << QString();
    row("input is a folder", {u"-p"_s, u"7"_s, u"-"_s}, u"folder"_s, 0, 2, u"to je folder"_s);
    row("input is closed", {u"-p"_s, u"7"_s, u"-"_s}, u"closed"_s, 0, 2, u"zatvoren je"_s);
    row("train too long", {u"-p"_s, u"7"_s, QStringList(1002, u"00"_s).join(u' ')}, QString(), 0, 2,
        u"vorlagen-send: Povorka je preduga: tekst daje 1002 bajtova"_s);

    QTest::newRow("the ports, with the link that found each; not the stale one")
        << QStringList{u"--list"_s} << QByteArray() << u"list"_s << 0 << 0 << QString()
        << u"7  @dev  (veza @config/vorlagen/com7)\n"_s;
}

// Through a shell where standard input is no pipe; as another user where the device's owner
// counts (root may open anything).
bool tst_Send::start(QProcess &send, const QStringList &arguments, const QString &how)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"XDG_CONFIG_HOME"_s, m_config->path());
    send.setProcessEnvironment(environment);
    if (how.startsWith(u"as nobody"_s)) {
        const passwd *nobody = ::getpwnam("nobody");
        const group *dialout = ::getgrnam("dialout");
        const QByteArray device = QFile::encodeName(m_device->path());
        const bool ofDialout = how.endsWith(u"dialout"_s);
        if (::chown(device.constData(), 0, ofDialout ? dialout->gr_gid : 0) != 0 ||
            ::chmod(device.constData(), ofDialout ? 0660 : 0600) != 0)
            return false;
        send.setChildProcessModifier([user = nobody->pw_uid, group = nobody->pw_gid] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(group) != 0 || ::setuid(user) != 0)
                ::_exit(126);
        });
    }
    const QString redirect = how == u"folder"_s   ? u" < /"_s
                             : how == u"closed"_s ? u" <&-"_s
                                                  : u""_s;
    send.start(u"/bin/sh"_s, QStringList{u"-c"_s, u"exec \"$0\" \"$@\""_s + redirect,
                                         QStringLiteral(VORLAGEN_SEND)} +
                                 arguments);
    return send.waitForStarted(kWaitMs);
}

// The signals of a row, each once the program has come so far.
void tst_Send::drive(QProcess &send, const QString &how, QString &errors)
{
    const auto holdsDevice = [&] {
        const QDir fds(u"/proc/%1/fd"_s.arg(send.processId()));
        for (const QString &fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
            if (QFile::symLinkTarget(fds.filePath(fd)) == m_device->path())
                return true;
        }
        return false;
    };
    if (how == u"INT"_s) {
        QTRY_VERIFY_WITH_TIMEOUT(m_device->received().size() >= 15, kWaitMs);
        ::kill(pid_t(send.processId()), SIGINT);
    } else if (how == u"stall+HUP"_s || how == u"stall+INT"_s) {
        QTRY_VERIFY_WITH_TIMEOUT(holdsDevice(), kWaitMs);
        if (how.endsWith(u"HUP"_s))
            m_device->hangUp();
        else
            ::kill(pid_t(send.processId()), SIGINT);
    } else if (how == u"stall+TERM"_s) {
        QTRY_VERIFY_WITH_TIMEOUT((errors += QString::fromLocal8Bit(send.readAllStandardError()))
                                     .contains(u"Poslato povorki"_s),
                                 kWaitMs);
        ::kill(pid_t(send.processId()), SIGTERM);
    }
}

void tst_Send::asAScriptSeesIt()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(QString, how);
    QFETCH(int, trains);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    QFETCH(QString, out);
    if (how.startsWith(u"as nobody"_s) &&
        (::getuid() != 0 || !::getgrnam("dialout") ||
         QProcess::execute(u"runuser"_s, {u"-u"_s, u"nobody"_s, u"--"_s, u"test"_s, u"-x"_s,
                                          QStringLiteral(VORLAGEN_SEND)}) != 0))
        QSKIP("runs the program as nobody: needs root, the group dialout, and a build folder "
              "that nobody may run from");
    qint64 stalled = 0;
    if (how.startsWith(u"stall"_s)) {
        // Raw first, as the program sets it: a later change of the settings would make room.
        termios raw{};
        ::tcgetattr(m_device->deviceSide(), &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(m_device->deviceSide(), TCSANOW, &raw);
        stalled = m_device->fill();
    }
    QProcess send;
    for (QString &argument : arguments)
        argument = placed(argument);
    QVERIFY(start(send, arguments, how));
    if (!input.isEmpty())
        send.write(input);
    if (how != u"open"_s)
        send.closeWriteChannel();
    QString errors;
    drive(send, how, errors);
    QVERIFY(send.waitForFinished(kWaitMs));
    QCOMPARE(send.exitStatus(), QProcess::NormalExit);
    QCOMPARE(send.exitCode(), exitCode);
    errors += QString::fromLocal8Bit(send.readAllStandardError());
    QVERIFY2(error.isEmpty() ? errors.isEmpty() : errors.contains(placed(error)),
             qPrintable(errors));
    const QString output = QString::fromLocal8Bit(send.readAllStandardOutput());
    QVERIFY2(output.contains(placed(out)) && !output.contains(u"com9"_s), qPrintable(output));

    // Whatever the process handed over has arrived by the time it ended; after a stall, once
    // the receiver reads again.
    m_device->startReading();
    QTRY_COMPARE_WITH_TIMEOUT(m_device->unread(), 0, kWaitMs);
    const QByteArray received = m_device->received().mid(stalled);
    const QByteArray train("\xF0\x0F\x55\x00\xFF", 5);
    if (trains >= 0)
        QCOMPARE(received.size(), trains * train.size());
    QCOMPARE(received, train.repeated(received.size() / train.size()));
}

void tst_Send::whatTheLineCarries_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("modem");   // the modem line calls on the device, in order
    QTest::addColumn<QList<double>>("lows");  // in us: the low pulses the train puts on the line
    QTest::addColumn<QList<double>>("highs"); // and the high ones between them
    QTest::newRow("DTR off, RTS on")
        << QStringList{u"--dtr=off"_s, u"--rts=on"_s, u"F0"_s}
        << QStringList{u"TIOCMBIC 2"_s, u"TIOCMBIS 4"_s} << QList<double>{5.0 / 115200 * 1e6}
        << QList<double>{}; // F0: start + four 0 bits
    QTest::newRow("one low pulse of 100 us") << QStringList{u"--pulses=L100us"_s} << QStringList()
                                             << QList<double>{100} << QList<double>{};
    QTest::newRow("five alternating 52 us pulses")
        << QStringList{u"--pulses"_s, u"L52us H52us L52us H52us L52us"_s} << QStringList()
        << QList<double>{52, 52, 52} << QList<double>{52, 52};
}

// What reached the device as the kernel saw it (the calls recorded by a preloaded ioctl()): the
// modem lines as the options say, and a train whose 8N1 frames, at the rate set on the device,
// make exactly the pulses asked for (within 1 %) and nothing else low.
void tst_Send::whatTheLineCarries()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, modem);
    QFETCH(QList<double>, lows);
    QFETCH(QList<double>, highs);
    const QString log = m_config->filePath(u"ioctl.log"_s);
    QProcess send;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"LD_PRELOAD"_s, QStringLiteral(VORLAGEN_IOCTL_RECORDER));
    environment.insert(u"VORLAGEN_IOCTL_LOG"_s, log);
    // The recorder is no sanitizer runtime, and is loaded first.
    environment.insert(u"ASAN_OPTIONS"_s,
                       environment.value(u"ASAN_OPTIONS"_s) + u":verify_asan_link_order=0"_s);
    send.setProcessEnvironment(environment);
    send.start(QStringLiteral(VORLAGEN_SEND),
               QStringList{u"--device"_s, m_device->path()} + arguments);
    QVERIFY(send.waitForFinished(kWaitMs));
    QCOMPARE(send.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_device->unread(), 0, kWaitMs);

    if (!modem.isEmpty())
        QCOMPARE(recordedCalls(log, m_device->path(), {u"TIOCMBIS"_s, u"TIOCMBIC"_s}), modem);
    const QStringList rates = recordedCalls(log, m_device->path(), {u"TCSETS2"_s});
    const double rate = rates.value(rates.size() - 1).section(u' ', 1).toDouble();
    QVERIFY(rate > 0);
    QList<double> low, high;
    for (const LineRun &run : lineRuns(m_device->received()))
        (run.level ? high : low) << run.bits / rate * 1e6;
    high.removeLast(); // the stop bits the train ends with, then idle line
    if (highs.isEmpty())
        high.clear();
    QCOMPARE(low.size(), lows.size());
    QCOMPARE(high.size(), highs.size());
    for (qsizetype i = 0; i < lows.size(); ++i)
        QVERIFY2(qAbs(low[i] - lows[i]) <= lows[i] / 100, qPrintable(QString::number(low[i])));
    for (qsizetype i = 0; i < highs.size(); ++i)
        QVERIFY2(qAbs(high[i] - highs[i]) <= highs[i] / 100, qPrintable(QString::number(high[i])));
}

QTEST_GUILESS_MAIN(tst_Send)
#include "tst_send.moc"
