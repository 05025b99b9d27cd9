// SPDX-License-Identifier: MIT
#include "app/programoptions.h"

#include "cli/commandline.h"
#include "texts/commandline.h"

#ifdef Q_OS_WIN
#include <cstdio>
#include <windows.h>
#endif

using namespace Qt::StringLiterals;

namespace {

#ifdef Q_OS_WIN
// Whether a standard stream leads somewhere: redirected to a file or a pipe.
bool leadsSomewhere(DWORD stream)
{
    const HANDLE handle = ::GetStdHandle(stream);
    return handle && handle != INVALID_HANDLE_VALUE && ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// The window program has no console of its own, so what the command line prints would go
// nowhere: for the streams that are not redirected it borrows the console of the program that
// started it (cmd, PowerShell), if any, and gives it back before the window opens.
class ParentConsole
{
public:
    ParentConsole()
    {
        const bool out = leadsSomewhere(STD_OUTPUT_HANDLE);
        const bool err = leadsSomewhere(STD_ERROR_HANDLE);
        if ((out && err) || !::AttachConsole(ATTACH_PARENT_PROCESS))
            return;
        m_attached = true;
        if (!out)
            std::freopen("CONOUT$", "w", stdout);
        if (!err)
            std::freopen("CONOUT$", "w", stderr);
    }
    ~ParentConsole()
    {
        if (!m_attached)
            return;
        std::fflush(stdout);
        std::fflush(stderr);
        ::FreeConsole();
    }
    ParentConsole(const ParentConsole &) = delete;
    ParentConsole &operator=(const ParentConsole &) = delete;

private:
    bool m_attached = false;
};
#endif

} // namespace

std::optional<int> handleProgramOptions(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    // Only a call with arguments can print anything; a plain start borrows nothing.
    std::optional<ParentConsole> console;
    if (argc > 1)
        console.emplace();
#endif
    CommandLine line(OperatorText::kWindowProgram, OperatorText::windowProgramSummary());
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
