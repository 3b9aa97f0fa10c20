// The command line of zyrctl: commands, options and exit codes, wired to
// the commands in commands_*.cpp.
#include "cli/zyrctl.h"

#include "cli/command_table.h"
#include "cli/commands.h"
#include "cli/converter_session.h"
#include "cli/wire_trace.h"
#include "config/converter_choices.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Standard output refused what was written to it: a full disk, a closed pipe.
const char *const unwrittenOutputText = "standard output could not be written (a full disk or a closed pipe?)";

// The help's closing lines, made from the table of exit codes: "  CODE  NAME  MEANING",
// the meaning wrapped under itself.
std::string ExitCodesText()
{
    const std::size_t width = 100, indent = 18;
    std::string text = "Exit codes, the same for every command:";
    std::vector<ExitCodeRow> rows(std::begin(exitCodeTable), std::end(exitCodeTable));
#ifdef ZYR_HIDRAW_NODES
    rows.push_back(linuxExitCodeRow);
#endif
    for (const ExitCodeRow &row : rows) {
        std::string line = "  " + std::to_string(static_cast<int>(row.code)) + "  " + row.name;
        line.resize(indent, ' ');
        std::string word;
        const std::string meaning = std::string(row.meaning) + " ";
        for (char c : meaning) {
            if (c != ' ') {
                word += c;
                continue;
            }
            if (line.size() > indent && line.size() + 1 + word.size() > width) {
                text += "\n" + line;
                line.assign(indent, ' ');
            }
            line += (line.size() > indent ? " " : "") + word;
            word.clear();
        }
        text += "\n" + line;
    }
    return text;
}

// Whether `word` is one of the program's own options that takes a value,
// so that the next word is that value and not a command.
bool TakesValue(CLI::App &app, const std::string &word)
{
    const CLI::Option *option = word.size() > 2 && word[0] == '-' ? app.get_option_no_throw(word) : nullptr;
    return option && option->get_type_size() > 0;
}

// Every command's name, for the message on a word that is none.
std::string CommandNames()
{
    std::vector<const char *> names;
    for (const CommandRow &row : commandTable)
        if (row.parent == row.id)
            names.push_back(row.name);
    return NameList(names, ", ", " or ");
}

struct Options {
    std::string trace;
    double waitSeconds = defaultLockWaitSeconds;
    bool quiet = false;
    bool json = false;
    std::string file, fileB;
    bool force = false;
    WriteOptions write;
    std::vector<std::string> assignments;
    TableOptions table;
    CalcOptions calc;
};

void AddWriteFlags(CLI::App &command, Options &o, bool all)
{
    command.add_flag("--dry-run", o.write.dryRun, "print the differences (fields and registers) and touch nothing");
    command.add_flag("--yes,-y", o.write.yes, "write without asking (needed when standard input is not a console)");
    if (all)
        command.add_flag("--all", o.write.all, "write all of registers 5 to 255, not only those that differ");
}

// The arguments and options of one command of the table.
void AddArguments(CommandId id, CLI::App &command, Options &o)
{
    switch (id) {
    case CommandId::info:
        command.add_flag("--json", o.json, "as JSON");
        break;
    case CommandId::show:
        command.add_option("FILE", o.file, "a backup file (default: the converter)");
        command.add_flag("--json", o.json, "as JSON");
        break;
    case CommandId::backup:
        command.add_option("FILE", o.file, "the backup file to write")->required();
        command.add_flag("--force", o.force, "replace FILE if it exists");
        break;
    case CommandId::restore:
        command.add_option("FILE", o.file, "the backup file")->required();
        AddWriteFlags(command, o, true);
        command.add_flag("--force", o.write.force, "write values the dialog could never have stored");
        break;
    case CommandId::diff:
        command.add_option("A", o.file, "a backup file or the word device")->required();
        command.add_option("B", o.fileB, "a backup file or the word device")->required();
        command.add_flag("--json", o.json, "as JSON");
        break;
    case CommandId::set:
        command
            .add_option("SETTING", o.assignments,
                        "speed=PERCENT (-25.0 to 25.0), sensor=" + SensorNames(layout::typeVssEct, "|", "|") +
                            " (type 2) or " + SensorNames(layout::typeVss, "|", "|") +
                            " (type 3), table=" + TableNames("|", "|"))
            ->required();
        AddWriteFlags(command, o, false);
        break;
    case CommandId::table: {
        command.add_option("NAME", o.table.name, TableNames(", ", " or "))->required();
        CLI::Option *exportOption =
            command.add_option("--export", o.table.exportFile, "save the table as the editor's text")
                ->type_name("FILE");
        CLI::Option *importOption = command
                                        .add_option("--import", o.table.importFile,
                                                    "write the editor's text from FILE (changed registers only)")
                                        ->type_name("FILE");
        CLI::Option *svgOption =
            command.add_option("--svg", o.table.svgFile, "draw the table as an SVG chart")->type_name("FILE");
        exportOption->excludes(importOption)->excludes(svgOption);
        importOption->excludes(svgOption);
        command.add_flag("--force", o.write.force, "replace an existing --export or --svg file");
        AddWriteFlags(command, o, false);
        break;
    }
    case CommandId::calc:
        command.require_subcommand(1);
        break;
    case CommandId::calcTyre:
    case CommandId::calcGps:
        if (id == CommandId::calcTyre) {
            command.add_option("SIZES", o.calc.values, "the old and the new tyre size")->required()->expected(2);
            command.add_option("--drive", o.calc.drive, "final drive old:new, e.g. 3.73:4.10")->type_name("OLD:NEW");
        } else {
            command.add_option("SPEEDS", o.calc.values, "the speedometer's reading and the GPS speed")
                ->required()
                ->expected(2);
        }
        command.add_option("--current", o.calc.current, "the converter's present setting, e.g. +2.0")
            ->type_name("PERCENT");
        command.add_flag("--json", o.json, "as JSON");
        break;
    }
}

