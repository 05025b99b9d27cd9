#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

#ifdef Q_OS_UNIX
#include <ctime>
#include <unistd.h>
#include <utime.h>
#endif

// Start-up with real processes: each runs the start-up routine with the real lock file and
// settings, in folders of this test's own.
class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstStartShowsTheWindowAndWritesSettings();
    void secondStartIsRefused();
    void endedInstanceDoesNotBlock();
    void killedInstanceDoesNotBlock();
    void simultaneousStartsGiveOneWindow();

private:
    struct Instance
    {
        QProcess process;
        QByteArray output;
        QByteArray read()
        {
            output += process.readAllStandardOutput();
            return output;
        }
        bool hasWindow() { return read().contains("window\n"); }
        bool wasRefused()
        {
            return read().contains("information|Informacija !|Program je vec startovan!\n");
        }
    };

    Instance *start();
    QString settingsFile() const { return m_config + QStringLiteral("/vorlagen/vorlagen.conf"); }
    QString lockFile() const;

    std::unique_ptr<QTemporaryDir> m_root;
    QString m_config;
    QString m_runtime;
    std::vector<std::unique_ptr<Instance>> m_instances;
};

// Every start takes a few hundred milliseconds; twenty under a sanitizer on two cores much more.
constexpr int kStartTimeout = 120000;

void tst_Startup::init()
{
#ifndef Q_OS_UNIX
    QSKIP("The process tests use Unix signals and folders");
#endif
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    QDir root(m_root->path());
    QVERIFY(root.mkpath(QStringLiteral("home")));
    QVERIFY(root.mkpath(QStringLiteral("config")));
    QVERIFY(root.mkpath(QStringLiteral("run")));
    m_config = root.filePath(QStringLiteral("config"));
    m_runtime = root.filePath(QStringLiteral("run"));
    // A runtime folder must be the user's alone, or Qt refuses it.
    QVERIFY(
        QFile::setPermissions(m_runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void tst_Startup::cleanup()
{
    for (auto &instance : m_instances) {
        if (instance->process.state() != QProcess::NotRunning) {
            instance->process.kill();
            instance->process.waitForFinished();
        }
    }
    m_instances.clear();
    m_root.reset();
}

QString tst_Startup::lockFile() const
{
    return m_runtime + QStringLiteral("/vorlagen-%1.lock").arg(::getuid());
}

tst_Startup::Instance *tst_Startup::start()
{
    auto instance = std::make_unique<Instance>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_root->filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    instance->process.setProcessEnvironment(env);
    instance->process.setProcessChannelMode(QProcess::SeparateChannels);
    instance->process.start(QStringLiteral(VORLAGEN_STARTUP_DRIVER), {});
    m_instances.push_back(std::move(instance));
    return m_instances.back().get();
}

void tst_Startup::firstStartShowsTheWindowAndWritesSettings()
{
    QVERIFY(!QFile::exists(settingsFile()));
    Instance *first = start();
    QTRY_VERIFY_WITH_TIMEOUT(first->hasWindow(), kStartTimeout);
    QVERIFY(QFile::exists(lockFile()));

    QSettings settings(settingsFile(), QSettings::IniFormat);
    QCOMPARE(settings.childGroups(), QStringList{QStringLiteral("Database")});
    settings.beginGroup(QStringLiteral("Database"));
    QCOMPARE(settings.childKeys(),
             QStringList({QStringLiteral("FileName"), QStringLiteral("Path")}));
    QCOMPARE(settings.value(QStringLiteral("Path")), QVariant(QString()));
    QCOMPARE(settings.value(QStringLiteral("FileName")), QVariant(QString()));

    // "Kraj" ends the program, orderly, and the lock goes with it.
    first->process.write("kraj\n");
    QVERIFY(first->process.waitForFinished(kStartTimeout));
    QCOMPARE(first->process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->process.exitCode(), 0);
    QVERIFY(!QFile::exists(lockFile()));
}

void tst_Startup::secondStartIsRefused()
{
    Instance *first = start();
    QTRY_VERIFY_WITH_TIMEOUT(first->hasWindow(), kStartTimeout);
    QVERIFY(QFile::remove(settingsFile()));

    Instance *second = start();
    QVERIFY(second->process.waitForFinished(kStartTimeout));
    QCOMPARE(second->process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->process.exitCode(), 0);
    QVERIFY(second->wasRefused());
    QVERIFY(!second->hasWindow());
    QCOMPARE(second->read().count('\n'), 1); // the notice and nothing else
    QVERIFY(!QFile::exists(settingsFile()));

    // The first one goes on undisturbed, still holding the lock.
    QCOMPARE(first->process.state(), QProcess::Running);
    QVERIFY(QFile::exists(lockFile()));
    // An instance that has run for a long time is as alive as a new one.
    const QByteArray lock = QFile::encodeName(lockFile());
    const utimbuf hourAgo{::time(nullptr) - 3600, ::time(nullptr) - 3600};
    QCOMPARE(::utime(lock.constData(), &hourAgo), 0);
    Instance *third = start();
    QVERIFY(third->process.waitForFinished(kStartTimeout));
    QVERIFY(third->wasRefused());
}

void tst_Startup::endedInstanceDoesNotBlock()
{
    Instance *first = start();
    QTRY_VERIFY_WITH_TIMEOUT(first->hasWindow(), kStartTimeout);
    first->process.write("kraj\n");
    QVERIFY(first->process.waitForFinished(kStartTimeout));

    Instance *next = start();
    QTRY_VERIFY_WITH_TIMEOUT(next->hasWindow(), kStartTimeout);
    QVERIFY(!next->wasRefused());
}

void tst_Startup::killedInstanceDoesNotBlock()
{
    Instance *first = start();
    QTRY_VERIFY_WITH_TIMEOUT(first->hasWindow(), kStartTimeout);
    first->process.kill(); // SIGKILL: nothing of ours runs, the lock file stays behind
    QVERIFY(first->process.waitForFinished(kStartTimeout));
    QVERIFY(QFile::exists(lockFile()));

    Instance *next = start();
    QTRY_VERIFY_WITH_TIMEOUT(next->hasWindow() || next->wasRefused(), kStartTimeout);
    QVERIFY(next->hasWindow());
    QVERIFY(!next->wasRefused());
    QCOMPARE(next->process.state(), QProcess::Running);
}

void tst_Startup::simultaneousStartsGiveOneWindow()
{
    constexpr int kStarts = 20;
    for (int i = 0; i < kStarts; ++i)
        start();
    auto finished = [this] {
        int count = 0;
        for (auto &instance : m_instances)
            count += instance->process.state() == QProcess::NotRunning;
        return count;
    };
    QTRY_COMPARE_WITH_TIMEOUT(finished(), kStarts - 1, kStartTimeout);

    int windows = 0;
    int refused = 0;
    Instance *winner = nullptr;
    for (auto &instance : m_instances) {
        if (instance->process.state() == QProcess::NotRunning) {
            QCOMPARE(instance->process.exitStatus(), QProcess::NormalExit);
            QCOMPARE(instance->process.exitCode(), 0);
            refused += instance->wasRefused();
            windows += instance->hasWindow();
        } else {
            winner = instance.get();
        }
    }
    QCOMPARE(refused, kStarts - 1);
    QCOMPARE(windows, 0);
    QVERIFY(winner);
    QTRY_VERIFY_WITH_TIMEOUT(winner->hasWindow(), kStartTimeout);
}

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
