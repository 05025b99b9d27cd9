// SPDX-License-Identifier: MIT
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <pwd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// The real program, run as an ordinary user on a machine set up the way a desktop is for
// real-time scheduling (tools/rtkit-sandbox.sh: a system bus, polkit with a rule standing in for
// an active session, RealtimeKit). Its sender thread must then run real-time, granted by
// RealtimeKit; with no RealtimeKit on the bus the program starts all the same and its sender
// thread is ordinary.
class tst_RealtimeKit : public QObject
{
    Q_OBJECT

private slots:
    void senderThreadPolicy_data();
    void senderThreadPolicy();
};

namespace {

const QString kUser = u"vorlagen-rttest"_s;

// What follows `name` on its line of a /proc file: "2" of "policy   :   2" in a task's sched,
// "200000 200000 us" of "Max realtime timeout  200000  200000  us" in limits, "0 0 0 0" of
// "Uid:\t0\t0\t0\t0" in status.
QString procField(const QString &path, const QByteArray &name)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        for (QByteArray line : file.readAll().split('\n')) {
            if (line.startsWith(name + ' ') || line.startsWith(name + ':'))
                return QString::fromLatin1(line.mid(name.size()).replace(':', ' ').simplified());
        }
    }
    return {};
}

// Whether any process still has the sandbox's bus in its command line or environment.
bool sandboxLeftBehind()
{
    const QDir proc(u"/proc"_s);
    for (const QString &pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        for (const char *what : {"/cmdline", "/environ"}) {
            QFile file(proc.filePath(pid + QLatin1String(what)));
            if (file.open(QIODevice::ReadOnly) && file.readAll().contains("/vorlagen-rtkit."))
                return true;
        }
    }
    return false;
}

// The task of `pid` named as the program names its sender thread.
QString senderThread(qint64 pid)
{
    const QDir tasks(u"/proc/%1/task"_s.arg(pid));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + u"/comm"_s));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "train-timer")
            return tasks.filePath(tid);
    }
    return {};
}

} // namespace

void tst_RealtimeKit::senderThreadPolicy_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("policy");   // as the kernel numbers them: SCHED_OTHER 0, SCHED_RR 2
    QTest::addColumn<QString>("priority"); // the kernel's: 98 is real-time priority 1
    QTest::addColumn<QString>("rtTime");   // RLIMIT_RTTIME, soft and hard

    // RealtimeKit refuses a process whose RLIMIT_RTTIME is above its maximum (200 ms).
    QTest::newRow("RealtimeKit grants")
        << QStringList() << u"2"_s << u"98"_s << u"200000 200000 us"_s;
    QTest::newRow("no RealtimeKit on the bus")
        << QStringList{u"--no-rtkit"_s} << u"0"_s << u"120"_s << u"unlimited unlimited us"_s;
}

void tst_RealtimeKit::senderThreadPolicy()
{
    QFETCH(QStringList, options);
    QFETCH(QString, policy);
    QFETCH(QString, priority);
    QFETCH(QString, rtTime);
    if (getuid() != 0)
        QSKIP("Needs root: it starts a system bus and daemons and makes a user");

    // The build may sit where the user cannot read; a copy of the program goes where it can.
    QTemporaryDir dir(QDir::tempPath() + u"/vorlagen-program.XXXXXX"_s);
    QVERIFY(dir.isValid());
    const QString program = dir.filePath(u"vorlagen"_s);
    QVERIFY(QFile::copy(QStringLiteral(VORLAGEN_PROGRAM), program));
    const auto everyone = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                          QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    QVERIFY(QFile::setPermissions(dir.path(), everyone) &&
            QFile::setPermissions(program, everyone));

    QProcess sandbox;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    sandbox.setProcessEnvironment(environment);
    sandbox.start(u"bash"_s, QStringList{QStringLiteral(VORLAGEN_RTKIT_SANDBOX)} + options +
                                 QStringList{program});
    // Ended the way it cleans up after itself (a QProcess left to its destructor would kill it
    // outright, leaving its daemons and its user behind), also when a check fails half-way.
    const auto ending = qScopeGuard([&sandbox] {
        if (sandbox.state() != QProcess::NotRunning) {
            sandbox.terminate();
            sandbox.waitForFinished(30000);
        }
    });
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += sandbox.readAllStandardOutput()).contains('\n') ||
                                 sandbox.state() == QProcess::NotRunning,
                             30000);
    if (!said.startsWith("sandbox: pid ")) {
        QVERIFY(sandbox.waitForFinished(30000));
        const QByteArray why = sandbox.readAllStandardError().trimmed();
        if (sandbox.exitCode() == 77)
            QSKIP(why.constData());
        QFAIL(why.constData());
    }
    const qint64 pid = said.mid(13).trimmed().toLongLong();

    // The program runs as the ordinary user, without an rtprio limit of its own.
    const passwd *user = getpwnam(kUser.toLocal8Bit().constData());
    QVERIFY(user && user->pw_uid != 0);
    const QString uids = procField(u"/proc/%1/status"_s.arg(pid), "Uid").section(u' ', 0, 1);
    QCOMPARE(uids, QStringList(2, QString::number(user->pw_uid)).join(u' ')); // real, effective
    const QString limits = u"/proc/%1/limits"_s.arg(pid);
    QCOMPARE(procField(limits, "Max realtime priority"), u"0 0"_s);

    QTRY_VERIFY_WITH_TIMEOUT(!senderThread(pid).isEmpty(), 20000);
    const QString task = senderThread(pid);
    QTRY_COMPARE_WITH_TIMEOUT(procField(task + u"/sched"_s, "policy"), policy, 10000);
    QCOMPARE(procField(task + u"/sched"_s, "prio"), priority);
    QCOMPARE(procField(limits, "Max realtime timeout"), rtTime);

    // It ends as it does at a logout; the sandbox takes away all it made.
    sandbox.terminate();
    QVERIFY(sandbox.waitForFinished(30000));
    QCOMPARE(sandbox.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sandbox.exitCode(), 0);
    QVERIFY(!QFile::exists(u"/proc/%1"_s.arg(pid)));
    QVERIFY(!getpwnam(kUser.toLocal8Bit().constData()));
    QVERIFY(!QFile::exists(u"/etc/polkit-1/rules.d/49-%1.rules"_s.arg(kUser)));
    QVERIFY(!sandboxLeftBehind());
}

QTEST_GUILESS_MAIN(tst_RealtimeKit)
#include "tst_realtimekit.moc"
