#include "CliOptions.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <map>
#include <sstream>

#include "Messages.h"
#include "RecoveryTexts.h"
#include "plan/NameOrder.h"

#ifndef TESSERA_VERSION
#define TESSERA_VERSION "unknown"
#endif

namespace tessera::cli {

namespace {

constexpr const char* kProgram = "tessera-cli";

constexpr const char* kSizesFooter =
    "Sizes and offsets: decimal or 0x hex, with an optional K, M, G, T, P, E (1024) or\n"
    "kB, MB, GB, TB, PB, EB (1000) suffix.\n";
constexpr const char* kExitFooter =
    "Exit status: 0 done, 1 failed, 2 bad usage, 130 or 143 stopped by SIGINT or SIGTERM.";

// The command line as CLI11 reads it, with the places the values land.
struct CommandLine {
    CLI::App app{"Cuts a file into byte-range parts and joins files back together.", kProgram};
    CLI::App* plan = nullptr;
    CLI::App* split = nullptr;
    CLI::App* join = nullptr;
    CLI::App* verify = nullptr;
    CLI::App* repair = nullptr;
    std::map<CLI::Option*, Tool> planTools;
    std::map<CLI::Option*, Tool> splitTools;
    std::map<Tool, std::vector<std::string>> values;
    Options o;

    CommandLine();
};

// One option per tool of the table; each may be given any number of times.
std::map<CLI::Option*, Tool> AddTools(CLI::App& command, std::map<Tool, std::vector<std::string>>& values)
{
    std::map<CLI::Option*, Tool> options;
    for (const ToolInfo& info : kToolTable) {
        CLI::Option* option = command.add_option(std::string(info.flag), values[info.tool], std::string(info.help))
                                  ->expected(1)
                                  ->allow_extra_args(false)
                                  ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                                  ->type_name(std::string(info.value))
                                  ->group("Plan (applied in command-line order)");
        options[option] = info.tool;
    }
    return options;
}

CommandLine::CommandLine()
{
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string(kProgram) + " " + TESSERA_VERSION);
    app.footer(std::string(kSizesFooter) + kExitFooter);

    plan = app.add_subcommand("plan", "Print the plan lines that split would copy");
    planTools = AddTools(*plan, values);
    plan->add_flag("--json", o.json, "Print the plan as JSON");
    plan->add_option("source", o.source, "The file to cut")->required();

    split = app.add_subcommand("split", "Copy every plan line into a part file SOURCE.NNN");
    splitTools = AddTools(*split, values);
    split->add_flag("--checksum", o.checksum, "Write SOURCE.sha256 with the SHA-256 of every part");
    split->add_option("--recovery", o.recovery,
                      "Write a recovery set SOURCE.par2 (PAR2) of PERCENT of the parts' slices, or enough to "
                      "rebuild any N lost parts (Npart, Nparts)")
        ->type_name("PERCENT|Nparts");
    split->add_option("--slices", o.slices, "Cut the parts into at most N slices for the recovery set (1 to 32768)")
        ->type_name("N");
    split->add_option("--slice-size", o.sliceSize, "Cut the parts into slices of SIZE (a multiple of 4) instead")
        ->type_name("SIZE");
    split->add_option("--into", o.into, "Write the parts (and the checksums, the recovery set) into DIR")->type_name("DIR");
    split->add_flag("--force", o.force, "Replace an existing checksum file or recovery set");
    split->add_flag("--after-existing", o.afterExisting,
                    "Number the parts after the highest SOURCE.NNN that exists, instead of from .000");
    split->add_option("--name", o.name, "Name the parts of standard input (SOURCE -) NAME.NNN")->type_name("NAME");
    split->add_option("--filter", o.filter,
                      "Hand each part to sh -c COMMAND on its standard input, with FILE set to the part's name, "
                      "instead of writing it")
        ->type_name("COMMAND");
    split->add_flag("--resume", o.resume,
                    "Finish an interrupted split of the same plan: keep its whole parts, write the others");
    split->add_option("source", o.source, "The file to cut, or - for standard input")->required();

    join = app.add_subcommand("join", "Copy the inputs back to back into one file");
    join->add_option("-o,--output", o.output, "The file to write")->required()->type_name("FILE");
    join->add_flag("--force", o.force, "Replace an existing output file");
    join->add_option("--series", o.series, "Join FIRST and every consecutive part after it")->type_name("FIRST");
    join->add_option("--check", o.check, "Check every input, and the result, against a checksum file")
        ->type_name("FILE.sha256");
    join->add_flag("--no-check", o.noCheck, "Do not check against the checksum file beside the first input");
    join->add_option("inputs", o.inputs, "The files to join, in order");

