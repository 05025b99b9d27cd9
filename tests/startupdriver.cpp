// The start-up routine as a real process for tst_startup: the real lock, settings and window,
// with the message boxes printed instead of shown. Prints "window" once the window is up; a line
// "kraj" on standard input presses the window's "Kraj" button.

#include "app/startup.h"
#include "app/vorlagen.h"

#include <QApplication>
#include <QPushButton>
#include <QSocketNotifier>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

class PrintingMessenger : public Messenger
{
public:
    void critical(const QString &title, const QString &text) override
    {
        print("critical", title, text);
    }
    void information(const QString &title, const QString &text) override
    {
        print("information", title, text);
    }

private:
    static void print(const char *kind, const QString &title, const QString &text)
    {
        std::printf("%s|%s|%s\n", kind, title.toUtf8().constData(), text.toUtf8().constData());
        std::fflush(stdout);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    PrintingMessenger messenger;
    if (!Module1::Main(messenger))
        return 0;
    std::printf("window\n");
    std::fflush(stdout);

#ifdef Q_OS_UNIX
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray received;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);
            return;
        }
        received.append(buffer, n);
        if (received.contains("kraj\n")) {
            input.setEnabled(false);
            if (VorlaGen *window = Module1::mainWindow())
                window->findChild<QPushButton *>(QStringLiteral("cmdKraj"))->click();
        }
    });
#endif

    const int result = QApplication::exec();
    delete Module1::mainWindow();
    return result;
}
