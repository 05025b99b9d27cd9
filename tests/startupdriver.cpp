// SPDX-License-Identifier: MIT
// The program as a real process for tst_startup: the real start-up, lock, settings, window, port
// and end, with the message boxes printed instead of shown. Prints "window" once the window is
// up. Each line on standard input is a command, answered with "done <name> repeating=<0|1>
// open=<0|1>" (the state it left) once it has run: "txtPort=7" types into a field, "cmdKraj"
// presses a button, "chkDTR" clicks a box, and "exit" ends the process through exit(), as a library
// does when the display goes away.

#include "app/startup.h"
#include "app/vorlagen.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

void print(const QString &line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

class PrintingMessenger : public Messenger
{
public:
    void critical(const QString &title, const QString &text) override
    {
        print(QStringLiteral("critical|%1|%2").arg(title, text));
    }
    void information(const QString &title, const QString &text) override
    {
        print(QStringLiteral("information|%1|%2").arg(title, text));
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    PrintingMessenger messenger;
    if (!Module1::Main(messenger))
        return 0;
    Module1::mainWindow()->setMessenger(&messenger);
    print(QStringLiteral("window"));

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);
            return;
        }
        pending.append(buffer, int(n));
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
            const QString line = QString::fromUtf8(pending.left(end));
            if (line == QLatin1String("exit"))
                std::exit(0);
            VorlaGen *window = Module1::mainWindow();
            if (!window)
                continue;
            const QString name = line.section(QLatin1Char('='), 0, 0);
            if (auto *field = window->findChild<QLineEdit *>(name))
                field->setText(line.section(QLatin1Char('='), 1));
            else if (auto *button = window->findChild<QAbstractButton *>(name))
                button->click();
            print(QStringLiteral("done %1 repeating=%2 open=%3")
                      .arg(name)
                      .arg(int(window->trainSender().isRepeating()))
                      .arg(int(window->port().portOpen())));
        }
    });
    return Module1::Run();
}
