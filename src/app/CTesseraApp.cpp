#include "CTesseraApp.h"

#include "CTesseraDlg.h"

CTesseraApp theApp;

bool CTesseraApp::InitInstance()
{
    CTesseraDlg dialog;
    if (!startFiles_.split.empty() || !startFiles_.join.empty())
        dialog.OpenFiles(startFiles_.split, startFiles_.join);
    dialog.exec();
    return false;
}
