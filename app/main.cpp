#include "app/messageboxes.h"
#include "app/programoptions.h"
#include "app/startup.h"
#include "app/vorlagen.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    if (const auto exitCode = handleProgramOptions(argc, argv))
        return *exitCode;
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("page.codeberg.vorlagen.Vorlagen"));
    QApplication::setWindowIcon(VorlaGen::icon());

    MessageBoxes boxes;
    if (!Module1::Main(boxes))
        return 0;
    const int result = QApplication::exec();
    // The window is gone when it was closed; should the loop end any other way, it still goes
    // before the application object, and releases the port on its way.
    delete Module1::mainWindow();
    return result;
}
