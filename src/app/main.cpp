#include <QApplication>

#include <cstdio>
#include <string>
#include <vector>

#include "Arguments.h"
#include "CTesseraApp.h"
#include "fileio/ProcessSettings.h"
#include "QtLanguage.h"

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
    tessera::SetStartDirectory(cwd);
    const tessera::DividedArguments divided =
        tessera::DivideArguments(std::vector<std::string>(argv + 1, argv + argc), cwd);

    // Without a display Qt would abort with a message about platform plugins.
    if (!tessera::HasDisplay(divided.qt)) {
        const tessera::ParsedArguments parsed = tessera::ParseArguments(divided.program, cwd);
        if (parsed.exitCode)
            return Finish(parsed);
        std::fputs("tessera: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                   "start the window on a virtual display with xvfb-run -a tessera (Debian package xvfb), "
                   "or split and join with tessera-cli\n",
                   stderr);
        return 1;
    }

    // Qt sees only its own options: a file named like one of them ("-reverse")
    // reaches the program's parser instead.
    std::vector<char*> qtArgv{argv[0]};
    for (const std::string& arg : divided.qt)
        qtArgv.push_back(const_cast<char*>(arg.c_str()));
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(qtArgv.size()) - 1;
    QApplication application(qtArgc, qtArgv.data());
    const tessera::ParsedArguments parsed = tessera::ParseArguments(divided.program, cwd);
    if (parsed.exitCode)
        return Finish(parsed);

    // Qt's own dialogs and buttons in the window's language.
    tessera::ui::LoadQtJapanese();

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
