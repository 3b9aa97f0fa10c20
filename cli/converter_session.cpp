#include "cli/converter_session.h"

#include "cli/converter_system.h"
#include "cli/progress_bar.h"
#include "config/hex_text.h"
#include "settings/image_guards.h"
#include "settings/settings_view.h"
#include "protocol/converter_identity.h"
#include "protocol/operation_cut_off.h"
#include "protocol/operation_text.h"
#include "protocol/register_operations.h"
#include "protocol/register_stages.h"

#include <cstdio>

namespace {

std::string lastProtocolMessage;

unsigned long lockWaitMs = static_cast<unsigned long>(defaultLockWaitSeconds * 1000);
std::ostream *lockNote = nullptr;
std::ostream *lockWarning = nullptr;

// The program that held the converter before ended without letting go: it
// may have stopped in the middle of a write.
const char *const lockTakenOverText =
    "zyrctl: warning: the ZYR program that used the converter before ended without letting go of it, "
    "perhaps in the middle of a write, so the converter may be half-written. Compare it with a backup "
    "(zyrctl diff BACKUP.zyr device), or put back the backup that program saved before it wrote "
    "(zyrctl restore zyr-before-....zyr)\n";

std::string WaitText()
{
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(lockWaitMs) / 1000.0);
    return text;
}

// Held from the command's first open of the converter to its end.
Outcome HoldConverterLock()
{
    if (CommandLockHeld())
        return Outcome::Success();
    CommandLockTake result = TakeCommandLock(0, nullptr);
    if (result == CommandLockTake::busy && lockWaitMs > 0) {
        if (lockNote)
            *lockNote << "zyrctl: another ZYR program is using the converter; waiting up to " << WaitText() << "...\n"
                      << std::flush;
        result = TakeCommandLock(lockWaitMs, OperationCutOff);
    }
    switch (result) {
    case CommandLockTake::takenOver:
        if (lockWarning)
            *lockWarning << lockTakenOverText << std::flush;
        return Outcome::Success();
    case CommandLockTake::taken:
        return Outcome::Success();
    case CommandLockTake::busy:
        if (OperationCutOff())
            return Outcome::Fail(exitDevice, "stopped by Ctrl+C while waiting for another ZYR program to "
                                             "finish with the converter; nothing was sent");
        return Outcome::Fail(exitDevice, "another ZYR program is using the converter (waited " + WaitText() +
                                             "); nothing was sent");
    case CommandLockTake::failed:
        break;
    }
    return Outcome::Fail(exitDevice, "the lock that keeps other ZYR programs off the converter could not be "
                                     "taken (system error " +
                                         std::to_string(CommandLockError()) + "); nothing was sent");
}

void KeepMessage(const char *text) { lastProtocolMessage = text; }

// One failed register call, in words.
std::string RegisterFailureText(const char *doing, int address, RegisterCallKind kind, const RegisterFailure &failure)
{
    char text[300];
    if (OperationCutOff() && failure.address != address) {
        std::snprintf(text, sizeof text, "%s register %d: stopped by Ctrl+C before it was sent", doing, address);
    } else if (failure.reopenFailed) {
        std::snprintf(text, sizeof text,
                      "%s register %d failed: after stage %d, %s, the converter could not be opened again (%s)", doing,
                      address, failure.stage, RegisterStageText(kind, failure.stage), lastProtocolMessage.c_str());
    } else if (OperationCutOff()) {
        std::snprintf(text, sizeof text, "%s register %d: stopped by Ctrl+C at stage %d, %s", doing, address,
                      failure.stage, RegisterStageText(kind, failure.stage));
    } else {
        std::snprintf(text, sizeof text, "%s register %d failed at stage %d, %s, after 10 attempts", doing, address,
                      failure.stage, RegisterStageText(kind, failure.stage));
    }
    return text;
}

// The converter attached now is not the one the command read, or not as it
// was read: what was worked out against that one must not reach it.
std::string OtherConverterText(const std::string &why)
{
    return "the converter attached now is not the one that was read (" + why +
           "): another converter may have taken its place; nothing was written. Run the command again";
}

Outcome Open(ConverterPort &port, ConverterReading &reading)
{
    Outcome locked = HoldConverterLock();
    if (!locked.Ok())
        return locked;
    return OpenConverterPort(port, reading.devicePath);
}

Outcome ReadIdentity(ReportTransport &port, ConverterReading &reading)
{
    if (int failed = ReadIdentityWords(port, reading.version, reading.type)) {
        static const int addresses[3] = {1, 3, 255};
        static const char *const words[3] = {"reading the firmware version word at",
                                             "reading the firmware type word at", "reading the word at"};
        return Outcome::Fail(exitDevice, RegisterFailureText(words[failed - 1], addresses[failed - 1],
                                                             RegisterCallKind::readWord, port.failure));
    }
    return Outcome::Success();
}

// Finds and opens the converter, then reads its identity words.
Outcome OpenAndIdentify(ConverterPort &port, ConverterReading &reading)
{
    Outcome outcome = Open(port, reading);
    return outcome.Ok() ? ReadIdentity(port.Transport(), reading) : outcome;
}

