#include "CliOptions.h"

#include <CLI/CLI.hpp>

#include <map>

#ifndef TESSERA_VERSION
#define TESSERA_VERSION "unknown"
#endif

namespace tessera::cli {

namespace {

constexpr const char* kProgram = "tessera-cli";

struct ToolFlagText {
    Tool tool;
    const char* name;
    const char* type;
    const char* help;
};

constexpr ToolFlagText kToolFlags[] = {
    {Tool::Extract, "--extract", "OFFSET:SIZE", "Add SIZE bytes from OFFSET, at its place in text order"},
    {Tool::Range, "--range", "START:END", "Add the bytes from START up to END"},
    {Tool::Size, "--size", "SIZE", "Add pieces of SIZE bytes, the last one shorter"},
    {Tool::Pieces, "--pieces", "N", "Add N equal pieces"},
    {Tool::At, "--at", "OFFSETS", "Cut at every offset of a white-space separated list"},
    {Tool::Hex, "--hex", "HEX", "Cut in front of every occurrence of the bytes written in hex"},
    {Tool::Sjis, "--sjis", "TEXT", "Cut in front of every occurrence of TEXT in Shift_JIS (code page 932)"},
    {Tool::PlanFile, "--plan", "FILE", "Add the \"start end\" lines of FILE (- reads standard input)"},
};

// One option per tool; each may be given any number of times.
std::map<CLI::Option*, Tool> AddTools(CLI::App& command, std::map<Tool, std::vector<std::string>>& values)
{
    std::map<CLI::Option*, Tool> options;
    for (const ToolFlagText& flag : kToolFlags) {
        CLI::Option* option = command.add_option(flag.name, values[flag.tool], flag.help)
                                  ->expected(1)
                                  ->allow_extra_args(false)
                                  ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                                  ->type_name(flag.type)
                                  ->group("Plan (applied in command-line order)");
        options[option] = flag.tool;
    }
    return options;
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

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    Options o;
    CLI::App app{"Cuts a file into byte-range parts and joins files back together.", kProgram};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string(kProgram) + " " + TESSERA_VERSION);
    app.footer("Sizes and offsets: decimal or 0x hex, with an optional K, M, G, T, P, E (1024) or\n"
               "kB, MB, GB, TB, PB, EB (1000) suffix. Exit status: 0 done, 1 failed, 2 bad usage,\n"
               "130 or 143 stopped by SIGINT or SIGTERM.");

    std::map<Tool, std::vector<std::string>> values;

    CLI::App* plan = app.add_subcommand("plan", "Print the plan lines that split would copy");
    const auto planTools = AddTools(*plan, values);
    plan->add_flag("--json", o.json, "Print the plan as JSON");
    plan->add_option("source", o.source, "The file to cut")->required();

    CLI::App* split = app.add_subcommand("split", "Copy every plan line into a part file SOURCE.NNN");
    const auto splitTools = AddTools(*split, values);
    split->add_flag("--checksum", o.checksum, "Write SOURCE.sha256 with the SHA-256 of every part");
    split->add_option("--into", o.into, "Write the parts (and the checksums) into DIR")->type_name("DIR");
    split->add_flag("--force", o.force, "Replace an existing checksum file");
    split->add_option("source", o.source, "The file to cut")->required();

    CLI::App* join = app.add_subcommand("join", "Copy the inputs back to back into one file");
    join->add_option("-o,--output", o.output, "The file to write")->required()->type_name("FILE");
    join->add_flag("--force", o.force, "Replace an existing output file");
    join->add_option("--series", o.series, "Join FIRST and every consecutive part after it")
        ->type_name("FIRST");
    join->add_option("--check", o.check, "Check every input, and the result, against a checksum file")
        ->type_name("FILE.sha256");
    join->add_option("inputs", o.inputs, "The files to join, in order");

    CLI::App* verify = app.add_subcommand("verify", "Check the files listed in a checksum file");
    verify->add_option("manifest", o.manifest, "The checksum file (SOURCE.sha256)")->required();

    for (CLI::App* command : {split, join}) {
        command->add_flag("--pace", o.pace, "Copy at the window's pace: pauses and a flush after every block");
        command->add_flag("--sync", o.sync, "Flush every part to the disk before the next one begins");
    }
    for (CLI::App* command : {split, join, verify})
        command->add_flag("-q,--quiet", o.quiet, "Show no progress line");

    const auto refuse = [&](const std::string& why) {
        err << kProgram << ": " << why << "\nTry '" << kProgram << " --help' for more information.\n";
        return ParsedCommandLine{std::nullopt, kExitUsage};
    };
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return {std::nullopt, app.exit(e, out, err)};
    } catch (const CLI::CallForAllHelp& e) {
        return {std::nullopt, app.exit(e, out, err)};
    } catch (const CLI::CallForVersion& e) {
        return {std::nullopt, app.exit(e, out, err)};
    } catch (const CLI::ParseError& e) {
        return refuse(e.what());
    }

    if (plan->parsed()) {
        o.command = Command::Plan;
        o.tools = ToolsInOrder(*plan, planTools, values);
    } else if (split->parsed()) {
        o.command = Command::Split;
        o.tools = ToolsInOrder(*split, splitTools, values);
    } else if (join->parsed()) {
        o.command = Command::Join;
    } else {
        o.command = Command::Verify;
    }

    if ((o.command == Command::Plan || o.command == Command::Split) && o.tools.empty())
        return refuse("no plan: give one or more of --extract, --range, --size, --pieces, --at, --hex, --sjis, --plan");
    for (const ToolOption& tool : o.tools) {
        if (const std::optional<std::string> wrong = CheckTool(tool))
            return refuse(*wrong);
    }
    std::size_t stdinPlans = 0;
    for (const ToolOption& tool : o.tools)
        stdinPlans += tool.tool == Tool::PlanFile && tool.value == "-";
    if (stdinPlans > 1)
        return refuse("--plan - can be given only once");
    if (o.command == Command::Join) {
        if (!o.series.empty() && !o.inputs.empty())
            return refuse("--series takes the first part; give no other inputs");
        if (o.series.empty() && o.inputs.empty())
            return refuse("nothing to join: give the inputs or --series FIRST");
    }
    return {std::move(o), kExitDone};
}

}  // namespace tessera::cli