    verify = app.add_subcommand("verify", "Check the files listed in a checksum file");
    verify->add_option("manifest", o.manifest, "The checksum file (SOURCE.sha256)")->required();

    repair = app.add_subcommand("repair", "Rebuild the damaged and missing files of a recovery set");
    repair->add_option("set", o.recoverySet, "The recovery set (BASE.par2 or one of its volumes)")->required();
    repair->add_flag("-q,--quiet", o.quiet, "Print only what fails");

    split->add_flag("--pace", o.pace, "Copy at the window's pace: pauses and a flush after every block");
    split->add_flag("--sync", o.sync, "Flush every part to the disk before the next one begins");
    join->add_flag("--pace", o.pace, "Copy at the window's pace: pauses and a flush after every block");
    join->add_flag("--sync", o.sync, "Flush the output to the disk before the job ends");
    split->add_flag("-q,--quiet", o.quiet, "Show no progress line");
    join->add_flag("-q,--quiet", o.quiet, "Show no progress line");
    verify->add_flag("-q,--quiet", o.quiet, "Print only the files that fail");

    // The sizes apply only where there are tools.
    plan->footer(std::string(kSizesFooter) + kExitFooter);
    split->footer(std::string(kSizesFooter) + kExitFooter);
    join->footer(kExitFooter);
    verify->footer(kExitFooter);
    repair->footer(kExitFooter);
}

std::vector<ToolOption> ToolsInOrder(const CLI::App& command, const std::map<CLI::Option*, Tool>& options,
                                     std::map<Tool, std::vector<std::string>>& values)
{
    std::vector<ToolOption> tools;
    std::map<Tool, std::size_t> taken;
    for (CLI::Option* option : command.parse_order()) {
        const auto found = options.find(option);
        if (found == options.end())
            continue;
        const Tool tool = found->second;
        const std::vector<std::string>& given = values[tool];
        if (taken[tool] < given.size())
            tools.push_back({tool, given[taken[tool]++]});
    }
    return tools;
}

// Edits (insertions, deletions, substitutions, swaps of neighbours) from a to b.
std::size_t Distance(std::string_view a, std::string_view b)
{
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

// "; did you mean 'x'?" for the nearest of names, when it is at most two
// edits away (and fewer than half the typed text).
std::string DidYouMean(std::string_view typed, const std::vector<std::string>& names)
{
    const std::string* best = nullptr;
    std::size_t bestDistance = 0;
    for (const std::string& name : names) {
        const std::size_t d = Distance(typed, name);
        if (best == nullptr || d < bestDistance) {
            best = &name;
            bestDistance = d;
        }
    }
    if (best == nullptr || bestDistance > 2 || bestDistance * 2 >= typed.size())
        return {};
    return "; did you mean " + Quoted(*best) + "?";
}

const std::vector<std::string> kCommands{"plan", "split", "join", "verify", "repair"};

// The options of a command: "--size" or "-o" to the option.
std::map<std::string, const CLI::Option*> OptionsOf(const CLI::App& command)
{
    std::map<std::string, const CLI::Option*> options;
    for (const CLI::Option* option : command.get_options()) {
        for (const std::string& name : option->get_lnames())
            options["--" + name] = option;
        for (const std::string& name : option->get_snames())
            options["-" + name] = option;
    }
    return options;
}

bool TakesValue(const CLI::Option* option)
{
    return option->get_type_size() > 0 && option->get_expected_min() > 0;
}

// The GNU-style message for a command line CLI11 refused: the first unknown
// command or option (with the nearest known one), or the option left without
// its value. Empty when none of these is the cause.
std::string Diagnose(const CommandLine& line, int argc, const char* const* argv)
{
    if (argc < 2)
        return "expected a command: plan, split, join, verify or repair";
    const std::string_view first = argv[1];
    const CLI::App* command = nullptr;
    for (const CLI::App* c : {line.plan, line.split, line.join, line.verify, line.repair}) {
        if (c->get_name() == first)
            command = c;
    }
    if (!command) {
        if (first.starts_with("-")) {
            for (const CLI::App* c : {line.plan, line.split, line.join, line.verify, line.repair}) {
                if (OptionsOf(*c).contains(std::string(first.substr(0, first.find('=')))))
                    return "expected a command (plan, split, join, verify or repair) before " + Quoted(first);
            }
            const std::string name(first.substr(0, first.starts_with("--") ? first.find('=') : 2));
            return "unrecognized option " + Quoted(first.starts_with("--") ? name : std::string(first)) +
                   DidYouMean(name, {"--help", "--version"});
        }
        return "unknown command " + Quoted(first) + DidYouMean(first, kCommands);
    }
    const auto options = OptionsOf(*command);
    std::vector<std::string> longNames;
    for (const auto& [name, option] : options) {
        if (name.starts_with("--"))
            longNames.push_back(name);
    }
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--")
            break;
        if (arg.size() < 2 || arg[0] != '-')
            continue;
        const std::string name(arg.substr(0, arg.starts_with("--") ? arg.find('=') : 2));
        const auto found = options.find(name);
        if (found == options.end()) {
            return "unrecognized option " + Quoted(arg.starts_with("--") ? name : std::string(arg)) +
                   DidYouMean(name, longNames);
        }
        if (!TakesValue(found->second) || arg.size() > name.size())
            continue;
        if (i + 1 >= argc)
            return "option " + Quoted(name) + " requires a " + found->second->get_type_name();
        ++i;
    }
    return {};
}

// Writes help or the version; false, with the reason said, when the output
// cannot take it (a full disk, a closed pipe).
bool WriteOut(std::ostream& out, std::ostream& err, const std::string& text)
{
    errno = 0;
    out << text;
    out.flush();
    if (out)
        return true;
    const int error = errno;
    err << kProgram << ": " << WithError("cannot write to standard output", error) << '\n';
    return false;
}

// An option that names a file or a folder given an empty value: never right.
std::optional<std::string> EmptyName(const CLI::App& command, const char* option, const std::string& value,
                                     const char* what)
{
    const CLI::Option* given = command.get_option_no_throw(option);
    if (given == nullptr || given->count() == 0 || !value.empty())
        return std::nullopt;
    return std::string(option) + " '': expected " + what;
}

// What standard input, --name, --filter and --resume allow with each other
// and with the tools.
std::optional<std::string> CheckStreamOptions(const Options& o)
{
    const bool stream = o.source == "-";
    if (o.command == Command::Plan && stream)
        return "plan needs a file: standard input has no size to plan against";
    if (o.command != Command::Split)
        return std::nullopt;
    if (stream) {
        if (o.name.empty())
            return "standard input has no name for its parts: give --name NAME";
        std::size_t sizes = 0;
        for (const ToolOption& tool : o.tools) {
            if (tool.tool == Tool::Size) {
                ++sizes;
            } else if (tool.tool != Tool::Snap) {
                return std::string(ToolFlag(tool.tool)) +
                       " needs the source's size, which standard input has not: only --size and --snap cut a stream";
            }
        }
        if (sizes != 1)
            return "standard input is cut by one --size (and --snap)";
        if (o.resume)
            return "--resume checks the parts against the source, and standard input cannot be read again";
    } else if (!o.name.empty()) {
        return "--name names the parts of standard input; give - as the source";
    }
    if (!o.filter.empty()) {
        if (!o.recovery.empty() || !o.slices.empty() || !o.sliceSize.empty())
            return "--recovery reads the parts back, and with --filter there are none to read";
        if (o.resume)
            return "--resume checks the parts written, and with --filter there are none";
    }
    if (o.resume && o.afterExisting)
        return "--resume finishes the parts from .000; --after-existing starts a new run after them";
    return std::nullopt;
}

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    CommandLine line;
    Options& o = line.o;
    CLI::App& app = line.app;

