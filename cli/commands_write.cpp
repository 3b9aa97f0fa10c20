// The commands that write a converter: restore, set and table (whose
// --import writes; its other forms only read).
#include "cli/commands.h"

#include "cli/guarded_write.h"
#include "settings/image_guards.h"
#include "settings/settings_view.h"
#include "settings/speed_setting.h"
#include "settings/table_svg.h"
#include "cli/text_files.h"
#include "config/converter_choices.h"
#include "config/table_text.h"

namespace {

std::string Sentences(const std::vector<std::string> &list)
{
    std::string text;
    for (const std::string &line : list)
        text += "\n  " + line;
    return text;
}

// Why an assignment is wrong for every converter (empty when it suits some),
// so that a refusal by this one is a guard (exit 4) and not a usage error
// (exit 2).
std::string UsageProblem(const std::string &assignment)
{
    const size_t equals = assignment.find('=');
    const std::string name = assignment.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : assignment.substr(equals + 1);
    SensorInfo sensor;
    int tenths = 0;
    if (equals != std::string::npos && name == "speed")
        return ParseSpeedSetting(value, tenths).Message();
    if (equals != std::string::npos && name == "sensor")
        return FindSensorByName(layout::typeVssEct, value, sensor) || FindSensorByName(layout::typeVss, value, sensor)
                   ? ""
                   : "\"" + value + "\" is not a speed sensor: " + SensorNames(layout::typeVssEct, ", ", " or ") +
                         " on a VSS+ECT unit, " + SensorNames(layout::typeVss, ", ", " or ") + " on a VSS unit";
    if (equals != std::string::npos && name == "table")
        return FindTableByName(value) ? "" : "\"" + value + "\" is not a table: " + TableNames(", ", " or ");
    return "not a setting";
}

std::string Unix(std::string text)
{
    std::string out;
    for (char c : text)
        if (c != '\r')
            out += c;
    return out;
}

}  // namespace

Outcome RunRestore(const CommandContext &context, const std::string &file, const WriteOptions &options)
{
    RegisterImage backup;
    Outcome outcome = LoadBackupFile(file, backup);
    if (!outcome.Ok()) {
        outcome.message += "; nothing was written";
        return outcome;
    }
    // A table choice the firmware lacks is refused even with --force.
    const std::string missingTable = MissingTableChoice(backup);
    if (!missingTable.empty())
        return Outcome::Fail(exitRefused, file + ": " + missingTable + "; nothing was written");
    const std::vector<std::string> implausible = ImplausibleValues(backup);
    if (!implausible.empty() && !options.force)
        return Outcome::Fail(exitRefused, file +
                                              " holds values the dialog could never have stored; nothing was "
                                              "written (--force writes them anyway):" +
                                              Sentences(implausible));

    ConverterReading device;
    outcome = ReadWholeConverter(device, context.Progress(), "reading");
    if (!outcome.Ok())
        return outcome;
    const std::string mismatch = IdentityMismatch(backup, device.image);
    if (!mismatch.empty())
        return Outcome::Fail(exitRefused, mismatch + "; nothing was written");
    return GuardedWrite(context, device, backup, options, {"restore", FolderOf(file)});
}

Outcome RunSet(const CommandContext &context, const std::vector<std::string> &assignments, const WriteOptions &options)
{
    for (const std::string &assignment : assignments) {
        const std::string problem = UsageProblem(assignment);
        if (!problem.empty())
            return Outcome::Fail(exitUsage, "\"" + assignment + "\": " + problem +
                                                " (settings: speed=PERCENT, sensor=NAME, table=NAME)");
    }

    ConverterReading device;
    Outcome outcome = ReadWholeConverter(device, context.Progress(), "reading");
    if (!outcome.Ok())
        return outcome;
    RegisterImage target = device.image;
    for (const std::string &assignment : assignments) {
        outcome = Outcome::From(ApplySetting(target, assignment), exitRefused,
                                "\"" + assignment + "\": ", "; nothing was written");
        if (!outcome.Ok())
            return outcome;
    }
    return GuardedWrite(context, device, target, options, {"set", ""});
}

Outcome RunTable(const CommandContext &context, const TableOptions &table, const WriteOptions &options)
{
    const TableInfo *info = FindTableByName(table.name);
    if (!info)
        return Outcome::Fail(exitUsage, "\"" + table.name + "\" is not a table: " + TableNames(", ", " or "));

    std::string importText;
    if (!table.importFile.empty()) {
        Outcome read = ReadTextFile(table.importFile, 64 * 1024, importText);
        if (!read.Ok())
            return read;
    }
    ConverterReading device;
    Outcome outcome = ReadWholeConverter(device, context.Progress(), "reading");
    if (!outcome.Ok())
        return outcome;
    if (!TypeHasTables(device.type))
        return Outcome::Fail(exitRefused, "this converter (" + TypeText(device.type) + ") has no temperature tables");
    if (!TableOnFirmware(*info, device.version))
        return Outcome::Fail(exitRefused, std::string("the ") + info->title +
                                              " table exists only on firmware 12300; "
                                              "this converter has " +
                                              FirmwareText(device.version));
    // A table the editor could not open is neither printed, drawn nor
    // imported into: said once, for all three.
    if (!TableEditable(device.image, info->offset))
        return Outcome::Fail(exitRefused, std::string("the converter's ") + info->title +
                                              " table is not valid: its count is " +
                                              std::to_string(device.image.Byte(info->offset)) +
                                              " (7 or 20 entries, all within the registers, expected)");

    if (!table.svgFile.empty()) {
        std::string svg;
        outcome = Outcome::From(TableSvg(device.image, info->offset, svg), exitRefused);
        if (!outcome.Ok())
            return outcome;
        outcome = WriteFileAtomically(table.svgFile, svg, options.force);
        if (outcome.Ok())
            context.Note() << "drew the " << info->title << " table to " << table.svgFile << "\n";
        return outcome;
    }
    if (!table.importFile.empty()) {
        const TableTextOutcome parsed = ParseTableLines(device.image, info->offset, importText.c_str());
        if (parsed.problem != TableTextProblem::None)
            return Outcome::Fail(exitFile,
                                 table.importFile + ": " + TableTextMessage(parsed) + "; nothing was written");
        RegisterImage target = device.image;
        StoreTableMillivolts(target, info->offset, parsed);
        return GuardedWrite(context, device, target, options, {"import", FolderOf(table.importFile)});
    }

    std::string text;
    BuildTableText(device.image, info->offset, text);
    if (table.exportFile.empty()) {
        context.Out() << Unix(text);
        return Outcome::Success();
    }
    outcome = WriteFileAtomically(table.exportFile, text, options.force);
    if (outcome.Ok())
        context.Note() << "saved the " << info->title << " table to " << table.exportFile << "\n";
    return outcome;
}
