#include "PartFilter.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

extern char** environ;

namespace tessera {

namespace {

// The environment with FILE set to file, for the command.
std::vector<std::string> EnvironmentWith(const std::string& file)
{
    std::vector<std::string> variables;
    for (char** v = environ; v && *v; ++v) {
        if (std::string_view(*v).starts_with("FILE="))
            continue;
        variables.emplace_back(*v);
    }
    variables.push_back("FILE=" + file);
    return variables;
}

}  // namespace

int PartFilter::Start(const std::string& command, const std::string& file)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return errno;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // The command reads the pipe as its standard input, and starts with the
    // signals as a shell expects them: none blocked, SIGPIPE and the stop
    // signals at their defaults.
    posix_spawn_file_actions_adddup2(&actions, ends[0], STDIN_FILENO);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> environment = EnvironmentWith(file);
    std::vector<char*> envp;
    for (std::string& v : environment)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string shell = "sh", dashC = "-c", text = command;
    char* argv[] = {shell.data(), dashC.data(), text.data(), nullptr};

    const int error = ::posix_spawn(&pid_, "/bin/sh", &actions, &attributes, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(ends[0]);
    if (error != 0) {
        ::close(ends[1]);
        pid_ = -1;
        return error;
    }
    input_ = NFilePSDK::Adopt(ends[1], true);
    return 0;
}

PartFilter::Exit PartFilter::Finish()
{
    Exit exit;
    input_.Close();
    if (pid_ < 0)
        return exit;
    int status = 0;
    pid_t got;
    do {
        got = ::waitpid(pid_, &status, 0);
    } while (got < 0 && errno == EINTR);
    pid_ = -1;
    if (got < 0)
        return exit;
    if (WIFEXITED(status)) {
        exit.exited = true;
        exit.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        exit.signal = WTERMSIG(status);
    }
    return exit;
}

PartFilter::~PartFilter()
{
    if (pid_ >= 0)
        (void)Finish();
}

}  // namespace tessera
