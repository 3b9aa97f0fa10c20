// The shipped binding against the real system: "hid.dll" from the system
// directory, the real SetupAPI walk over the HID devices the system has
// (Wine's own mouse and keyboard when run under wine64), and nothing left
// open afterwards. The same checks the simulated bus makes are asked of
// the real functions here, so the bus cannot drift from them unnoticed.
#include "device/device_syscalls.h"
#include "device/hid_com.h"
#include "protocol/converter_identity.h"
#include "tests/device/match_converter.h"
#include "tests/device/notify_window.h"
#include "tests/support/skip.h"

#include <doctest.h>

#include <cstring>
#include <ios>
#include <string>
#include <vector>

namespace {

struct Interface {
    std::string path;
    HIDD_ATTRIBUTES attributes = {};
    std::string manufacturer;
    std::string product;
    uint32_t lengths = 0;
};

std::string Narrow(const wchar_t *wide)
{
    char text[260] = {};
    std::wcstombs(text, wide, 254);
    return text;
}

// Every present HID interface, read the way FindDevice reads one.
std::vector<Interface> PresentInterfaces()
{
    GUID guid = {};
    hidDevice.library.GetHidGuid(&guid);
    std::vector<Interface> found;
    HDEVINFO list = Sys().SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    REQUIRE(list != INVALID_HANDLE_VALUE);
    for (DWORD i = 0;; ++i) {
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof data;
        if (!Sys().SetupDiEnumDeviceInterfaces(list, nullptr, &guid, i, &data))
            break;
        DWORD size = 0;
        Sys().SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &size, nullptr);
        std::vector<char> block(size);
        auto *detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(block.data());
        detail->cbSize = sizeof *detail;
        REQUIRE(Sys().SetupDiGetDeviceInterfaceDetailA(list, &data, detail, size, nullptr, nullptr));
        Interface it;
        it.path = detail->DevicePath;
        HANDLE h = Sys().CreateFileA(detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     0, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            it.attributes.Size = sizeof it.attributes;
            hidDevice.library.GetAttributes(h, &it.attributes);
            wchar_t wide[128] = {};
            hidDevice.library.GetManufacturerString(h, wide, 254);
            it.manufacturer = Narrow(wide);
            std::memset(wide, 0, sizeof wide);
            hidDevice.library.GetProductString(h, wide, 254);
            it.product = Narrow(wide);
            it.lengths = hidDevice.ReadReportLengths(h);
            Sys().CloseHandle(h);
        }
        found.push_back(it);
    }
    Sys().SetupDiDestroyDeviceInfoList(list);
    return found;
}

DWORD HandleCount()
{
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

}  // namespace

TEST_CASE("The real hid.dll is loaded from the system directory with all seventeen entry points")
{
    const HMODULE module = hidDevice.library.Module();
    REQUIRE(module != nullptr);
    char file[MAX_PATH] = {};
    char system[MAX_PATH] = {};
    REQUIRE(GetModuleFileNameA(module, file, MAX_PATH) > 0);
    REQUIRE(GetSystemDirectoryA(system, MAX_PATH) > 0);
    CHECK(_strnicmp(file, system, std::strlen(system)) == 0);
    CHECK(_stricmp(file + std::strlen(system), "\\hid.dll") == 0);

    const HidLibrary &l = hidDevice.library;
    const bool all = l.pGetAttributes && l.pGetHidGuid && l.pGetPreparsedData && l.pFreePreparsedData &&
                     l.pFlushQueue && l.pGetFeature && l.pSetFeature && l.pGetNumInputBuffers &&
                     l.pSetNumInputBuffers && l.pGetPhysicalDescriptor && l.pGetManufacturerString &&
                     l.pGetProductString && l.pGetIndexedString && l.pGetSerialNumberString && l.pGetInputReport &&
                     l.pSetOutputReport && l.pGetCaps;
    CHECK(all);
    CHECK(l.CanDiscover());
}

