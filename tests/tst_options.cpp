// SPDX-License-Identifier: MIT
#include "cli/version.h"
#include "texts/failures.h"

#include <QDir>
#include <QFileInfo>
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
    const QString send = QStringLiteral(VORLAGEN_SEND);
    const QString version = QLatin1String(kVorlagenVersion) + u'\n';
    const QString sendHelp =
        u"Upotreba: vorlagen-send [opcije] [POVORKA]\n   ili: vorlagen-send -l\n"_s;
    // The monitor shares the parser: only what is its own (help needs no port number).
    QTest::newRow("monitor help, no port needed")
        << monitor << QStringList{u"-h"_s} << 0 << u"Upotreba: vorlagen-monitor [opcije] [N]\n"_s
        << QString();

    // --help and --version answer whatever else the line holds.
    QTest::newRow("help before an unknown option")
        << send << QStringList{u"--help"_s, u"--bogus"_s} << 0 << sendHelp << QString();
    QTest::newRow("version with an argument") << send << QStringList{u"--version"_s, u"extra"_s}
                                              << 0 << u"vorlagen-send "_s + version << QString();

    // Any other mistake: one line, the hint, exit 2.
    const auto wrong = [](const char *name, const QString &program, const QStringList &arguments,
                          const QString &what) {
        const QString shown = QFileInfo(program).fileName();
        QTest::newRow(name) << program << arguments << 2 << QString()
                            << shown + u": "_s + what + u"\nPomoc: "_s + shown + u" --help\n"_s;
    };
    // Qt's own options, one dash and a value each, pass: only the unknown one is named.
    wrong("unknown option beside Qt's own", program,
          {u"-platform"_s, u"offscreen"_s, u"-session"_s, u"x"_s, u"--verzija"_s},
          u"nepoznata opcija \"--verzija\""_s);
    wrong("an abbreviation that fits two", send, {u"--p"_s, u"3"_s, u"F0"_s},
          u"opcija \"--p\" nije jednoznacna (--port, --period, --pulses, --plan)"_s);
    wrong("a flag given a value", monitor, {u"--once=5"_s, u"3"_s},
          u"opcija \"--once\" ne prima vrednost"_s);
    wrong("-v without --period", send, {u"-v"_s, u"F0"_s}, u"--verbose vazi samo uz --period"_s);
    wrong("count zero", send, {u"-t5"_s, u"-n0"_s, u"F0"_s},
          u"--count: broj povorki mora biti ceo broj veci od 0, a zadato je \"0\""_s);
    wrong("count without period", send, {u"-n5"_s, u"F0"_s}, u"--count vazi samo uz --period"_s);
    wrong("rate is no number", send, {u"-bbrzo"_s, u"F0"_s},
          u"--rate: brzina mora biti ceo pozitivan broj b/s, a zadato je \"brzo\""_s);
    wrong("a device without a path", monitor, {u"--device="_s},
          u"--device: putanja uredjaja je prazna"_s);
    wrong("monitor without a number", monitor, {},
          u"nedostaje argument N (ili --device PUTANJA)"_s);

    // Port numbers by the window's rule and in its words, before any device or link is touched.
    wrong("port below one", send, {u"-p0"_s, u"F0"_s}, OperatorText::portBelowOne(0).description);
    wrong("monitor port below one", monitor, {u"0"_s}, OperatorText::portBelowOne(0).description);
    wrong("port out of range", send, {u"--port=40000"_s, u"F0"_s},
          OperatorText::portOutOfRange(u"40000"_s).description);
    wrong("port no number, quoted short", send, {u"-p"_s, QString(100, u'x'), u"F0"_s},
          u"Port \"xxxxxxxxxxxxxxxxxxxxx...\" nije ceo broj; upisite broj porta, npr. 1"_s);
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
    QVERIFY(
        QDir(home.path()).mkdir(u"run"_s, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
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
