// SPDX-License-Identifier: MIT
#include "app/startup.h"

#include "app/qtstrings.h"
#include "app/singleinstance.h"
#include "app/vorlagen.h"
#include "cli/signalbridge.h"
#include "serial/seriallines.h"
#include "texts/failures.h"

#include <QApplication>
#include <QPointer>
#include <QSettings>
#include <memory>
#include <utility>

namespace Module1 {

namespace {

// What the start-up keeps for the life of the process: the one-instance lock, the window and the
// owner of the serial lines. Its end runs the program's orderly end, so the end also happens when
// a library ends the process through exit() (Qt's X11 plugin does that when the display goes
// away at a logout): neither aboutToQuit nor anything on main()'s stack runs then, but the
// destructor of an object with static storage does. It is made inside Main(), after the
// application object, so it goes before the state Qt made up to then.
class Program
{
public:
    ~Program() { end(); }

    // Every way out ends here, once: nothing is sent any more, and the devices are closed by the
    // program itself before the process ends. A second SIGTERM or SIGINT cuts the wait short.
    void end()
    {
        if (std::exchange(m_ended, true))
            return;
        SignalBridge::endBegun();
        if (window)
            window->trainSender().endForExit();
        lines.finish(SerialLines::kExitGrace, &SignalBridge::urgency);
    }

    SerialLines lines; // closed for good by end(); the lock below is given up after it
    QtStrings qtStrings;
    std::unique_ptr<SingleInstance> instance;
    QPointer<VorlaGen> window;

private:
    bool m_ended = false;
};

Program &program()
{
    static Program kept;
    return kept;
}

// Nothing supplies their values and nothing reads them back; they are written empty.
// Linux: ~/.config/vorlagen/vorlagen.conf ($XDG_CONFIG_HOME), Windows:
// HKEY_CURRENT_USER\Software\vorlagen\vorlagen.
void writeSettings()
{
    QSettings settings(QStringLiteral("vorlagen"), QStringLiteral("vorlagen"));
    settings.beginGroup(QStringLiteral("Database"));
    settings.setValue(QStringLiteral("Path"), QString());
    settings.setValue(QStringLiteral("FileName"), QString());
    settings.endGroup();
    settings.sync();
}

} // namespace

bool Main(Messenger &messenger)
{
    Program &kept = program();
    QCoreApplication::installTranslator(&kept.qtStrings);
    kept.instance = std::make_unique<SingleInstance>();
    if (!kept.instance->tryAcquire()) {
        messenger.information(OperatorText::alreadyRunningTitle(), OperatorText::alreadyRunning());
        return false;
    }
    kept.window = new VorlaGen(Engine::systemParts(kept.lines));
    writeSettings();
    kept.window->show();
    return true;
}

int Run()
{
    SignalBridge bridge;
    QObject::connect(&bridge, &SignalBridge::endRequested, qApp, [] {
        // As "Kraj"; an open message box ends with the event loops.
        if (VorlaGen *window = program().window)
            window->close();
        QCoreApplication::quit();
    });
    // Where the session's end comes as this signal alone (Windows), the process may not live
    // past it.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [] { program().end(); });
    const int result = QApplication::exec();
    program().end();
    delete program().window.data();
    return result;
}

VorlaGen *mainWindow()
{
    return program().window.data();
}

} // namespace Module1
