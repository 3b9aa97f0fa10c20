// Read Device, Write Device and Format Device: each finds the converter,
// opens its own port, moves registers between the converter and the image,
// and leaves its outcome on the status line. They run on the worker thread.
#include "protocol/device_operations.h"

#include "app/controls.h"
#include "app/main_window.h"
#include "config/config_image.h"
#include "device/device_syscalls.h"
#include "device/hid_com.h"
#include "protocol/device_port.h"
#include "protocol/operation_cut_off.h"
#include "protocol/operation_text.h"

namespace {

constexpr DWORD pauseAfterOpenMs = 5;

// Location codes: where an operation stopped.
constexpr int readVersionFailed = 497;   // then 498 type, 499 the word at 255
constexpr int readRegisterFailed = 510;
constexpr int writeVersionFailed = 413;  // then 414 type, 415 the word at 255
constexpr int writeRegisterFailed = 426;
constexpr int formatRegisterFailed = 461;

// The protocol's 5 ms pauses are only 5 ms when the system timer ticks
// every millisecond; its default tick is about 15.6 ms.
class FineTimerResolution {
public:
    FineTimerResolution() : active(Sys().TimeBeginPeriod(1) == 0 /* TIMERR_NOERROR */) {}
    ~FineTimerResolution()
    {
        if (active)
            Sys().TimeEndPeriod(1);
    }
    FineTimerResolution(const FineTimerResolution &) = delete;
    FineTimerResolution &operator=(const FineTimerResolution &) = delete;

private:
    bool active;
};

// Finds the converter by its identity and opens a port on it; on failure
// the status line says which step failed and the port stays closed.
bool OpenConverter(DevicePort &port)
{
    hidDevice.SetMatch(0x16C0, 0x03E8, 0x0100, 8, 8, "Brantix", "ZYR-USB");
    if (!hidDevice.FindDevice()) {
        StatusLine("USB device not found");
        return false;
    }
    if (!OpenDevicePort(port)) {
        StatusLine("USB device open failed");
        return false;
    }
    Sys().Sleep(pauseAfterOpenMs);
    return true;
}

// The words both Read Device and Write Device read before their checks:
// the firmware version, the firmware type and the word at 255 (read, not
// examined). Returns 0, or 1 to 3 for the read that failed or was cut off.
int ReadIdentityWords(DevicePort &port, uint16_t &version, uint16_t &type)
{
    uint16_t unused = 0;
    const uint8_t addresses[3] = {layout::firmwareVersion, layout::firmwareType, 255};
    uint16_t *words[3] = {&version, &type, &unused};
    for (int i = 0; i < 3; ++i)
        if (OperationCutOff() || !ReadRegisterWord(port, addresses[i], *words[i]))
            return i + 1;
    return 0;
}

bool FailRead(DevicePort &port, int location)
{
    CloseDevicePort(port);
    StatusLine("READ ERROR L%d", location);
    return false;
}

bool FailWrite(DevicePort &port, int location)
{
    CloseDevicePort(port);
    StatusLine("WRITE ERROR L%d", location);
    return false;
}

enum class WriteKind { write, format };

// Writes image bytes `first` to 255 into the converter's registers with
// progress; false at the first register that fails or at a cut-off.
bool WriteImageFrom(DevicePort &port, int first, WriteKind kind)
{
    ProgressCounter progress;
    for (int address = first; address < 256; ++address) {
        const uint8_t at = static_cast<uint8_t>(address);
        if (OperationCutOff() || !WriteRegister(port, at, ConfigImage.Byte(at)))
            return false;
        if (int percent = progress.Advance(at)) {
            if (kind == WriteKind::write)
                StatusLine("Writing Device Data... %d%%", percent);
            else
                StatusLine("Formatting Device... %d%%", percent);
        }
    }
    return true;
}

} // namespace

bool ReadDevice()
{
    RefreshControls(RefreshBusy);
    highToLowUnlocked = helpPressCount == 4;
    helpPressCount = 0;
    StatusLine("Reading Device Data...");
    ConfigImage.Erase();

    FineTimerResolution timer;
    DevicePort port;
    if (!OpenConverter(port))
        return false;

    uint16_t version = 0, type = 0;
    if (int failed = ReadIdentityWords(port, version, type))
        return FailRead(port, readVersionFailed - 1 + failed);
    if (!AcceptedFirmwareVersion(version)) {
        CloseDevicePort(port);
        StatusLine("Wrong firmware version;  0x%X", version);
        return false;
    }
    if (!AcceptedFirmwareType(type)) {
        CloseDevicePort(port);
        StatusLine("Wrong firmware type;  0x%X", type);
        return false;
    }

    ProgressCounter progress;
    for (int address = 0; address < 256; ++address) {
        const uint8_t at = static_cast<uint8_t>(address);
        uint8_t value = 0;
        if (OperationCutOff() || !ReadRegister(port, at, value))
            return FailRead(port, readRegisterFailed);
        ConfigImage.SetByte(at, value);
        if (int percent = progress.Advance(at))
            StatusLine("Reading Device Data... %d%%", percent);
    }
    CloseDevicePort(port);

    char versionText[8];
    FormatFirmwareVersion(version, versionText, sizeof versionText);
    StatusLine("Read OK        Ver:%s        Device:%s", versionText, DeviceKindName(type));
    return true;
}

bool WriteDevice()
{
    if (!ControlsToImage())
        return false;  // its error box has told the user
    RefreshControls(RefreshBusy);
    StatusLine("Writing Device Data...");

    FineTimerResolution timer;
    DevicePort port;
    if (!OpenConverter(port))
        return false;

    uint16_t version = 0, type = 0;
    if (int failed = ReadIdentityWords(port, version, type))
        return FailWrite(port, writeVersionFailed - 1 + failed);
    // Registers 0 to 4 are never written here, so the image must belong to
    // this converter's firmware before anything is sent.
    if (ConfigImage.FirmwareVersion() != version || ConfigImage.FirmwareType() != type) {
        CloseDevicePort(port);
        StatusLine("Wrong firmware version;  MEM:0x%X-0x%X  DEV:0x%X-0x%X", ConfigImage.FirmwareVersion(),
                   ConfigImage.FirmwareType(), version, type);
        return false;
    }

    if (!WriteImageFrom(port, 5, WriteKind::write))
        return FailWrite(port, writeRegisterFailed);
    CloseDevicePort(port);
    StatusLine("Device Write OK");
    return true;
}

bool FormatDevice()
{
    RefreshControls(RefreshBusy);
    StatusLine("Formatting Device...");

    FineTimerResolution timer;
    DevicePort port;
    if (!OpenConverter(port))
        return false;

    if (!WriteImageFrom(port, 0, WriteKind::format))
        return FailWrite(port, formatRegisterFailed);
    CloseDevicePort(port);
    StatusLine("Device Format Complete");
    return true;
}
