#pragma once

// The application object: it runs the main dialog and lets the process end.
class CTesseraApp {
public:
    // Runs the main dialog modally. Always false: there is no message loop
    // after the dialog, the process ends.
    bool InitInstance();
};

extern CTesseraApp theApp;
