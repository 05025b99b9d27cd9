// SPDX-License-Identifier: MIT
#include "pseudoterminal.h"
#include "serial/portbusy.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <grp.h>
#include <memory>
#include <pwd.h>
#include <unistd.h>
#include <vector>

// Start-up and end with real processes: each runs the program with the real lock file, settings
// and serial device (a pseudo-terminal linked as COM7), in folders of this test's own.
class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void oneInstance();
    void waysOutLeaveThePortClean_data();
    void waysOutLeaveThePortClean();
    void unpluggingReportsOnceAndRecovers_data();
    void unpluggingReportsOnceAndRecovers();

private:
    struct Instance
    {
        QProcess process;
        QByteArray output;
        QByteArray read() { return output += process.readAllStandardOutput(); }
        bool hasWindow() { return read().contains("window\n"); }
        bool exitedCleanly() const
        {
            return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        }
    };

    // `endsByExit`: the process will end through exit(), which never destroys the application
    // object, so what only its end frees must not count as a leak (sanitizer builds).
    Instance *start(uid_t user = ::getuid(), bool endsByExit = false);
    QString settingsFile() const { return m_root->filePath("config/vorlagen/vorlagen.conf"); }
    // Links the terminal as COM7 for the program.
    void linkAsCom7(const PseudoTerminal &pty)
    {
        QVERIFY(QDir(m_root->path()).mkpath("config/vorlagen"));
        QFile::remove(m_root->filePath("config/vorlagen/com7"));
        QVERIFY(QFile::link(pty.path(), m_root->filePath("config/vorlagen/com7")));
    }

    std::unique_ptr<QTemporaryDir> m_root;
    uid_t m_user = 0; // who runs the program where its claim matters
    std::vector<std::unique_ptr<Instance>> m_instances;
};

// Every start takes a few hundred milliseconds; under a sanitizer on two cores some seconds.
constexpr int kStartTimeout = 30000;

// Root ignores a device's exclusive claim: the ends must be met as an ordinary user, nobody
// when the test runs as root, as CI does.
void tst_Startup::initTestCase()
{
    const passwd *nobody = ::getpwnam("nobody");
    if (::getuid() != 0)
        m_user = ::getuid();
    // A build folder nobody cannot reach (under /root) leaves no one to run the driver.
    else if (nobody && !QProcess::execute("runuser", {"-u", "nobody", "--", "test", "-x",
                                                      VORLAGEN_STARTUP_DRIVER}))
        m_user = nobody->pw_uid;
}

