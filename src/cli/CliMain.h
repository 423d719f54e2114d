#pragma once

namespace tessera::cli {

// The whole of tessera-cli: reads the command line, runs the command and
// returns the exit status.
int Main(int argc, char** argv);

}  // namespace tessera::cli