    const auto refuse = [&](const std::string& why) {
        err << kProgram << ": " << why << "\nTry '" << kProgram << " --help' for more information.\n";
        return ParsedCommandLine{std::nullopt, kExitUsage};
    };
    const auto said = [&](const CLI::Error& e) {
        std::ostringstream text, ignored;
        const int status = app.exit(e, text, ignored);
        return ParsedCommandLine{std::nullopt, WriteOut(out, err, text.str()) ? status : kExitFailed};
    };
    // "help" and "help COMMAND" are --help of the program or of the command.
    std::vector<const char*> helpArgs;
    if (argc >= 2 && std::string_view(argv[1]) == "help") {
        if (argc > 3)
            return refuse("help takes at most one command");
        helpArgs.push_back(argv[0]);
        if (argc == 3) {
            const std::string_view topic = argv[2];
            if (std::find(kCommands.begin(), kCommands.end(), topic) == kCommands.end())
                return refuse("unknown command " + Quoted(topic) + DidYouMean(topic, kCommands));
            helpArgs.push_back(argv[2]);
        }
        helpArgs.push_back("--help");
        argc = static_cast<int>(helpArgs.size());
        argv = helpArgs.data();
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return said(e);
    } catch (const CLI::CallForAllHelp& e) {
        return said(e);
    } catch (const CLI::CallForVersion& e) {
        return said(e);
    } catch (const CLI::ParseError& e) {
        const std::string why = Diagnose(line, argc, argv);
        return refuse(why.empty() ? e.what() : why);
    }

