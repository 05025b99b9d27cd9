#include "app/messageboxes.h"
#include "app/startup.h"
#include "app/vorlagen.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("vorlagen"));
    QApplication::setWindowIcon(VorlaGen::icon());

    MessageBoxes boxes;
    if (!Module1::Main(boxes))
        return 0;
    return Module1::Run();
}
