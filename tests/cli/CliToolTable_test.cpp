// The tool table is written once (kToolTable); the option parser and --help
// come from it, and the bash completion and the manual page are held to it
// here: each names exactly the options each command has.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CliOptions.h"
#include "PlanTools.h"

namespace tessera::cli {
namespace {

std::string ReadSource(const std::string& relative)
{
    std::ifstream in(std::string(TESSERA_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::set<std::string> Words(const std::string& text)
{
    std::istringstream in(text);
    std::set<std::string> words;
    for (std::string w; in >> w;)
        words.insert(w);
    return words;
}

std::set<std::string> ToolFlags()
{
    std::set<std::string> flags;
    for (const ToolInfo& info : kToolTable)
        flags.insert(std::string(info.flag));
    return flags;
}

std::set<std::string> Options(const char* command)
{
    const std::vector<std::string> names = CommandOptionNames(command);
    return {names.begin(), names.end()};
}

// The text between two lines that start with "# ".
std::string Section(const std::string& page, const std::string& title)
{
    const std::size_t from = page.find("\n# " + title + "\n");
    EXPECT_NE(from, std::string::npos) << title;
    const std::size_t to = page.find("\n# ", from + 1);
    return page.substr(from, to - from);
}

TEST(ToolTable, ParserAndHelpFollowTheTable)
{
    for (const char* command : {"plan", "split"}) {
        const std::set<std::string> options = Options(command);
        for (const std::string& flag : ToolFlags())
            EXPECT_TRUE(options.count(flag)) << command << " " << flag;
        std::ostringstream out, err;
        const char* argv[] = {"tessera-cli", command, "--help"};
        (void)ParseCommandLine(3, argv, out, err);
        for (const ToolInfo& info : kToolTable) {
            EXPECT_NE(out.str().find(std::string(info.flag) + " " + std::string(info.value)), std::string::npos)
                << command << " " << info.flag;
            EXPECT_NE(out.str().find(std::string(info.help)), std::string::npos) << command << " " << info.flag;
        }
    }
    for (const char* command : {"join", "verify"}) {
        for (const std::string& flag : ToolFlags())
            EXPECT_FALSE(Options(command).count(flag)) << command << " " << flag;
    }
}

TEST(ToolTable, CompletionNamesEveryOptionOfEachCommand)
{
    const std::string script = ReadSource("src/cli/tessera-cli.bash");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(script, m, std::regex("local tools=\"([^\"]*)\"")));
    const std::set<std::string> tools = Words(m[1]);
    EXPECT_EQ(tools, ToolFlags());

    // The options offered after each command, $tools spelled out.
    for (const char* command : {"plan", "split", "join", "verify"}) {
        ASSERT_TRUE(std::regex_search(script, m, std::regex(std::string("\\n *") + command + "\\) options=\"([^\"]*)\"")))
            << command;
        std::set<std::string> offered;
        for (const std::string& w : Words(m[1])) {
            if (w == "$tools")
                offered.insert(tools.begin(), tools.end());
            else
                offered.insert(w);
        }
        EXPECT_EQ(offered, Options(command)) << command;
    }

    // The tools whose value is no file complete nothing; --plan completes files.
    ASSERT_TRUE(std::regex_search(script, m, std::regex("\\n *(--extract[^)]*)\\)\\n *return")));
    std::string valued = m[1];
    std::replace(valued.begin(), valued.end(), '|', ' ');
    std::set<std::string> expected = ToolFlags();
    expected.erase("--plan");
    EXPECT_EQ(Words(valued), expected);
    EXPECT_NE(script.find("--plan|-o|--output|--series|--name)"), std::string::npos);
}

TEST(ToolTable, ManualDescribesEveryToolAndOption)
{
    const std::string page = ReadSource("src/cli/tessera-cli.1.scd");

    // The tools section: one entry per tool, in the table's order, with the
    // value named as in --help.
    const std::string tools = Section(page, "PLANNING TOOLS");
    std::size_t at = 0;
    for (const ToolInfo& info : kToolTable) {
        std::string value = "_" + std::string(info.value) + "_";
        const std::size_t colon = value.find(':');
        if (colon != std::string::npos)
            value.replace(colon, 1, "_:_");
        const std::string entry = "\n*" + std::string(info.flag) + "* " + value + "\n";
        const std::size_t found = tools.find(entry, at);
        EXPECT_NE(found, std::string::npos) << entry;
        if (found != std::string::npos)
            at = found;
    }
    std::set<std::string> described;
    const std::regex heading("\\n\\*(--[a-z0-9-]+)\\*");
    for (auto it = std::sregex_iterator(tools.begin(), tools.end(), heading); it != std::sregex_iterator(); ++it)
        described.insert((*it)[1]);
    EXPECT_EQ(described, ToolFlags());

    // The options section: every other long option of every command.
    std::set<std::string> options;
    for (const char* command : {"plan", "split", "join", "verify"}) {
        for (const std::string& o : Options(command)) {
            if (!ToolFlags().count(o))
                options.insert(o);
        }
    }
    options.insert("--version");  // the program's own, before any command
    const std::string section = Section(page, "OPTIONS");
    // A heading is a line that starts with an option and is followed by its
    // indented description; it may name several ("*-q*, *--quiet*").
    std::set<std::string> headed;
    std::istringstream lines(section);
    std::string line, next;
    std::getline(lines, line);
    const std::regex name("\\*(--[a-z0-9-]+)\\*");
    while (std::getline(lines, next)) {
        if (line.starts_with("*-") && next.starts_with("\t")) {
            for (auto it = std::sregex_iterator(line.begin(), line.end(), name); it != std::sregex_iterator(); ++it)
                headed.insert((*it)[1]);
        }
        line = next;
    }
    EXPECT_EQ(headed, options);
}

}  // namespace
}  // namespace tessera::cli
