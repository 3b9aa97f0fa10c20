// Drives the real main dialog over the simulated bus through its typical
// states, for scripts/screenshots.sh. At each state it creates the file
// <folder>/<name>.ready and waits until <folder>/<name>.done exists (the
// script's screenshot is taken), then goes on. Not a test: it checks
// nothing, it only poses the dialog.
//
//   app_screenshot_states.exe <folder>
#include "app/main_window.h"
#include "app/resource_ids.h"
#include "config/config_image.h"
#include "config/default_images.h"
#include "protocol/device_operations.h"
#include "sim/sim_bus.h"
#include "tests/support/help_key.h"
#include "tests/support/pump_until.h"

#include <windows.h>
#include <commctrl.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string folder;

DWORD WINAPI DialogThread(void *)
{
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
    return 0;
}

// Waits until the dialog thread has handled everything sent or posted so far.
void Settle()
{
    SendMessageA(mainDialogHandle, WM_NULL, 0, 0);
    Sleep(300);  // painting
}

void Pose(const char *name)
{
    Settle();
    const std::string ready = folder + "\\" + name + ".ready";
    HANDLE file = CreateFileA(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    const std::string done = folder + "\\" + name + ".done";
    for (int i = 0; i < 6000 && GetFileAttributesA(done.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(10);
}

std::string Status()
{
    char text[300] = {};
    GetDlgItemTextA(mainDialogHandle, IDC_STATUS, text, sizeof text);
    return text;
}

void Press(int id)
{
    PostMessageA(GetDlgItem(mainDialogHandle, id), BM_CLICK, 0, 0);
    Settle();
}

void WaitIdle()
{
    for (int i = 0; i < 6000 && workerHandle; ++i)
        Sleep(10);
    Settle();
}

// A converter holding a default image, as one fresh from the factory.
void PlugConverter(uint16_t version, uint16_t type)
{
    sim::SimBus &bus = sim::SimBus::Instance();
    bus.Reset();
    std::array<uint8_t, 256> registers;
    registers.fill(0xFF);
    DefaultImage image = FindDefaultImage(version, type);
    std::memcpy(registers.data(), image.bytes, image.length);
    bus.AddConverter().SetRegisters(registers);
}

HWND FindBox(const char *caption)
{
    HWND box = nullptr;
    PollUntil(
        [&] {
            box = FindWindowA("#32770", caption);
            return box && IsWindowVisible(box);
        },
        5000, 10);
    return box && IsWindowVisible(box) ? box : nullptr;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: app_screenshot_states FOLDER\n");
        return 2;
    }
    folder = argv[1];
    InitCommonControls();
    HANDLE thread = CreateThread(nullptr, 0, DialogThread, nullptr, 0, nullptr);
    for (int i = 0; i < 1000 && !(mainDialogHandle && IsWindowVisible(mainDialogHandle)); ++i)
        Sleep(10);
    if (!mainDialogHandle)
        return 1;

    Pose("start");

    PlugConverter(12300, 2);
    Press(IDC_READ_DEVICE);
    WaitIdle();
    Pose("read-vss-ect-12300");

    PlugConverter(10005, 2);
    PressF1(mainDialogHandle, 4);  // the High to Low unlock
    Press(IDC_READ_DEVICE);
    WaitIdle();
    Pose("read-vss-ect-10005-unlocked");

    PlugConverter(12300, 3);
    Press(IDC_READ_DEVICE);
    WaitIdle();
    Pose("read-vss-12300");

    // A read on the wire's own time, caught half-way.
    PlugConverter(12300, 2);
    sim::SimBus::Instance().SetRealTime(true, 3000);
    Press(IDC_READ_DEVICE);
    for (int i = 0; i < 3000 && Status().find("40%") == std::string::npos; ++i)
        Sleep(5);
    Pose("busy");
    WaitIdle();
    sim::SimBus::Instance().SetRealTime(false);

    // The range check refusing a write.
    SetDlgItemTextA(mainDialogHandle, IDC_SPEED_ADJUST, "30.0");
    Press(IDC_WRITE_DEVICE);
    if (HWND box = FindBox("Error")) {
        Pose("range-error");
        PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    }
    WaitIdle();

    PostMessageA(mainDialogHandle, WM_CLOSE, 0, 0);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    EndWorkerBeforeExit();
    return 0;
}
