#pragma once

#include <string>

namespace tessera {

// The folder of the running executable, ending with '/'; empty until
// ApplyProcessSettings has run (or when it could not be found).
const std::string& ModuleDirectory();

// Run once while the main dialog initialises: finds the executable's folder,
// sets the locale, makes that folder the current directory and creates or
// empties logName there, holding it open (never written) until the process
// ends. Failures are not reported; the program runs on.
void ApplyProcessSettings(const std::string& logName);

}  // namespace tessera
