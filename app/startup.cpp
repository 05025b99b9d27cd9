#include "app/startup.h"

#include "app/singleinstance.h"
#include "app/vorlagen.h"

#include <QPointer>
#include <QSettings>
#include <memory>

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

} // namespace

bool Main(Messenger &messenger)
{
    instance = std::make_unique<SingleInstance>();
    if (!instance->tryAcquire()) {
        messenger.information(QStringLiteral("Informacija !"),
                              QStringLiteral("Program je vec startovan!"));
        return false;
    }
    window = new VorlaGen();
    writeSettings();
    window->show();
    return true;
}

VorlaGen *mainWindow()
{
    return window.data();
}

} // namespace Module1