    const CLI::App* command = nullptr;
    if (line.plan->parsed()) {
        o.command = Command::Plan;
        o.tools = ToolsInOrder(*line.plan, line.planTools, line.values);
        command = line.plan;
    } else if (line.split->parsed()) {
        o.command = Command::Split;
        o.tools = ToolsInOrder(*line.split, line.splitTools, line.values);
        command = line.split;
    } else if (line.join->parsed()) {
        o.command = Command::Join;
        command = line.join;
    } else if (line.verify->parsed()) {
        o.command = Command::Verify;
        command = line.verify;
    } else {
        o.command = Command::Repair;
        command = line.repair;
    }

    for (const auto& empty : {EmptyName(*command, "--into", o.into, "a folder name"),
                              EmptyName(*command, "--output", o.output, "a file name"),
                              EmptyName(*command, "--series", o.series, "a file name"),
                              EmptyName(*command, "--check", o.check, "a file name"),
                              EmptyName(*command, "source", o.source, "a file name"),
                              EmptyName(*command, "manifest", o.manifest, "a file name"),
                              EmptyName(*command, "set", o.recoverySet, "a file name"),
                              EmptyName(*command, "--name", o.name, "a file name"),
                              EmptyName(*command, "--filter", o.filter, "a command")}) {
        if (empty)
            return refuse(*empty);
    }

    if ((o.command == Command::Plan || o.command == Command::Split) && o.tools.empty()) {
        std::string flags;
        for (const ToolInfo& info : kToolTable) {
            if (info.tool != Tool::Snap)
                flags += (flags.empty() ? "" : ", ") + std::string(info.flag);
        }
        return refuse("no plan: give one or more of " + flags);
    }
    for (const ToolOption& tool : o.tools) {
        if (const std::optional<std::string> wrong = CheckTool(tool))
            return refuse(*wrong);
    }
    const auto count = [&](Tool tool) {
        return std::count_if(o.tools.begin(), o.tools.end(), [tool](const ToolOption& t) { return t.tool == tool; });
    };
    if (count(Tool::Snap) > 1)
        return refuse("--snap can be given only once");
    if (count(Tool::Snap) == 1 && count(Tool::Size) == 0)
        return refuse("--snap ends the pieces of --size; give --size too");
    std::size_t stdinPlans = 0;
    for (const ToolOption& tool : o.tools)
        stdinPlans += tool.tool == Tool::PlanFile && tool.value == "-";
    if (stdinPlans > 1)
        return refuse("--plan - can be given only once");
    if (const std::optional<std::string> wrong = ReadRecoveryOptions(o.recovery, o.slices, o.sliceSize, o.recoveryAsk))
        return refuse(*wrong);
    if (const std::optional<std::string> wrong = CheckStreamOptions(o))
        return refuse(*wrong);
    if (o.command == Command::Join) {
        if (!o.series.empty() && SeriesNumber(o.series).empty())
            return refuse("--series " + Quoted(o.series) + ": the first part must end in a dot and digits, as .000");
        if (!o.series.empty() && !o.inputs.empty())
            return refuse("--series takes the first part; give no other inputs");
        if (o.series.empty() && o.inputs.empty())
            return refuse("nothing to join: give the inputs or --series FIRST");
        if (o.noCheck && !o.check.empty())
            return refuse("--check and --no-check cannot be given together");
    }
    return {std::move(o), kExitDone};
}

std::vector<std::string> CommandOptionNames(std::string_view command)
{
    const CommandLine line;
    for (const CLI::App* c : {line.plan, line.split, line.join, line.verify, line.repair}) {
        if (c->get_name() != command)
            continue;
        std::vector<std::string> names;
        for (const auto& [name, option] : OptionsOf(*c)) {
            if (name.starts_with("--"))
                names.push_back(name);
        }
        return names;
    }
    return {};
}

}  // namespace tessera::cli
