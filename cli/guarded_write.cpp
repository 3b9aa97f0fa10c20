#include "cli/guarded_write.h"

#include "settings/backup_file.h"
#include "settings/image_guards.h"
#include "settings/settings_view.h"
#include "cli/text_files.h"

#include <ctime>
#include <string>

namespace {

// A person at the console answers; anything but y or yes declines.
bool Confirmed(const CommandContext &context, size_t count)
{
    context.console.err << "Write " << count << " register" << (count == 1 ? "" : "s") << " to the converter? [y/N] "
                        << std::flush;
    std::string answer;
    if (!std::getline(context.console.in, answer))
        return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
}

// The converter's present registers, beside the target file, named with the time.
Outcome SavePreWriteBackup(const CommandContext &context, const ConverterReading &device, const WriteRequest &request,
                           std::string &path)
{
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    const std::string base = request.backupFolder + "zyr-before-" + request.command + "-" + UtcFileStamp(now);
    path = base + ".zyr";
    for (int n = 2; FileExists(path); ++n)
        path = base + "-" + std::to_string(n) + ".zyr";
    Outcome saved = WriteFileAtomically(path, FormatBackupFile(device.image, IsoUtcTime(now)), false);
    if (!saved.Ok())
        return Outcome::Fail(saved.code,
                             "the backup before writing could not be saved, so nothing was written: " + saved.message);
    context.Note() << "saved the converter's present registers to " << path << "\n";
    return Outcome::Success();
}

}  // namespace

Outcome GuardedWrite(const CommandContext &context, const ConverterReading &device, const RegisterImage &target,
                     const WriteOptions &options, const WriteRequest &request)
{
    const std::vector<FieldDifference> differences = DiffImages(device.image, target);
    const std::vector<uint8_t> addresses = RegistersToWrite(device.image, target, options.all);
    if (options.dryRun) {
        context.Out() << (differences.empty() ? "no differences\n" : DifferencesText(differences));
        context.Out() << "dry run: would write " << addresses.size() << " register"
                      << (addresses.size() == 1 ? "" : "s")
                      << (addresses.empty() ? "" : " (" + RegisterListText(addresses) + ")")
                      << "; nothing was written\n";
        return Outcome::Success();
    }
    if (addresses.empty()) {
        context.Note() << "nothing to write: the converter already holds these settings\n";
        return Outcome::Success();
    }
    if (!options.yes) {
        if (!context.console.inputIsConsole)
            return Outcome::Fail(exitRefused, "standard input is not a console, so nobody can confirm the write; "
                                              "add --yes to write unattended. Nothing was written");
        context.console.err << (differences.empty() ? "" : DifferencesText(differences));
        if (!Confirmed(context, addresses.size()))
            return Outcome::Fail(exitRefused, "not confirmed; nothing was written");
    }

    // The backup and the write are for the converter that was read: a
    // different one, or one that changed, gets neither.
    Outcome outcome = CheckSameConverter(device, context.Progress());
    if (!outcome.Ok())
        return outcome;
    std::string backupPath;
    outcome = SavePreWriteBackup(context, device, request, backupPath);
    if (!outcome.Ok())
        return outcome;

    outcome = WriteConverterRegisters(device, target, addresses, context.Progress());
    if (!outcome.Ok()) {
        if (outcome.code == exitDevice)
            outcome.message += "; the converter may be partly written: zyrctl restore " + backupPath +
                               " puts back what it held before";
        return outcome;
    }

    // Registers 0 to 4 are never written: the converter keeps its own.
    RegisterImage expected = target;
    for (uint8_t address = 0; address < layout::firstWritableRegister; ++address)
        expected.SetByte(address, device.image.Byte(address));
    ConverterReading after;
    outcome = ReadWholeConverter(after, context.Progress(), "reading back");
    if (!outcome.Ok()) {
        outcome.message = "the write went through but reading it back failed: " + outcome.message;
        return outcome;
    }
    const std::vector<uint8_t> differing = DifferingRegisters(after.image, expected);
    if (!differing.empty())
        return Outcome::Fail(exitDevice, "the converter read back differs from what was written at " +
                                             RegistersText(differing) + "; zyrctl restore " + backupPath +
                                             " puts back what it held before");
    context.Note() << "wrote " << addresses.size() << " register" << (addresses.size() == 1 ? "" : "s")
                   << " and read all 256 back: every register holds what was meant\n";
    return Outcome::Success();
}
