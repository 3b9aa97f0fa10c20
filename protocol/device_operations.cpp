// Read Device, Write Device and Format Device: each finds the converter,
// opens its own port, moves registers between the converter and the image,
// and leaves its outcome on the status line. They run on the worker thread.
// The device steps themselves are shared with the console program
// (converter_access.h); what is here is the dialog's side: its messages,
// location codes and control refreshes.
#include "protocol/device_operations.h"

#include "app/controls.h"
#include "app/main_window.h"
#include "config/config_image.h"
#include "protocol/converter_access.h"
#include "protocol/operation_text.h"

#include <cstdarg>

namespace {

// Finds the converter and opens a port on it; on failure the status line
// says which step failed and the port stays closed.
bool OpenConverterForDialog(DevicePort &port)
{
    switch (OpenConverter(port)) {
    case ConverterOpen::opened:
        return true;
    case ConverterOpen::notFound:
        StatusLine("USB device not found");
        return false;
    case ConverterOpen::openFailed:
        break;
    }
    StatusLine("USB device open failed");
    return false;
}

// Runs `operation` on a port opened on the converter, with the fine timer
// resolution held throughout; false, with nothing run, when the converter
// cannot be found or opened.
template <class Operation> bool OnOpenConverter(Operation operation)
{
    FineTimerResolution timer;
    DevicePort port;
    if (!OpenConverterForDialog(port))
        return false;
    return operation(port);
}

// An operation that stops once its port is open: the port closed, the
// status line saying why.
bool CloseAndSay(DevicePort &port, const char *format, ...) __attribute__((format(printf, 2, 3)));
bool CloseAndSay(DevicePort &port, const char *format, ...)
{
    CloseDevicePort(port);
    va_list arguments;
    va_start(arguments, format);
    StatusLineV(format, arguments);
    va_end(arguments);
    return false;
}

bool FailRead(DevicePort &port, int location) { return CloseAndSay(port, "READ ERROR L%d", location); }

bool FailWrite(DevicePort &port, int location) { return CloseAndSay(port, "WRITE ERROR L%d", location); }

// As OnOpenConverter, with the converter's identity words read first and
// handed to `operation`; a word that cannot be read fails the operation
// through `fail`, at location `versionFailed` for the first word and on.
template <class Operation>
bool OnIdentifiedConverter(bool (*fail)(DevicePort &, int), int versionFailed, Operation operation)
{
    return OnOpenConverter([&](DevicePort &port) {
        uint16_t version = 0, type = 0;
        if (int failed = ReadIdentityWords(port, version, type))
            return fail(port, versionFailed - 1 + failed);
        return operation(port, version, type);
    });
}

enum class WriteKind { write, format };

// Writes image bytes `first` to 255 into the converter's registers with
// progress; false at the first register that fails or at a cut-off.
bool WriteImageFrom(DevicePort &port, int first, WriteKind kind)
{
    ProgressCounter progress;
    int failedAddress = -1;
    return WriteImageRegisters(
        port, ConfigImage, AddressesFrom(first),
        [&](uint8_t at) {
            if (int percent = progress.Advance(at)) {
                if (kind == WriteKind::write)
                    StatusLine("Writing Device Data... %d%%", percent);
                else
                    StatusLine("Formatting Device... %d%%", percent);
            }
        },
        failedAddress);
}

}  // namespace

bool TakeConverterForDialog(ConverterLock &lock)
{
    switch (lock.Take(0)) {
    case LockResult::taken:
    case LockResult::takenOver:
        return true;
    case LockResult::busy:
        StatusLine("Another ZYR program is using the converter");
        return false;
    case LockResult::failed:
        break;
    }
    StatusLine("Converter lock failed (error %lu); nothing sent", static_cast<unsigned long>(lock.Error()));
    return false;
}

bool ReadDevice()
{
    RefreshControls(RefreshBusy);
    highToLowUnlocked = helpPressCount == 4;
    helpPressCount = 0;
    StatusLine("Reading Device Data...");
    ConfigImage.Erase();

    return OnIdentifiedConverter(FailRead, readVersionFailed, [](DevicePort &port, uint16_t version, uint16_t type) {
        if (!AcceptedFirmwareVersion(version))
            return CloseAndSay(port, "Wrong firmware version;  0x%X", version);
        if (!AcceptedFirmwareType(type))
            return CloseAndSay(port, "Wrong firmware type;  0x%X", type);

        ProgressCounter progress;
        int failedAddress = -1;
        const bool read = ReadAllRegisters(
            port, ConfigImage,
            [&](uint8_t at) {
                if (int percent = progress.Advance(at))
                    StatusLine("Reading Device Data... %d%%", percent);
            },
            failedAddress);
        if (!read)
            return FailRead(port, readRegisterFailed);
        CloseDevicePort(port);

        char versionText[8];
        FormatFirmwareVersion(version, versionText, sizeof versionText);
        StatusLine("Read OK        Ver:%s        Device:%s", versionText, DeviceKindName(type));
        return true;
    });
}

bool WriteDevice()
{
    if (!ControlsToImage())
        return false;  // its error box has told the user
    RefreshControls(RefreshBusy);
    StatusLine("Writing Device Data...");

    return OnIdentifiedConverter(FailWrite, writeVersionFailed, [](DevicePort &port, uint16_t version, uint16_t type) {
        // Registers 0 to 4 are never written here, so the image must belong
        // to this converter's firmware before anything is sent.
        if (ConfigImage.FirmwareVersion() != version || ConfigImage.FirmwareType() != type)
            return CloseAndSay(port, "Wrong firmware version;  MEM:0x%X-0x%X  DEV:0x%X-0x%X",
                               ConfigImage.FirmwareVersion(), ConfigImage.FirmwareType(), version, type);

        if (!WriteImageFrom(port, layout::firstWritableRegister, WriteKind::write))
            return FailWrite(port, writeRegisterFailed);
        CloseDevicePort(port);
        StatusLine("Device Write OK");
        return true;
    });
}

bool FormatDevice()
{
    RefreshControls(RefreshBusy);
    StatusLine("Formatting Device...");

    return OnOpenConverter([](DevicePort &port) {
        if (!WriteImageFrom(port, 0, WriteKind::format))
            return FailWrite(port, formatRegisterFailed);
        CloseDevicePort(port);
        StatusLine("Device Format Complete");
        return true;
    });
}
