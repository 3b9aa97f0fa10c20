// The commands of zyrctl, each given its parsed options; zyrctl.cpp wires
// them to the command line.
#pragma once

#include "cli/converter_session.h"
#include "cli/exit_codes.h"
#include "cli/zyrctl.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// --json output never fails on text that is not UTF-8 (a device path, say):
// such bytes are replaced.
constexpr auto replaceBadText = nlohmann::json::error_handler_t::replace;

struct CommandContext {
    const ZyrctlConsole &console;
    bool quiet = false;

    std::ostream &Out() const { return console.out; }
    // A line saying what was done; nothing with --quiet.
    std::ostream &Note() const;
    ProgressOutput Progress() const { return {console.err, console.errorIsConsole && !quiet}; }
    // A JSON document on standard output, as --json prints every one.
    void PrintJson(const nlohmann::json &document) const
    {
        Out() << document.dump(2, ' ', false, replaceBadText) << "\n";
    }
    // A command's result: the document with --json, the text without.
    Outcome PrintResult(bool json, const nlohmann::json &document, const std::string &text) const
    {
        if (json)
            PrintJson(document);
        else
            Out() << text;
        return Outcome::Success();
    }
};

// A backup file or, for the word "device", the converter.
Outcome LoadImage(const CommandContext &context, const std::string &source, RegisterImage &image);
// A backup file's registers; exit 3 with the cause when it is missing,
// unreadable or damaged.
Outcome LoadBackupFile(const std::string &path, RegisterImage &image);

Outcome RunInfo(const CommandContext &context, bool json);
Outcome RunShow(const CommandContext &context, const std::string &file, bool json);
Outcome RunBackup(const CommandContext &context, const std::string &file, bool force);
Outcome RunDiff(const CommandContext &context, const std::string &a, const std::string &b, bool json);

// What every write shares: --dry-run, --yes, --all, --force.
struct WriteOptions {
    bool dryRun = false;
    bool yes = false;
    bool all = false;
    bool force = false;
};

Outcome RunRestore(const CommandContext &context, const std::string &file, const WriteOptions &options);
Outcome RunSet(const CommandContext &context, const std::vector<std::string> &assignments, const WriteOptions &options);

struct TableOptions {
    std::string name;
    std::string exportFile, importFile, svgFile;
};
Outcome RunTable(const CommandContext &context, const TableOptions &table, const WriteOptions &options);

struct CalcOptions {
    std::vector<std::string> values;  // tyre: OLD NEW; gps: INDICATED ACTUAL
    std::string drive, current;
};
Outcome RunCalcTyre(const CommandContext &context, const CalcOptions &calc, bool json);
Outcome RunCalcGps(const CommandContext &context, const CalcOptions &calc, bool json);