void tst_Startup::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    // A runtime folder must be the user's alone, or Qt refuses it.
    QVERIFY(
        QDir(m_root->path()).mkdir("run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void tst_Startup::cleanup()
{
    for (auto &instance : m_instances) {
        instance->process.kill();
        instance->process.waitForFinished();
    }
    m_instances.clear();
    m_root.reset();
}

tst_Startup::Instance *tst_Startup::start(uid_t user, bool endsByExit)
{
    auto instance = std::make_unique<Instance>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", m_root->path());
    env.insert("XDG_CONFIG_HOME", m_root->filePath("config"));
    env.insert("XDG_RUNTIME_DIR", m_root->filePath("run"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    if (endsByExit)
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
    instance->process.setProcessEnvironment(env);
    instance->process.setChildProcessModifier([user] {
        // A test run under nohup must not hand its ignored signals on.
        for (const int number : {SIGTERM, SIGINT, SIGHUP})
            ::signal(number, SIG_DFL);
        if (user == ::getuid())
            return;
        const passwd *account = ::getpwuid(user);
        if (!account || ::setgroups(0, nullptr) != 0 || ::setgid(account->pw_gid) != 0 ||
            ::setuid(user) != 0)
            ::_exit(126);
    });
    instance->process.start(QStringLiteral(VORLAGEN_STARTUP_DRIVER), {});
    m_instances.push_back(std::move(instance));
    return m_instances.back().get();
}

// The first start wins; a later one is refused with the notice alone, an orderly exit and no
// setting written; a killed instance's lock file blocks nobody.
void tst_Startup::oneInstance()
{
    Instance *first = start();
    QTRY_VERIFY_WITH_TIMEOUT(first->hasWindow(), kStartTimeout);
    QSettings settings(settingsFile(), QSettings::IniFormat); // two empty entries, nothing else
    QCOMPARE(settings.allKeys(), QStringList({"Database/FileName", "Database/Path"}));
    for (const QString &key : settings.allKeys())
        QVERIFY(settings.value(key).toString().isEmpty());
    QVERIFY(QFile::remove(settingsFile()));

    Instance *second = start();
    QVERIFY(second->process.waitForFinished(kStartTimeout));
    QVERIFY(second->exitedCleanly());
    QCOMPARE(second->read(), "information|Informacija !|Program je vec startovan!\n");
    QVERIFY(!QFile::exists(settingsFile()));

    first->process.kill(); // SIGKILL: nothing of ours runs, the lock file stays behind
    QVERIFY(first->process.waitForFinished(kStartTimeout));
    QVERIFY(QFile::exists(m_root->filePath("run/vorlagen-%1.lock").arg(::getuid())));
    Instance *next = start();
    QTRY_VERIFY_WITH_TIMEOUT(next->hasWindow(), kStartTimeout);
}

void tst_Startup::waysOutLeaveThePortClean_data()
{
    QTest::addColumn<int>("way"); // a signal, 0 for "Kraj", -1 for exit()
    // "Jednom" clicks behind a full terminal: the first sends 1001 bytes, a second one (taking
    // the draining line over) a short train behind them; 0 for a running repetition.
    QTest::addColumn<int>("waiting");
    // A second request to end right after the first: the end is hurried, what waits is dropped,
    // and the program still ends in order.
    QTest::addColumn<int>("again");
    QTest::newRow("Kraj") << 0 << 0 << 0;
    QTest::newRow("SIGTERM") << int(SIGTERM) << 0 << 0;
    QTest::newRow("SIGINT") << int(SIGINT) << 0 << 0;
    QTest::newRow("SIGHUP") << int(SIGHUP) << 0 << 0;
    QTest::newRow("SIGTERM, 1001 bytes waiting") << int(SIGTERM) << 1 << 0;
    QTest::newRow("Kraj, a second Jednom behind 1001 waiting bytes") << 0 << 2 << 0;
    QTest::newRow("SIGINT, then SIGTERM hurries") << int(SIGINT) << 1 << int(SIGTERM);
    QTest::newRow("exit() from inside, as a library at logout") << -1 << 0 << 0;
    QTest::newRow("SIGKILL, a crash") << int(SIGKILL) << 0 << 0;
}

// The program repeats (or one train waits to be sent) while the receiver sleeps, and then ends.
// The receiver wakes up: every byte arrives, in whole trains, and the device is left as it was
// found (no exclusive claim, no lock file), so the same user's next start can use it at once.
// Only a crash leaves the claim, and the next start says what to do about it.
void tst_Startup::waysOutLeaveThePortClean()
{
    QFETCH(int, way);
    QFETCH(int, waiting);
    QFETCH(int, again);
    const uid_t user = m_user;
    if (user == 0)
        QSKIP("no ordinary user who may run the driver here (root ignores a device's claim)");
    PseudoTerminal pty(false);
    if (!pty.ok())
        QSKIP("no pseudo-terminal can be made here");
    // A program killed elsewhere on an earlier terminal of this number may have left its lock
    // file, which has nothing to do with this terminal (and refuses an ordinary user's open).
    QVERIFY(removeStaleSerialLock(pty.path()));
    linkAsCom7(pty);
    QCOMPARE(QProcess::execute("chown", {"-R", QString::number(user), m_root->path(), pty.path()}),
             0);

    Instance *program = start(user, way == -1);
    QTRY_VERIFY_WITH_TIMEOUT(program->hasWindow(), kStartTimeout);
    const QByteArray train = QByteArray::fromHex("0102030405");
    program->process.write("txtPort=7\ntxtPerioda=" + QByteArray(waiting ? "30000" : "20") +
                           "\ntxtPodaciZaSlanje=" + train.toHex(' ') + "\ncmdPonavljanje\n");
    QTRY_COMPARE_WITH_TIMEOUT(pty.exclusive(), 1, kStartTimeout);
    QByteArray expected;
    if (waiting) {
        // The open terminal is filled up, so that the whole train stays in the program's queue.
        expected = QByteArray(pty.fill(), 'U');
        // A second train of 23 bytes still fits the 1024-byte queue.
        const QList<QByteArray> trains{train.repeated(201).left(1001), QByteArray(23, '\xA5')};
        for (int i = 0; i < waiting; ++i) {
            expected += trains[i];
            program->process.write("txtPodaciZaSlanje=" + trains[i].toHex(' ').toUpper() +
                                   "\ncmdJednom\n");
            QTRY_COMPARE_WITH_TIMEOUT(program->read().count("done cmdJednom"), i + 1,
                                      kStartTimeout);
        }
    } else {
        QTest::qWait(300); // a few trains go out while the receiver sleeps
    }
    const auto pid = pid_t(program->process.processId());
    QVERIFY(pid > 0); // never 0: that would signal this test's own process group
    if (way > 0)
        ::kill(pid, way);
    if (again) {
        // One after the other, as two presses come: both pending at once are taken together.
        QTest::qWait(200);
        ::kill(pid, again);
    }
    if (way <= 0)
        program->process.write(way == 0 ? "cmdKraj\n" : "exit\n");
    QTest::qWait(300); // the receiver wakes up later, within the grace time
    pty.startReading();
    QTRY_COMPARE_WITH_TIMEOUT(program->process.state(), QProcess::NotRunning, kStartTimeout);

    if (way == SIGKILL) {
        QCOMPARE(pty.exclusive(), 1); // nothing could give it up
    } else {
        QVERIFY(program->exitedCleanly());
        QCOMPARE(pty.exclusive(), 0);
        QCOMPARE(serialLockFile(pty.path()), QString());
        // Every byte, or whole trains: never one cut short. A hurried end drops what waits in the
        // terminal too, so only its clean end is checked.
        QTRY_VERIFY_WITH_TIMEOUT(again || waiting ? again || pty.received() == expected
                                                  : pty.received().size() % train.size() == 0 &&
                                                        pty.received().endsWith(train),
                                 kStartTimeout);
    }
    QVERIFY(!program->read().contains("critical"));

    // The next start, as the same user: only after a crash is the port refused, saying why.
    const bool refused = way == SIGKILL && user != 0;
    const qsizetype before = pty.received().size();
    Instance *next = start(user);
    QTRY_VERIFY_WITH_TIMEOUT(next->hasWindow(), kStartTimeout);
    next->process.write("txtPort=7\ncmdJednom\n");
    QTRY_VERIFY_WITH_TIMEOUT(refused ? next->read().contains("critical")
                                     : pty.received().size() > before,
                             kStartTimeout);
    const QByteArray said = next->read();
    const bool told202 =
        said.contains("Greska 202 - ") && said.contains("virtuelni port napravite");
    QVERIFY2(said.contains("critical") == refused && told202 == refused, said.constData());
    next->process.write("cmdKraj\n");
    QVERIFY(next->process.waitForFinished(kStartTimeout));
    QCOMPARE(pty.exclusive(), refused ? 1 : 0);
    QVERIFY(removeStaleSerialLock(pty.path())); // what the crash left is this test's to clear
}

void tst_Startup::unpluggingReportsOnceAndRecovers_data()
{
    QTest::addColumn<bool>("byDtrClick");
    QTest::newRow("found by the next train") << false;
    QTest::newRow("found by a DTR click before it") << true;
}

// Unplugged while repeating: one box, the repetition over and the port closed. The device back
// under the same number, "Jednom" sends the train in one write, and no second box comes.
void tst_Startup::unpluggingReportsOnceAndRecovers()
{
    QFETCH(bool, byDtrClick);
    PseudoTerminal pty; // kept to the end: its number is not to be reused meanwhile
    if (!pty.ok())
        QSKIP("no pseudo-terminal can be made here");
    linkAsCom7(pty);
    Instance *program = start();
    QTRY_VERIFY_WITH_TIMEOUT(program->hasWindow(), kStartTimeout);
    program->process.write("txtPort=7\ntxtPerioda=" + QByteArray(byDtrClick ? "32767" : "10") +
                           "\ncmdPonavljanje\n");
    QTRY_VERIFY_WITH_TIMEOUT(program->read().contains("done cmdPonavljanje repeating=1 open=1"),
                             kStartTimeout);
    if (!byDtrClick)
        QTRY_VERIFY_WITH_TIMEOUT(pty.received().size() >= 20, kStartTimeout);
    pty.hangUp();
    if (byDtrClick)
        program->process.write("chkDTR\n");
    // Well before the first tick of a click's row.
    QTRY_VERIFY_WITH_TIMEOUT(program->read().contains("critical|"), 20000);
    program->process.write("txtPort=7\n");
    QTRY_VERIFY_WITH_TIMEOUT(program->read().contains("done txtPort repeating=0 open=0"),
                             kStartTimeout);
    QVERIFY2(program->read().count("critical|Greska !|Greska 301 - ") == 1 &&
                 program->read().contains(" - MSCommPort\r\n Pokusajte ponovo !\n"),
             program->read().constData());

    PseudoTerminal back;
    linkAsCom7(back);
    program->process.write("cmdJednom\n");
    QTRY_VERIFY_WITH_TIMEOUT(program->read().contains("done cmdJednom repeating=0 open=0"),
                             kStartTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(back.received(), QByteArray(10, char(0xF0)), kStartTimeout);
    QCOMPARE(back.arrivals().size(), 1);
    QCOMPARE(program->read().count("critical|"), 1);
}

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