TEST_CASE("FindDevice walks the system's HID devices, matches only a converter and leaves nothing open")
{
    const std::vector<Interface> present = PresentInterfaces();
    for (const Interface &it : present)
        MESSAGE(it.path << "  vid " << std::hex << it.attributes.VendorID << " pid " << it.attributes.ProductID
                        << " rel " << it.attributes.VersionNumber << " \"" << it.manufacturer << "\" \"" << it.product
                        << "\" lengths " << it.lengths);

    // The test command plugs the virtual converter into the prefix; then
    // the walk finds it, and only then.
    std::string converterPath;
    for (const Interface &it : present)
        if (converterPath.empty() && it.attributes.VendorID == 0x16C0 && it.attributes.ProductID == 0x03E8 &&
            it.attributes.VersionNumber == 0x0100 && it.manufacturer == "Brantix" && it.product == "ZYR-USB" &&
            it.lengths == ((9u << 16) | 9u))
            converterPath = it.path;
    const DWORD before = HandleCount();
    MatchConverter();
    CHECK(hidDevice.FindDevice() == (converterPath.empty() ? 0 : 1));
    if (converterPath.empty())
        CHECK(hidDevice.devicePath == nullptr);
    else
        CHECK(std::string(hidDevice.devicePath ? hidDevice.devicePath : "") == converterPath);
    CHECK(HandleCount() == before);
    if (converterPath.empty())
        return SkipCase("no converter attached (the test command plugs the virtual converter in)");

    // The same walk matches a device the system does have, given its identity.
    for (const Interface &it : present) {
        if (!it.attributes.VendorID || (it.lengths & 0xFFFF) == 0)
            continue;
        hidDevice.SetMatch(it.attributes.VendorID, it.attributes.ProductID, it.attributes.VersionNumber,
                           static_cast<uint8_t>((it.lengths & 0xFFFF) - 1),
                           static_cast<uint8_t>((it.lengths >> 16) - 1), it.manufacturer.c_str(), it.product.c_str());
        CHECK(hidDevice.FindDevice() == 1);
        REQUIRE(hidDevice.devicePath != nullptr);
        // Not necessarily this interface: an earlier twin with the same identity wins.
        CHECK(HandleCount() == before);
        break;
    }
}

TEST_CASE("The real SetupAPI refuses a detail size field of the wrong width, as the bus does")
{
    GUID guid = {};
    hidDevice.library.GetHidGuid(&guid);
    HDEVINFO list = Sys().SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    REQUIRE(list != INVALID_HANDLE_VALUE);
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    if (Sys().SetupDiEnumDeviceInterfaces(list, nullptr, &guid, 0, &data)) {
        DWORD size = 0;
        SetLastError(0);
        CHECK_FALSE(Sys().SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &size, nullptr));
        CHECK(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
        std::vector<char> block(size + 8);
        auto *detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(block.data());
        detail->cbSize = size;
        CHECK_FALSE(Sys().SetupDiGetDeviceInterfaceDetailA(list, &data, detail, size, nullptr, nullptr));
        CHECK(GetLastError() == ERROR_INVALID_USER_BUFFER);
        detail->cbSize = sizeof *detail;
        CHECK(Sys().SetupDiGetDeviceInterfaceDetailA(list, &data, detail, size, nullptr, nullptr));
    } else {
        SkipCase("no HID interface on this system (the test command plugs the virtual converter in)");
    }
    CHECK(Sys().SetupDiDestroyDeviceInfoList(list));
}

TEST_CASE("The real filter structure registers for HID notifications")
{
    HWND window = CreateClassWindow("ZyrRealNotify", DefWindowProcA);
    REQUIRE(window != nullptr);
    GUID hidGuid = {};
    hidDevice.library.GetHidGuid(&hidGuid);
    DEV_BROADCAST_DEVICEINTERFACE_A filter = InterfaceFilter(hidGuid);
    HDEVNOTIFY handle = Sys().RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    CHECK(handle != nullptr);
    if (handle)
        CHECK(Sys().UnregisterDeviceNotification(handle));
    DestroyWindow(window);
}
