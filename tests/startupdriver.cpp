// The start-up routine as a real process for tst_startup: the real lock, settings and window,
// with the message boxes printed instead of shown. Prints "window" once the window is up; input
// on standard input presses the window's "Kraj" button.

#include "app/startup.h"
#include "app/vorlagen.h"

#include <QApplication>
#include <QPushButton>
#include <QSocketNotifier>
#include <cstdio>
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
    print(QStringLiteral("window"));

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        input.setEnabled(false);
        if (VorlaGen *window = Module1::mainWindow())
            window->findChild<QPushButton *>(QStringLiteral("cmdKraj"))->click();
    });
    const int result = QApplication::exec();
    delete Module1::mainWindow();
    return result;
}