Outcome Run(CommandId id, const CommandContext &context, const Options &o)
{
    switch (id) {
    case CommandId::info:
        return RunInfo(context, o.json);
    case CommandId::show:
        return RunShow(context, o.file, o.json);
    case CommandId::backup:
        return RunBackup(context, o.file, o.force);
    case CommandId::restore:
        return RunRestore(context, o.file, o.write);
    case CommandId::diff:
        return RunDiff(context, o.file, o.fileB, o.json);
    case CommandId::set:
        return RunSet(context, o.assignments, o.write);
    case CommandId::table:
        return RunTable(context, o.table, o.write);
    case CommandId::calc:  // never alone: the parse requires tyre or gps
        break;
    case CommandId::calcTyre:
        return RunCalcTyre(context, o.calc, o.json);
    case CommandId::calcGps:
        return RunCalcGps(context, o.calc, o.json);
    }
    return Outcome::Fail(exitUsage, "no command");
}

}  // namespace

int ZyrctlMain(int argc, const char *const *argv, const ZyrctlConsole &console)
{
    Options o;
    CLI::App app{"zyrctl: back up, restore, inspect and change a Brantix ZYR converter from the command line",
                 "zyrctl"};
    app.footer(ExitCodesText());
    app.set_version_flag("--version", std::string("zyrctl ") + zyrctlVersion);
    app.require_subcommand(1);
    app.fallthrough();
    app.add_option("--trace", o.trace, "write every report exchanged with the converter to FILE")->type_name("FILE");
    app.add_flag("--quiet,-q", o.quiet, "print only results and errors");
    app.add_option("--wait", o.waitSeconds,
                   "how long to wait while another ZYR program is using the converter, then give up (exit 1)")
        ->type_name("SECONDS")
        ->default_val(defaultLockWaitSeconds)
        ->check(CLI::Range(0.0, 3600.0))
        // A range lets "nan" through, which no wait can be made of.
        ->check(CLI::Validator(
            [](std::string &text) {
                return std::isfinite(std::strtod(text.c_str(), nullptr)) ? std::string() : "not a number of seconds";
            },
            "", ""));

    // The commands, each under its parent: the table lists a parent first.
    std::vector<CLI::App *> commands;
    for (const CommandRow &row : commandTable) {
        CLI::App &parent = row.parent == row.id ? app : *commands[static_cast<std::size_t>(row.parent)];
        CLI::App *command = parent.add_subcommand(row.name, row.summary);
        command->footer(ExitCodesText());
        AddArguments(row.id, *command, o);
        commands.push_back(command);
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        // A word that is no command reads better named than as "a
        // subcommand is required".
        if (app.get_subcommands().empty())
            for (int i = 1; i < argc; ++i)
                if (argv[i][0] != '-' && !TakesValue(app, argv[i - 1])) {
                    console.err << "zyrctl: \"" << argv[i] << "\" is not a command: " << CommandNames() << "\n"
                                << "Run with --help for more information.\n";
                    return exitUsage;
                }
        // CLI11 numbers its own parse errors above 100; to a script every
        // one of them is a usage error. Help and version are successes.
        const int code = app.exit(error, console.out, console.err);
        if (!console.out.flush()) {
            console.err << "zyrctl: " << unwrittenOutputText << "\n";
            return exitFile;
        }
        return code == 0 ? exitOk : exitUsage;
    }

    CommandContext context{console, o.quiet};
    Outcome outcome;
    try {
        KeepProtocolMessages();
        SetConverterLockWait(static_cast<unsigned long>(o.waitSeconds * 1000 + 0.5), o.quiet ? nullptr : &console.err,
                             console.err);
        if (!o.trace.empty())
            outcome = StartWireTrace(o.trace);
        // The last command parsed is the innermost: the table lists a parent first.
        const CommandRow *chosen = nullptr;
        for (const CommandRow &row : commandTable)
            if (commands[static_cast<std::size_t>(row.id)]->parsed())
                chosen = &row;
        if (outcome.Ok() && chosen)
            outcome = Run(chosen->id, context, o);
    } catch (const std::exception &error) {
        outcome = Outcome::Fail(exitDevice, std::string("unexpected failure: ") + error.what());
    }
    ReleaseConverterLock();
    const Outcome traced = StopWireTrace();
    if (outcome.Ok())
        outcome = traced;
    if (!console.out.flush()) {
        if (outcome.Ok())
            outcome = Outcome::Fail(exitFile, unwrittenOutputText);
        else
            outcome.message += "; " + std::string(unwrittenOutputText);
    }
    if (!outcome.message.empty())
        console.err << "zyrctl: " << outcome.message << "\n";
    return outcome.code;
}
