// SPDX-License-Identifier: MIT
// Runs wine_nativeline.exe under Wine against a pseudo-terminal linked as COM42 in a private
// Wine prefix, and plays the far end of the line as the program asks (see wine_nativeline.cpp).
// Exits with the program's status, or 77 (skipped) where Wine cannot start.
// Usage: vorlagen-wine-driver WINE64 PROGRAM.exe FOLDER (the prefix and the log go there)
#include "pseudoterminal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <cstdio>
#include <termios.h>

namespace {

constexpr int kSkip = 77;

// Says why the test cannot run; gives `code`, the test's exit status.
int say(int code, const QString &why)
{
    std::printf("%s: %s\n", code == kSkip ? "SKIP" : "FAIL", qPrintable(why));
    return code;
}

// The output rate the terminal was set to, of those the test sets (0: another one).
int rateOf(int device)
{
    termios tio{};
    ::tcgetattr(device, &tio);
    const speed_t speed = ::cfgetospeed(&tio);
    return speed == B9600 ? 9600 : speed == B19200 ? 19200 : speed == B115200 ? 115200 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 4)
        return 2; // usage in the comment above
    const QString wine = argv[1];
    const QString prefix = QString(argv[3]) + "/prefix";
    const QString log = QString(argv[3]) + "/wine.log";
    if (!QFileInfo(wine).isExecutable())
        return say(kSkip, "wine64 not found (" + wine + "); install the package wine64");
    QDir().mkpath(argv[3]);
    QFile::remove(log);
    // Runs wine in the prefix until it ends; its stderr goes to the log.
    const auto start = [&](QProcess &process, const QStringList &arguments) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("WINEPREFIX", prefix);
        environment.insert("WINEDEBUG", "-all");
        environment.insert("WINEDLLOVERRIDES", "mscoree,mshtml="); // no Mono or Gecko prompts
        environment.remove("DISPLAY");
        process.setProcessEnvironment(environment);
        process.setStandardErrorFile(log, QIODevice::Append);
        process.start(wine, arguments);
        return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit;
    };
    // A new prefix takes a while to set up; it stays in the build folder for the next run.
    if (!QFileInfo::exists(prefix + "/system.reg")) {
        QProcess boot;
        boot.setStandardInputFile(QProcess::nullDevice());
        boot.setStandardOutputFile(log, QIODevice::Append);
        if (!start(boot, {"wineboot", "--init"}) || boot.exitCode() != 0)
            return say(kSkip, "Wine cannot start here (wineboot failed, see " + log + ")");
    }
    // Its descriptors are close-on-exec: a copy of the master in Wine's processes would keep
    // the line from hanging up.
    PseudoTerminal far;
    if (!far.ok())
        return say(kSkip, "no pseudo-terminals on this machine");
    // Raw, so that every byte arrives as written.
    termios raw{};
    ::tcgetattr(far.deviceSide(), &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(far.deviceSide(), TCSANOW, &raw);
    const QString port = "com42"; // above the ports Wine links to /dev/ttyS* itself
    const QString link = prefix + "/dosdevices/" + port;
    QFile::remove(link);
    if (!QFile::link(far.path(), link))
        return say(1, "cannot set up " + link + " -> " + far.path());

    QProcess program;
    qsizetype taken = 0;
    QObject::connect(&program, &QProcess::readyReadStandardOutput, [&] {
        while (program.canReadLine()) {
            const QByteArray command = program.readLine().trimmed();
            QByteArray answer = "ok\n";
            if (command == "stall" || command == "read") {
                command == "read" ? far.startReading() : far.stopReading();
            } else if (command == "take") {
                const QByteArray received = far.received();
                answer = received.mid(taken).toHex() + '\n';
                taken = received.size();
            } else if (command == "rate") {
                answer = QByteArray::number(rateOf(far.deviceSide())) + '\n';
            } else if (command == "hangup") {
                far.hangUp();
            } else {
                std::printf("%s\n", command.constData()); // the program's report
                continue;
            }
            program.write(answer);
        }
    });
    const bool ran = start(program, {argv[2], port});
    QFile::remove(link);
    return ran ? program.exitCode() : say(1, "Wine ended abnormally (see " + log + ")");
}
