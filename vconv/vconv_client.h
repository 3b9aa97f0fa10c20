// The user-mode end of the virtual converter's control channel, for the
// control tool, the tests and the benchmark alike: one request a call on the
// bus driver's control device, and the converter interfaces the system lists.
// Inline, so each program takes only what it calls (SetupAPI only where the
// interfaces are listed).
#pragma once

#include "vconv/vconv_control.h"

#include <windows.h>
#include <setupapi.h>
#include <winioctl.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

// The interface class under which the system lists HID devices.
inline const GUID vconvHidInterfaceClass = {
    0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

enum class VconvAnswer {
    answered,  // the bus carried the request out
    noBus,  // the control device cannot be opened: the bus is not running
    refused,  // the bus refused the request
};

// The bus driver's control device; INVALID_HANDLE_VALUE when the bus is not
// running.
inline HANDLE OpenVconvControl()
{
    return CreateFileA(ZYRV_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

// Sends one request on a control device opened for it alone. Unless the
// answer is `answered`, GetLastError() holds the system's error.
inline VconvAnswer SendVconvRequest(DWORD code, const void *in, DWORD inSize, void *out = nullptr, DWORD outSize = 0)
{
    HANDLE control = OpenVconvControl();
    if (control == INVALID_HANDLE_VALUE)
        return VconvAnswer::noBus;
    DWORD moved = 0;
    const BOOL ok = DeviceIoControl(control, code, const_cast<void *>(in), inSize, out, outSize, &moved, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(control);
    SetLastError(error);
    return ok ? VconvAnswer::answered : VconvAnswer::refused;
}

// The same request where only success matters.
inline bool VconvRequest(DWORD code, const void *in, DWORD inSize, void *out = nullptr, DWORD outSize = 0)
{
    return SendVconvRequest(code, in, inSize, out, outSize) == VconvAnswer::answered;
}

// The requests a program or test makes most, each true when the bus
// answered it.
inline bool VconvSetPacing(bool on)
{
    ZyrvSlot s = {on ? 1u : 0u};
    return VconvRequest(ZYRV_IOCTL_SET_PACING, &s, sizeof s);
}
// `registers`: 256 bytes.
inline bool VconvSetRegisters(unsigned slot, const unsigned char *registers)
{
    ZyrvRegisters r = {};
    r.slot = slot;
    std::memcpy(r.registers, registers, 256);
    return VconvRequest(ZYRV_IOCTL_SET_REGISTERS, &r, sizeof r);
}
inline bool VconvGetRegisters(unsigned slot, unsigned char *registers)
{
    ZyrvSlot s = {slot};
    ZyrvRegisters r = {};
    if (!VconvRequest(ZYRV_IOCTL_GET_REGISTERS, &s, sizeof s, &r, sizeof r))
        return false;
    std::memcpy(registers, r.registers, 256);
    return true;
}
inline bool VconvUnplug(unsigned slot)
{
    ZyrvSlot s = {slot};
    return VconvRequest(ZYRV_IOCTL_UNPLUG, &s, sizeof s);
}

// Whether the bus driver's control device can be opened now.
inline bool VconvBusRunning()
{
    HANDLE control = OpenVconvControl();
    if (control == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(control);
    return true;
}

// The device paths, as the system spells them, of the HID interfaces with
// the converter's vendor and product id that the system lists now.
inline std::vector<std::string> ListedConverterPaths()
{
    std::vector<std::string> paths;
    HDEVINFO set =
        SetupDiGetClassDevsA(&vconvHidInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return paths;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &vconvHidInterfaceClass, i, &data); i++) {
        char buffer[1024];
        auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(buffer);
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof buffer, nullptr, nullptr))
            continue;
        std::string lower = detail->DevicePath;
        for (char &c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower.find("vid_16c0&pid_03e8") != std::string::npos)
            paths.push_back(detail->DevicePath);
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

// Waits, asking every 20 ms, until the system lists `count` converter
// interfaces; true when it did within `timeoutMs`. `listed`: how many it
// listed last.
inline bool WaitListedConverters(size_t count, DWORD timeoutMs, size_t *listed = nullptr)
{
    const DWORD begin = GetTickCount();
    for (;;) {
        const size_t now = ListedConverterPaths().size();
        if (listed)
            *listed = now;
        if (now == count)
            return true;
        if (GetTickCount() - begin > timeoutMs)
            return false;
        Sleep(20);
    }
}
