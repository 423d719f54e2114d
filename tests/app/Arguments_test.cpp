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

TEST(ArgumentsTest, QtGetsOnlyItsOwnOptionsAndNoFileName)
{
    // A folder holding a file named like one of Qt's options.
    char folder[] = "/tmp/tessera-args-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string cwd = folder;
    const std::string reverse = cwd + "/-reverse";
    const int fd = ::open(reverse.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);

    struct Case {
        Names args;
        Names qt;
        Names program;
    };
    const Case cases[] = {
        // After "--" nothing is Qt's.
        {{"--", "-reverse"}, {}, {"--", "-reverse"}},
        {{"--", "-style", "fusion"}, {}, {"--", "-style", "fusion"}},
        // An existing file stays a file name, also before "--".
        {{"-reverse"}, {}, {"-reverse"}},
        {{"./-reverse", "b"}, {}, {"./-reverse", "b"}},
        // Qt's own options, with their values.
        {{"-platform", "offscreen", "a"}, {"-platform", "offscreen"}, {"a"}},
        {{"--style=fusion", "-widgetcount", "--split", "s"}, {"--style=fusion", "-widgetcount"}, {"--split", "s"}},
        {{"-session"}, {"-session"}, {}},
        // Ours, or nobody's: the program's parser answers.
        {{"--join", "x", "-bogus"}, {}, {"--join", "x", "-bogus"}},
        {{"-reverse=1"}, {}, {"-reverse=1"}},
    };
    for (const Case& c : cases) {
        const tessera::DividedArguments divided = tessera::DivideArguments(c.args, cwd);
        EXPECT_EQ(divided.qt, c.qt) << c.args.front();
        EXPECT_EQ(divided.program, c.program) << c.args.front();
    }
    // Without "--" it is an option the program does not know; the message
    // says how to name the file.
    const tessera::ParsedArguments bare = ParseArguments({"-reverse"}, cwd);
    EXPECT_EQ(bare.message, "tessera: unrecognized option '-reverse'; a file of that name goes after \"--\": "
                            "tessera -- -reverse\nTry 'tessera --help' for more information.\n");
    // The name then reaches the dialog as a file.
    const tessera::ParsedArguments parsed =
        ParseArguments(tessera::DivideArguments({"--", "-reverse"}, cwd).program, cwd);
    EXPECT_EQ(parsed.files.split, Names{reverse});
    ::unlink(reverse.c_str());
    ::rmdir(folder);
}

TEST(ArgumentsTest, MessagesNameTheMistakeInTheProgramsName)
{
    struct Case {
        Names args;
        const char* message;
    };
    const Case cases[] = {
        {{"--bogus"}, "tessera: unrecognized option '--bogus'"},
        {{"-reverse"}, "tessera: unrecognized option '-reverse'"},
        {{"--split"}, "tessera: option '--split' requires a FILE"},
        {{"--join"}, "tessera: option '--join' requires at least one FILE"},
        {{"--split", "a", "--split", "b"}, "tessera: option '--split' may be given only once"},
        {{"a", "--join", "b"}, "tessera: a FILE given on its own cannot go with --split or --join"},
    };
    for (const Case& c : cases) {
        const tessera::ParsedArguments parsed = ParseArguments(c.args, "/w");
        ASSERT_TRUE(parsed.exitCode) << c.message;
        EXPECT_EQ(*parsed.exitCode, 2);
        EXPECT_TRUE(parsed.message.starts_with(c.message)) << parsed.message;
        EXPECT_TRUE(parsed.message.ends_with("\nTry 'tessera --help' for more information.\n")) << parsed.message;
    }
    // The help is the program's own, in its own words.
    const tessera::ParsedArguments help = ParseArguments({"-h"}, "/w");
    ASSERT_TRUE(help.exitCode);
    EXPECT_TRUE(help.message.starts_with("Usage: tessera [FILE...]\n")) << help.message;
    EXPECT_EQ(help.message.find("Excludes"), std::string::npos);
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
    const ProgramRun bogus = RunWithoutDisplay({"--bogus"});
    EXPECT_EQ(bogus.status, 2);
    EXPECT_TRUE(bogus.err.starts_with("tessera: unrecognized option '--bogus'")) << bogus.err;
}

}  // namespace
