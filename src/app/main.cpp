#include <QApplication>

#include <cstdio>
#include <string>
#include <vector>

#include "Arguments.h"
#include "CTesseraApp.h"

namespace {

int Finish(const tessera::ParsedArguments& parsed)
{
    std::fputs(parsed.message.c_str(), *parsed.exitCode == 0 ? stdout : stderr);
    return *parsed.exitCode;
}

}  // namespace

int main(int argc, char** argv)
{
    // Names on the command line are relative to the folder the program was
    // started in; the dialog later makes the program's own folder current.
    const std::string cwd = tessera::CurrentDirectory();

    // Without a display Qt would abort with a message about platform plugins.
    if (!tessera::HasDisplay(std::vector<std::string>(argv + 1, argv + argc))) {
        const tessera::ParsedArguments parsed =
            tessera::ParseArguments(std::vector<std::string>(argv + 1, argv + argc), cwd);
        if (parsed.exitCode)
            return Finish(parsed);
        std::fputs("tessera: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                   "to split or join without a window, use tessera-cli\n",
                   stderr);
        return 1;
    }

    QApplication application(argc, argv);
    // QApplication has taken its own options (-platform, -style, ...) out of argv.
    const tessera::ParsedArguments parsed =
        tessera::ParseArguments(std::vector<std::string>(argv + 1, argv + argc), cwd);
    if (parsed.exitCode)
        return Finish(parsed);

    QCoreApplication::setOrganizationName(QStringLiteral("Tessera"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("tesseraproject.org"));
    QCoreApplication::setApplicationName(QStringLiteral("Tessera"));
    // Lets the desktop match the window with the installed menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tesseraproject.Tessera"));

    theApp.SetStartFiles(parsed.files);
    if (theApp.InitInstance())
        return application.exec();
    return 0;
}
