// SPDX-License-Identifier: MIT
#include "app/programoptions.h"

#include "cli/commandline.h"

using namespace Qt::StringLiterals;

std::optional<int> handleProgramOptions(int argc, char *argv[])
{
    CommandLine line(u"vorlagen"_s,
                     u"Vorla generator: salje povorku bajtova na serijski port, jednom ili "
                     "periodicno. Bez opcija otvara prozor programa."_s);
    // What QApplication and its platform plugins read themselves (a session manager restarts
    // the program with -session); they pass untouched.
    QList<QCommandLineOption> qtOptions;
    for (const char *name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
          "qwindowicon", "qwindowtitle", "session", "display", "geometry", "title", "icon", "name",
          "visual", "style", "stylesheet", "qmljsdebugger"})
        qtOptions << QCommandLineOption(QString::fromLatin1(name), QString(), u"x"_s);
    for (const char *name :
         {"reverse", "widgetcount", "testability", "nograb", "dograb", "sync", "cmap"})
        qtOptions << QCommandLineOption(QString::fromLatin1(name));
    line.addHiddenOptions(qtOptions);
    return line.process(argc, argv);
}
