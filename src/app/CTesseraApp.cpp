#include "CTesseraApp.h"

#include "CTesseraDlg.h"

CTesseraApp theApp;

bool CTesseraApp::InitInstance()
{
    CTesseraDlg dialog;
    dialog.exec();
    return false;
}
