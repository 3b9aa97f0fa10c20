// The commands that only read: info, show, backup, diff.
#include "cli/commands.h"

#include "settings/backup_file.h"
#include "settings/settings_view.h"
#include "cli/file_outcomes.h"
#include "cli/text_files.h"

#include <nlohmann/json.hpp>

#include <ctime>
#include <sstream>

namespace {

// Nothing: what --quiet turns the notes into.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
};

}  // namespace

std::ostream &CommandContext::Note() const
{
    static NullBuffer nothing;
    static std::ostream silent(&nothing);
    return quiet ? silent : console.out;
}

Outcome LoadImage(const CommandContext &context, const std::string &source, RegisterImage &image)
{
    if (source == "device") {
        ConverterReading reading;
        Outcome outcome = ReadWholeConverter(reading, context.Progress(), "reading");
        if (outcome.Ok())
            image = reading.image;
        return outcome;
    }
    return LoadBackupFile(source, image);
}

Outcome LoadBackupFile(const std::string &path, RegisterImage &image)
{
    std::string text;
    Outcome outcome = ReadTextFile(path, maxBackupFileSize, text);
    if (!outcome.Ok())
        return outcome;
    BackupFile file;
    outcome = Outcome::From(ParseBackupFile(text, file), exitFile, path + ": ");
    if (outcome.Ok())
        image = file.image;
    return outcome;
}

Outcome RunInfo(const CommandContext &context, bool json)
{
    ConverterReading reading;
    Outcome outcome = ReadConverterIdentity(reading);
    if (!outcome.Ok())
        return outcome;
    const bool served = AcceptedFirmwareVersion(reading.version) && AcceptedFirmwareType(reading.type);
    if (json) {
        nlohmann::json data = {{"found", true},
                               {"devicePath", reading.devicePath},
                               {"firmwareVersion", reading.version},
                               {"firmware", FirmwareText(reading.version)},
                               {"firmwareType", reading.type},
                               {"type", TypeText(reading.type)},
                               {"served", served}};
        context.PrintJson(data);
    } else {
        context.Out() << "converter found\n"
                      << "device path: " << reading.devicePath << "\n"
                      << "firmware:    " << FirmwareText(reading.version) << " (" << reading.version << ")\n"
                      << "type:        " << TypeText(reading.type) << " (" << reading.type << ")\n";
    }
    if (!served)
        return Outcome::Fail(exitDevice, "this converter's firmware " + std::to_string(reading.version) + " type " +
                                             std::to_string(reading.type) +
                                             " is not one this tool serves (firmware 10005 or 12300, type 2 or 3)");
    return Outcome::Success();
}

Outcome RunShow(const CommandContext &context, const std::string &file, bool json)
{
    RegisterImage image;
    Outcome outcome = LoadImage(context, file.empty() ? "device" : file, image);
    if (!outcome.Ok())
        return outcome;
    return context.PrintResult(json, DescribeImageJson(image), DescribeImage(image));
}

Outcome RunBackup(const CommandContext &context, const std::string &file, bool force)
{
    // Refused before the converter is read, so a refusal costs nothing.
    if (!force && FileExists(file))
        return FileExistsRefusal(file);
    ConverterReading reading;
    Outcome outcome = ReadWholeConverter(reading, context.Progress(), "reading");
    if (!outcome.Ok())
        return outcome;
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    outcome = WriteFileAtomically(file, FormatBackupFile(reading.image, IsoUtcTime(now)), force);
    if (!outcome.Ok())
        return outcome;
    context.Note() << "saved all 256 registers of the converter (firmware " << FirmwareText(reading.version) << ", "
                   << TypeText(reading.type) << ") to " << file << "\n";
    return Outcome::Success();
}

Outcome RunDiff(const CommandContext &context, const std::string &a, const std::string &b, bool json)
{
    RegisterImage first, second;
    Outcome outcome = LoadImage(context, a, first);
    if (outcome.Ok())
        outcome = LoadImage(context, b, second);
    if (!outcome.Ok())
        return outcome;
    const std::vector<FieldDifference> differences = DiffImages(first, second);
    if (json)
        context.PrintJson(DiffJson(differences));
    else if (differences.empty())
        context.Note() << "no differences\n";
    else
        context.Out() << DifferencesText(differences);
    return differences.empty() ? Outcome::Success() : Outcome{exitDifferences, ""};
}
