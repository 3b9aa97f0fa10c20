// The commands of zyrctl: the one table their help lines and the manual's
// list of commands (docs/zyrctl.md, checked against it) are made from.
#pragma once

enum class CommandId { info, show, backup, restore, diff, set, table, calc, calcTyre, calcGps };

struct CommandRow {
    CommandId id;
    const char *name;  // as typed after zyrctl, or after its parent
    CommandId parent;  // the command it belongs to; itself for a top-level one
    const char *summary;  // the help's line, the manual's "what it does"
};

inline constexpr CommandRow commandTable[] = {
    {CommandId::info, "info", CommandId::info, "is a converter attached? its device path, firmware and type"},
    {CommandId::show, "show", CommandId::show, "every setting decoded, from the converter or from a backup file"},
    {CommandId::backup, "backup", CommandId::backup, "read all 256 registers (the checks of Read Device) into FILE"},
    {CommandId::restore, "restore", CommandId::restore, "write a backup file back to the converter it came from"},
    {CommandId::diff, "diff", CommandId::diff, "field-level differences between two backup files or the converter"},
    {CommandId::set, "set", CommandId::set, "change settings as the dialog would: speed=+3.5 sensor=low table=ap1-res"},
    {CommandId::table, "table", CommandId::table, "a temperature table: print, export, import or draw it"},
    {CommandId::calc, "calc", CommandId::calc, "which speed adjustment puts the speedometer right"},
    {CommandId::calcTyre, "tyre", CommandId::calc, "after a tyre change: calc tyre 205/55R16 225/45R17"},
    {CommandId::calcGps, "gps", CommandId::calc, "from a GPS comparison: calc gps INDICATED ACTUAL"},
};

// The program finds a row by its id and a parent before its children.
constexpr bool CommandTableInOrder()
{
    int index = 0;
    for (const CommandRow &row : commandTable) {
        if (static_cast<int>(row.id) != index || static_cast<int>(row.parent) > index)
            return false;
        ++index;
    }
    return true;
}
static_assert(CommandTableInOrder(), "commandTable lists the commands in the order of CommandId");

// The name as the manual writes it: "calc tyre" for a command under another.
inline const char *ParentName(const CommandRow &row)
{
    for (const CommandRow &parent : commandTable)
        if (parent.id == row.parent && parent.id != row.id)
            return parent.name;
    return nullptr;
}
