#pragma once

#include <sys/types.h>

#include <string>

#include "fileio/NFilePSDK.h"

namespace tessera {

// A part handed to a command instead of written to a file: `sh -c COMMAND`
// with FILE set to the part's name in its environment, reading the part's
// bytes on its standard input. Its standard output and error are the
// program's. A command that stops reading early only loses the rest of its
// part: Write ends short with EPIPE, which the caller passes over.
class PartFilter {
public:
    PartFilter() = default;
    PartFilter(const PartFilter&) = delete;
    PartFilter& operator=(const PartFilter&) = delete;
    // A command still running gets the end of its input and is waited for.
    ~PartFilter();

    // Starts the command; 0 or the errno.
    [[nodiscard]] int Start(const std::string& command, const std::string& file);
    // Where the part's bytes go.
    [[nodiscard]] NFile& Input() { return input_; }

    // How the command ended.
    struct Exit {
        bool exited = false;  // by exit(): status; otherwise by signal
        int status = 0;
        int signal = 0;
        [[nodiscard]] bool Success() const { return exited && status == 0; }
    };
    // Ends its input and waits for the command to end.
    [[nodiscard]] Exit Finish();

private:
    NFilePSDK input_;
    pid_t pid_ = -1;
};

}  // namespace tessera
