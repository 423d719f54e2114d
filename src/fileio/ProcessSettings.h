#pragma once

#include <string>

namespace tessera {

// The folder of the running executable, ending with '/'; empty until
// ApplyProcessSettings has run (or when it could not be found).
const std::string& ModuleDirectory();

// The folder the program was started in, before start-up made its own folder
// current: relative names the user gives (arguments, a typed join
// destination) are taken from there. Empty when unknown.
const std::string& StartDirectory();
void SetStartDirectory(std::string folder);

// Run once while the main dialog initialises: finds the executable's folder,
// sets the locale, makes that folder the current directory and creates or
// empties logName there, holding it open (never written) until the process
// ends. Only a regular file of that name is emptied: a symlink there is not
// followed, and a FIFO, socket or device is left alone without waiting for
// it. Failures are not reported; the program runs on.
void ApplyProcessSettings(const std::string& logName);

}  // namespace tessera
