#pragma once

#include "Arguments.h"

// The application object: it runs the main dialog and lets the process end.
class CTesseraApp {
public:
    // Files from the command line, handed to the dialog before it shows.
    void SetStartFiles(tessera::StartFiles files) { startFiles_ = std::move(files); }

    // Runs the main dialog modally. Always false: there is no message loop
    // after the dialog, the process ends.
    bool InitInstance();

private:
    tessera::StartFiles startFiles_;
};

extern CTesseraApp theApp;
