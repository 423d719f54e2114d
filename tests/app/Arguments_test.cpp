#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/Arguments.h"

using tessera::AbsolutePath;
using tessera::ParseArguments;
using Names = std::vector<std::string>;

namespace {

TEST(ArgumentsTest, OneFileSplitsSeveralJoinInOrder)
{
    struct Case {
        Names args;
        Names split;
        Names join;
    };
    const Case cases[] = {
        {{}, {}, {}},
        {{"a.avi"}, {"/w/a.avi"}, {}},
        {{"c", "/abs/a", "b"}, {}, {"/w/c", "/abs/a", "/w/b"}},
        {{"--split", "x"}, {"/w/x"}, {}},
        {{"--join", "b", "a"}, {}, {"/w/b", "/w/a"}},
        {{"--join", "one"}, {}, {"/w/one"}},
        {{"--split", "s", "--join", "j1", "j2"}, {"/w/s"}, {"/w/j1", "/w/j2"}},
        // After "--" a name that looks like an option is a file.
        {{"--", "--split"}, {"/w/--split"}, {}},
        // Bytes that are no UTF-8 pass through untouched.
        {{"\xff\xfe.bin"}, {"/w/\xff\xfe.bin"}, {}},
    };
    for (const Case& c : cases) {
        const tessera::ParsedArguments parsed = ParseArguments(c.args, "/w");
        std::string joined;
        for (const std::string& a : c.args)
            joined += a + " ";
        EXPECT_FALSE(parsed.exitCode) << joined << parsed.message;
        EXPECT_EQ(parsed.files.split, c.split) << joined;
        EXPECT_EQ(parsed.files.join, c.join) << joined;
    }
}

TEST(ArgumentsTest, UsageErrorsAndHelpEndWithoutAWindow)
{
    for (const Names& args : {Names{"--split"}, Names{"--split", "a", "b"}, Names{"--join"}, Names{"--bogus"},
                              Names{"a", "--join", "b"}, Names{"--split", "a", "--split", "b"}}) {
        const tessera::ParsedArguments parsed = ParseArguments(args, "/w");
        ASSERT_TRUE(parsed.exitCode) << args.front();
        EXPECT_EQ(*parsed.exitCode, 2) << args.front();
        EXPECT_FALSE(parsed.message.empty());
    }
    const tessera::ParsedArguments help = ParseArguments({"--help"}, "/w");
    ASSERT_TRUE(help.exitCode);
    EXPECT_EQ(*help.exitCode, 0);
    EXPECT_NE(help.message.find("--join"), std::string::npos);
}

TEST(ArgumentsTest, AbsolutePathDropsOnlyDotComponents)
{
    struct Case {
        const char* path;
        const char* cwd;
        const char* expected;
    };
    const Case cases[] = {
        {"a", "/w", "/w/a"},
        {"./a", "/w", "/w/a"},
        {"a/./b", "/w/", "/w/a/b"},
        {"../a", "/w/x", "/w/x/../a"},  // ".." is left to the file system (symbolic links)
        {"/abs//x", "/w", "/abs/x"},
        {"d/", "/w", "/w/d/"},  // still names a folder
        {".", "/", "/"},
        {"a", "", "a"},  // no known current folder: stays relative
        {"", "/w", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AbsolutePath(c.path, c.cwd), c.expected) << c.path << " in " << c.cwd;
}

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadAll(int fd)
{
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

// Runs the program with DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM unset.
ProgramRun RunWithoutDisplay(const Names& args)
{
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        ::unsetenv("QT_QPA_PLATFORM");
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        std::vector<char*> argv{const_cast<char*>(TESSERA_BINARY)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(TESSERA_BINARY, argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    ProgramRun run;
    run.out = ReadAll(out[0]);
    run.err = ReadAll(err[0]);
    ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(NoDisplayTest, SaysSoInOneLineAndPointsToTheCommandLineTool)
{
    if (std::string(TESSERA_BINARY).empty())
        GTEST_SKIP() << "the program is not built here";
    for (const Names& args : {Names{}, Names{"some-file"}}) {
        const ProgramRun run = RunWithoutDisplay(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        ASSERT_FALSE(run.err.empty());
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;  // one line
        EXPECT_NE(run.err.find("tessera-cli"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("display"), std::string::npos) << run.err;
    }
    // Help needs no display.
    const ProgramRun help = RunWithoutDisplay({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--split"), std::string::npos);
}

}  // namespace
