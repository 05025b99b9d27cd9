// SPDX-License-Identifier: MIT
#include "app/startup.h"

#include "app/singleinstance.h"
#include "app/vorlagen.h"
#include "serial/operatortexts.h"

#include "serial/serialportdevice.h"
#include "train/signalbridge.h"

#include <QApplication>
#include <QPointer>
#include <QSettings>
#include <memory>
#include <utility>

namespace Module1 {

namespace {

// Held for the life of the process: the lock goes with it.
std::unique_ptr<SingleInstance> instance;
QPointer<VorlaGen> window;

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

// Every way out ends here, once: nothing is sent any more, and the devices are closed by the
// program itself before the process ends. A second SIGTERM or SIGINT cuts the wait short.
void endInOrder()
{
    static bool ended = false;
    if (std::exchange(ended, true))
        return;
    SignalBridge::endBegun();
    if (window)
        window->trainSender().endForExit();
    SerialPortDevice::finishAll(SerialPortDevice::kExitGrace, &SignalBridge::hurried);
}

} // namespace

bool Main(Messenger &messenger)
{
    instance = std::make_unique<SingleInstance>();
    if (!instance->tryAcquire()) {
        messenger.information(OperatorText::alreadyRunningTitle(), OperatorText::alreadyRunning());
        return false;
    }
    window = new VorlaGen();
    writeSettings();
    window->show();
    return true;
}

int Run()
{
    SignalBridge bridge;
    QObject::connect(&bridge, &SignalBridge::endRequested, qApp, [] {
        // As "Kraj"; an open message box ends with the event loops.
        if (window)
            window->close();
        QCoreApplication::quit();
    });
    // Where the session's end comes as this signal alone (Windows), the process may not live
    // past it.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, &endInOrder);
    const int result = QApplication::exec();
    endInOrder();
    delete window.data();
    return result;
}

VorlaGen *mainWindow()
{
    return window.data();
}

} // namespace Module1