// The same on a new port, which `converter` then holds.
Outcome OpenNewPort(std::unique_ptr<ConverterPort> &converter, ConverterReading &reading)
{
    converter = MakeConverterPort();
    return OpenAndIdentify(*converter, reading);
}

// Exit 7 when the converter found now is not at the place of the one read.
Outcome CheckSamePlace(const ConverterReading &now, const ConverterReading &read)
{
    if (now.devicePath != read.devicePath)
        return Outcome::Fail(exitOtherConverter, OtherConverterText("it is attached elsewhere now"));
    return Outcome::Success();
}

// One pass over `steps` registers (`pass` reads or writes them, calling its
// first argument after each) under a progress bar with `label`; a register
// that fails is exit 1, told as `doing` it.
template <typename Pass> Outcome RegisterPass(ReportTransport &port, const ProgressOutput &progress, const char *label,
                                              int steps, const char *doing, RegisterCallKind kind, Pass pass)
{
    ProgressBar bar(progress.err, progress.bar, label, steps);
    int failedAddress = -1;
    if (!pass([&](uint8_t) { bar.Step(); }, failedAddress))
        return Outcome::Fail(exitDevice, RegisterFailureText(doing, failedAddress, kind, port.failure));
    return Outcome::Success();
}

}  // namespace

std::string NoConverterText()
{
    char identity[80];
    std::snprintf(identity, sizeof identity, "(%04X:%04X, \"%s\" \"%s\")", converterVendorId, converterProductId,
                  converterManufacturer, converterProduct);
    return std::string("converter not found: no USB HID device with the converter's identity ") + identity +
           " is attached";
}

const std::string &LastProtocolMessage() { return lastProtocolMessage; }

void SetConverterLockWait(unsigned long waitMs, std::ostream *note, std::ostream &warning)
{
    lockWaitMs = waitMs;
    lockNote = note;
    lockWarning = &warning;
}

void ReleaseConverterLock() { ReleaseCommandLock(); }

void KeepProtocolMessages() { SendProtocolMessagesTo(KeepMessage); }

Outcome ReadConverterIdentity(ConverterReading &reading)
{
    std::unique_ptr<ConverterPort> converter;
    return OpenNewPort(converter, reading);
}

Outcome ReadWholeConverter(ConverterReading &reading, const ProgressOutput &progress, const char *label)
{
    std::unique_ptr<ConverterPort> converter;
    Outcome outcome = OpenNewPort(converter, reading);
    if (!outcome.Ok())
        return outcome;
    if (!AcceptedFirmwareVersion(reading.version))
        return Outcome::Fail(exitDevice, "wrong firmware version " + std::to_string(reading.version) + " (" +
                                             HexNumber(reading.version) + "): only 10005 and 12300 are served");
    if (!AcceptedFirmwareType(reading.type))
        return Outcome::Fail(exitDevice, "wrong firmware type " + std::to_string(reading.type) +
                                             ": only 2 (VSS+ECT) and 3 (VSS) are served");
    reading.image.Erase();
    ReportTransport &port = converter->Transport();
    return RegisterPass(port, progress, label, 256, "reading", RegisterCallKind::readByte,
                        [&](const RegisterDone &done, int &failedAddress) {
                            return ReadAllRegisters(port, reading.image, done, failedAddress);
                        });
}

Outcome CheckSameConverter(const ConverterReading &read, const ProgressOutput &progress)
{
    ConverterReading now;
    Outcome outcome = ReadWholeConverter(now, progress, "checking");
    if (outcome.Ok())
        outcome = CheckSamePlace(now, read);
    if (!outcome.Ok())
        return outcome;
    const std::vector<uint8_t> differing = DifferingRegisters(now.image, read.image);
    if (!differing.empty())
        return Outcome::Fail(exitOtherConverter,
                             OtherConverterText("its registers differ from those read at " + RegistersText(differing)));
    return Outcome::Success();
}

Outcome WriteConverterRegisters(const ConverterReading &read, const RegisterImage &target,
                                const std::vector<uint8_t> &addresses, const ProgressOutput &progress)
{
    for (uint8_t address : addresses)
        if (address < 5)
            return Outcome::Fail(exitRefused, "register " + std::to_string(address) +
                                                  " holds the converter's identity and is never written");
    std::unique_ptr<ConverterPort> converter;
    ConverterReading device;
    Outcome outcome = OpenNewPort(converter, device);
    if (outcome.Ok())
        outcome = CheckSamePlace(device, read);
    if (!outcome.Ok())
        return outcome;
    // Registers 0 to 4 are never written, so the image must belong to this
    // converter's firmware before anything is sent.
    if (device.version != target.FirmwareVersion() || device.type != target.FirmwareType())
        return Outcome::Fail(exitRefused, "the converter changed since it was read: it now has firmware " +
                                              std::to_string(device.version) + " type " + std::to_string(device.type) +
                                              "; nothing was written");
    ReportTransport &port = converter->Transport();
    return RegisterPass(port, progress, "writing", static_cast<int>(addresses.size()), "writing",
                        RegisterCallKind::writeByte, [&](const RegisterDone &done, int &failedAddress) {
                            return WriteImageRegisters(port, target, addresses, done, failedAddress);
                        });
}
