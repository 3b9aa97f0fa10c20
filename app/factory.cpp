#include "app/factory.h"

#include "app/controls.h"
#include "app/main_window.h"
#include "config/config_image.h"
#include "config/default_images.h"
#include "protocol/device_operations.h"

namespace {

const char formatCaption[] = "DEVICE FORMAT";

int AskFormatQuestion(const char *text, UINT buttons)
{
    return MessageBoxA(mainDialogHandle, text, formatCaption, buttons | MB_ICONEXCLAMATION);
}

}  // namespace

void LoadFactoryDefaults(HWND owner)
{
    // A running operation streams the image to or from the converter; the
    // button is disabled then, and this keeps a stray press from mixing two
    // images on the device.
    if (workerHandle)
        return;
    const uint16_t version = ConfigImage.FirmwareVersion();
    const uint16_t type = ConfigImage.FirmwareType();
    const DefaultImage defaults = FindDefaultImage(version, type);
    if (!defaults.bytes) {
        ErrorBox(owner, "Wrong firmware type;  0x%X-0x%X", version, type);
        return;
    }
    ConfigImage.LoadPrefix(defaults.bytes, defaults.length);
    RefreshControls(RefreshImage);
    TopmostBox(owner,
               "Factory Defaults have been loaded to memory.\n"
               "Use \"Write Device\" button to write defaults back to device.",
               "Defaults Loaded OK", MB_OK | MB_ICONINFORMATION);
}

void RunFactoryFormat()
{
    // Nothing may replace the image under a running operation; like Read
    // Device pressed while busy, the press does nothing.
    if (workerHandle)
        return;
    if (AskFormatQuestion("Do you want to Factory Format your Device?", MB_YESNO) != IDYES)
        return;
    if (AskFormatQuestion("WARNING! Selecting the wrong options will cause your ZYR device to not "
                          "work correctly, do you understand?",
                          MB_YESNO) != IDYES)
        return;
    const int ect = AskFormatQuestion("Does your ZYR device have ECT capability?", MB_YESNOCANCEL);
    if (ect != IDYES && ect != IDNO)
        return;
    const int connector = AskFormatQuestion("Does your ZYR device have a black colored harness connector?\n"
                                            "YES = ZYR has Black Connector\n"
                                            "NO = ZYR has White connector",
                                            MB_YESNOCANCEL);
    if (connector != IDYES && connector != IDNO)
        return;

    // The questions are modal, but a queued command could still have started
    // an operation meanwhile: then the image stays as that operation has it.
    if (workerHandle)
        return;
    const DefaultImage defaults = FormatDefaultImage(ect == IDYES, connector == IDYES);
    ConfigImage.LoadPrefix(defaults.bytes, defaults.length);
    StartFormatWorker();
}
