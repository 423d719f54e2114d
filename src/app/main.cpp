#include <QApplication>

#include "CTesseraApp.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (theApp.InitInstance())
        return application.exec();
    return 0;
}
