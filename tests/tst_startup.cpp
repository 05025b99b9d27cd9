#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>
#include <unistd.h>
#include <vector>

// Start-up with real processes: each runs the start-up routine with the real lock file and
// settings, in folders of this test's own.
class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstStartWinsLaterStartsAreRefused();
    void killedInstanceDoesNotBlock();
    void simultaneousStartsGiveOneWindow();

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
        bool wasRefused()
        {
            return read() == "information|Informacija !|Program je vec startovan!\n";
        }
    };

    Instance *start();
    QString settingsFile() const { return m_root->filePath("config/vorlagen/vorlagen.conf"); }
    QString lockFile() const { return m_root->filePath("run/vorlagen-%1.lock").arg(::getuid()); }

    std::unique_ptr<QTemporaryDir> m_root;
    std::vector<std::unique_ptr<Instance>> m_instances;
};

// Every start takes a few hundred milliseconds; twenty under a sanitizer on two cores much more.
constexpr int kStartTimeout = 120000;

void tst_Startup::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    // A runtime folder must be the user's alone, or Qt refuses it.
    QVERIFY(QDir(m_root->path()).mkpath("run"));
    QVERIFY(QFile::setPermissions(m_root->filePath("run"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
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

tst_Startup::Instance *tst_Startup::start()
{
    auto instance = std::make_unique<Instance>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", m_root->path());
    env.insert("XDG_CONFIG_HOME", m_root->filePath("config"));
    env.insert("XDG_RUNTIME_DIR", m_root->filePath("run"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    instance->process.setProcessEnvironment(env);
    instance->process.start(QStringLiteral(VORLAGEN_STARTUP_DRIVER), {});
    m_instances.push_back(std::move(instance));
    return m_instances.back().get();
}

void tst_Startup::firstStartWinsLaterStartsAreRefused()
{
    Instance *first = start();
    QTRY_VERIFY_WITH_TIMEOUT(first->hasWindow(), kStartTimeout);
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.beginGroup("Database");
    QCOMPARE(settings.childKeys(), QStringList({"FileName", "Path"}));
    QVERIFY(settings.value("Path").toString().isEmpty());
    QVERIFY(settings.value("FileName").toString().isEmpty());
    QVERIFY(QFile::remove(settingsFile()));

    // Refused with the notice alone, an orderly exit, no setting written.
    Instance *second = start();
    QVERIFY(second->process.waitForFinished(kStartTimeout));
    QVERIFY(second->exitedCleanly() && second->wasRefused());
    QVERIFY(!QFile::exists(settingsFile()));
    QCOMPARE(first->process.state(), QProcess::Running);

    // "Kraj" ends the program, not just the window.
    first->process.write("kraj\n");
    QVERIFY(first->process.waitForFinished(kStartTimeout));
    QVERIFY(first->exitedCleanly());
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
}

void tst_Startup::simultaneousStartsGiveOneWindow()
{
    constexpr int kStarts = 20;
    for (int i = 0; i < kStarts; ++i)
        start();
    auto running = [this] {
        return std::count_if(m_instances.begin(), m_instances.end(), [](const auto &instance) {
            return instance->process.state() != QProcess::NotRunning;
        });
    };
    QTRY_VERIFY_WITH_TIMEOUT(running() == 1, kStartTimeout);

    Instance *winner = nullptr;
    for (auto &instance : m_instances) {
        if (instance->process.state() != QProcess::NotRunning)
            winner = instance.get();
        else
            QVERIFY(instance->exitedCleanly() && instance->wasRefused());
    }
    QVERIFY(winner);
    QTRY_VERIFY_WITH_TIMEOUT(winner->hasWindow(), kStartTimeout);
}

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
