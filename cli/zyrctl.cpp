// The command line of zyrctl: commands, options and exit codes, wired to
// the commands in commands_*.cpp.
#include "cli/zyrctl.h"

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
std::string CommandNames(CLI::App &app)
{
    const std::vector<CLI::App *> commands = app.get_subcommands([](CLI::App *) { return true; });
    std::string names;
    for (std::size_t i = 0; i < commands.size(); ++i)
        names += (i == 0 ? "" : i + 1 == commands.size() ? " or " : ", ") + commands[i]->get_name();
    return names;
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

CLI::App *Command(CLI::App &app, const char *name, const char *description)
{
    CLI::App *command = app.add_subcommand(name, description);
    command->footer(ExitCodesText());
    return command;
}

void AddWriteFlags(CLI::App *command, Options &o, bool all)
{
    command->add_flag("--dry-run", o.write.dryRun, "print the differences (fields and registers) and touch nothing");
    command->add_flag("--yes,-y", o.write.yes, "write without asking (needed when standard input is not a console)");
    if (all)
        command->add_flag("--all", o.write.all, "write all of registers 5 to 255, not only those that differ");
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

    CLI::App *info = Command(app, "info", "is a converter attached? its device path, firmware and type");
    info->add_flag("--json", o.json, "as JSON");

    CLI::App *show = Command(app, "show", "every setting decoded, from the converter or from a backup file");
    show->add_option("FILE", o.file, "a backup file (default: the converter)");
    show->add_flag("--json", o.json, "as JSON");

    CLI::App *backup = Command(app, "backup", "read all 256 registers (the checks of Read Device) into FILE");
    backup->add_option("FILE", o.file, "the backup file to write")->required();
    backup->add_flag("--force", o.force, "replace FILE if it exists");

    CLI::App *restore = Command(app, "restore", "write a backup file back to the converter it came from");
    restore->add_option("FILE", o.file, "the backup file")->required();
    AddWriteFlags(restore, o, true);
    restore->add_flag("--force", o.write.force, "write values the dialog could never have stored");

    CLI::App *diff = Command(app, "diff", "field-level differences between two backup files or the converter");
    diff->add_option("A", o.file, "a backup file or the word device")->required();
    diff->add_option("B", o.fileB, "a backup file or the word device")->required();
    diff->add_flag("--json", o.json, "as JSON");

    CLI::App *set = Command(app, "set", "change settings as the dialog would: speed=+3.5 sensor=low table=ap1-res");
    set->add_option("SETTING", o.assignments,
                    "speed=PERCENT (-25.0 to 25.0), sensor=" + SensorNames(layout::typeVssEct, "|", "|") +
                        " (type 2) or " + SensorNames(layout::typeVss, "|", "|") +
                        " (type 3), table=" + TableNames("|", "|"))
        ->required();
    AddWriteFlags(set, o, false);

    CLI::App *table = Command(app, "table", "a temperature table: print, export, import or draw it");
    table->add_option("NAME", o.table.name, TableNames(", ", " or "))->required();
    CLI::Option *exportOption =
        table->add_option("--export", o.table.exportFile, "save the table as the editor's text")->type_name("FILE");
    CLI::Option *importOption =
        table->add_option("--import", o.table.importFile, "write the editor's text from FILE (changed registers only)")
            ->type_name("FILE");
    CLI::Option *svgOption =
        table->add_option("--svg", o.table.svgFile, "draw the table as an SVG chart")->type_name("FILE");
    exportOption->excludes(importOption)->excludes(svgOption);
    importOption->excludes(svgOption);
    table->add_flag("--force", o.write.force, "replace an existing --export or --svg file");
    AddWriteFlags(table, o, false);

    CLI::App *calc = Command(app, "calc", "which speed adjustment puts the speedometer right");
    calc->require_subcommand(1);
    CLI::App *tyre = Command(*calc, "tyre", "after a tyre change: calc tyre 205/55R16 225/45R17");
    tyre->add_option("SIZES", o.calc.values, "the old and the new tyre size")->required()->expected(2);
    tyre->add_option("--drive", o.calc.drive, "final drive old:new, e.g. 3.73:4.10")->type_name("OLD:NEW");
    CLI::App *gps = Command(*calc, "gps", "from a GPS comparison: calc gps INDICATED ACTUAL");
    gps->add_option("SPEEDS", o.calc.values, "the speedometer's reading and the GPS speed")->required()->expected(2);
    for (CLI::App *command : {tyre, gps}) {
        command->add_option("--current", o.calc.current, "the converter's present setting, e.g. +2.0")
            ->type_name("PERCENT");
        command->add_flag("--json", o.json, "as JSON");
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        // A word that is no command reads better named than as "a
        // subcommand is required".
        if (app.get_subcommands().empty())
            for (int i = 1; i < argc; ++i)
                if (argv[i][0] != '-' && !TakesValue(app, argv[i - 1])) {
                    console.err << "zyrctl: \"" << argv[i] << "\" is not a command: " << CommandNames(app) << "\n"
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
        if (!outcome.Ok()) {
        } else if (info->parsed()) {
            outcome = RunInfo(context, o.json);
        } else if (show->parsed()) {
            outcome = RunShow(context, o.file, o.json);
        } else if (backup->parsed()) {
            outcome = RunBackup(context, o.file, o.force);
        } else if (restore->parsed()) {
            outcome = RunRestore(context, o.file, o.write);
        } else if (diff->parsed()) {
            outcome = RunDiff(context, o.file, o.fileB, o.json);
        } else if (set->parsed()) {
            outcome = RunSet(context, o.assignments, o.write);
        } else if (table->parsed()) {
            outcome = RunTable(context, o.table, o.write);
        } else if (tyre->parsed()) {
            outcome = RunCalcTyre(context, o.calc, o.json);
        } else if (gps->parsed()) {
            outcome = RunCalcGps(context, o.calc, o.json);
        }
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
