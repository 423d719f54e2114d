#include <QApplication>

#include "CTesseraApp.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    // Lets the desktop match the window with the installed menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tesseraproject.Tessera"));
    if (theApp.InitInstance())
        return application.exec();
    return 0;
}
