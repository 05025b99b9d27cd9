// SPDX-License-Identifier: MIT
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
    return Module1::Run();
}
