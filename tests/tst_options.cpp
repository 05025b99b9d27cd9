// SPDX-License-Identifier: MIT
#include "cli/version.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The programs' command lines as a user or a script meets them: real processes without a
// display, in a home of the test's own.
class tst_Options : public QObject
{
    Q_OBJECT

private slots:
    void answersWithoutDisplayOrLock_data();
    void answersWithoutDisplayOrLock();
};

void tst_Options::answersWithoutDisplayOrLock_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out"); // how stdout starts; "" for nothing at all
    QTest::addColumn<QString>("err"); // the same for stderr

    const QString program = QStringLiteral(VORLAGEN_PROGRAM);
    const QString monitor = QStringLiteral(VORLAGEN_MONITOR);
    QTest::newRow("version") << program << QStringList{u"--version"_s} << 0
                             << u"vorlagen "_s + QLatin1String(kVorlagenVersion) + u'\n'
                             << QString();
    QTest::newRow("unknown option")
        << program << QStringList{u"--verzija"_s} << 2 << QString()
        << u"vorlagen: nepoznata opcija \"--verzija\"\nPomoc: vorlagen --help\n"_s;
    // The monitor shares the parser: only what is its own (help needs no port number).
    QTest::newRow("monitor help, no port needed")
        << monitor << QStringList{u"-h"_s} << 0 << u"Upotreba: vorlagen-monitor [opcije] [N]\n"_s
        << QString();
}

void tst_Options::answersWithoutDisplayOrLock()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(QDir(home.path()).mkdir(u"run"_s));
    QVERIFY(QFile::setPermissions(home.filePath(u"run"_s),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_s, home.path());
    env.insert(u"XDG_CONFIG_HOME"_s, home.filePath(u"config"_s));
    env.insert(u"XDG_RUNTIME_DIR"_s, home.filePath(u"run"_s));
    // Should the window's application object be made after all, it has no display to go to
    // and aborts.
    env.remove(u"DISPLAY"_s);
    env.remove(u"WAYLAND_DISPLAY"_s);
    env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    QVERIFY(process.waitForFinished(60000));
    const QString stdOut = QString::fromLocal8Bit(process.readAllStandardOutput());
    const QString stdErr = QString::fromLocal8Bit(process.readAllStandardError());

    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY2(out.isEmpty() ? stdOut.isEmpty() : stdOut.startsWith(out), qPrintable(stdOut));
    QVERIFY2(err.isEmpty() ? stdErr.isEmpty() : stdErr.startsWith(err), qPrintable(stdErr));
    // No lock file, no settings, no port link: the program never got that far.
    QCOMPARE(QDir(home.filePath(u"run"_s)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());
    QVERIFY(!QFile::exists(home.filePath(u"config"_s)));
}

QTEST_GUILESS_MAIN(tst_Options)
#include "tst_options.moc"
