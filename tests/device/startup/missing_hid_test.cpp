// A process whose "hid.dll" cannot be loaded: the box must appear during
// static initialisation, on the main thread, exactly once; the process
// then runs on with an empty table and never frees the library at exit.
//
// This program binds the boundary itself: the simulated bus with the
// library missing, and a watcher that answers the box as a user would.
#include "device/device_syscalls.h"
#include "device/hid_com.h"
#include "sim/sim_bus.h"
#include "tests/device/match_converter.h"

#include <doctest.h>

#include <process.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Watched {
    volatile LONG boxes = 0;
    DWORD boxThread = 0;
    char text[64] = {};
    HWND owner = nullptr;
} watched;

DWORD bindingThread = 0;
volatile LONG freeCalls = 0;
BOOL(WINAPI *busFreeLibrary)(HMODULE) = nullptr;

BOOL WINAPI CountingFreeLibrary(HMODULE module)
{
    InterlockedIncrement(&freeCalls);
    return busFreeLibrary(module);
}

BOOL CALLBACK FindBox(HWND window, LPARAM found)
{
    char caption[32] = {};
    char cls[16] = {};
    DWORD pid = 0;
    const DWORD thread = GetWindowThreadProcessId(window, &pid);
    GetClassNameA(window, cls, sizeof cls);
    GetWindowTextA(window, caption, sizeof caption);
    if (pid == GetCurrentProcessId() && IsWindowVisible(window) && std::string(cls) == "#32770" &&
        std::string(caption) == "DLL ERROR") {
        *reinterpret_cast<HWND *>(found) = window;
        watched.boxThread = thread;
        return FALSE;
    }
    return TRUE;
}

// Answers every "DLL ERROR" box for ten seconds, counting them.
unsigned __stdcall Watch(void *)
{
    HWND answered = nullptr;
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < 10000) {
        HWND box = nullptr;
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&box));
        if (box && box != answered) {
            InterlockedIncrement(&watched.boxes);
            GetDlgItemTextA(box, 0xFFFF, watched.text, sizeof watched.text);
            watched.owner = GetWindow(box, GW_OWNER);
            answered = box;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
        Sleep(5);
    }
    return 0;
}

// Runs after hidDevice's destructor: it was registered while hidDevice was
// being constructed, before its destructor could be.
void CheckNothingFreed()
{
    if (freeCalls != 0) {
        std::fputs("hid.dll was freed at exit although it was never loaded\n", stderr);
        _exit(3);
    }
}

}  // namespace

DeviceSyscalls BindDeviceSyscalls()
{
    sim::SimBus &bus = sim::SimBus::Instance();
    bus.hidLibraryMissing = true;
    bus.AddConverter();
    bindingThread = GetCurrentThreadId();
    std::atexit(CheckNothingFreed);
    HANDLE watcher = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Watch, nullptr, 0, nullptr));
    if (watcher)
        CloseHandle(watcher);
    DeviceSyscalls table = sim::BusSyscalls();
    busFreeLibrary = table.FreeLibrary;
    table.FreeLibrary = CountingFreeLibrary;
    return table;
}

TEST_CASE("Without hid.dll one box appears before main, from the main thread, and the program runs on")
{
    CHECK(watched.boxes == 1);
    CHECK(std::string(watched.text) == "Failed to load HID.DLL");
    CHECK(watched.owner == nullptr);
    CHECK(watched.boxThread == bindingThread);
    CHECK(bindingThread == GetCurrentThreadId());  // static initialisation ran on this thread

    CHECK(hidDevice.library.Module() == nullptr);
    CHECK_FALSE(hidDevice.library.CanDiscover());
    MatchConverter();
    CHECK(hidDevice.FindDevice() == 0);  // a converter is there, but nothing can be asked
    CHECK(sim::SimBus::Instance().OpenHandlesTotal() == 0);
    CHECK(sim::SimBus::Instance().LibraryLoads() == 0);
}
