// The bus's SetupAPI: snapshots in bus order, the two-call detail protocol,
// and the structure-size checks that catch width mistakes.
#include "tests/device/device_test_support.h"
#include "tests/support/sim_fixture.h"

#include "device/device_syscalls.h"

#include <cstddef>
#include <vector>

namespace {

GUID HidGuid()
{
    GUID guid = {};
    hidDevice.library.GetHidGuid(&guid);
    return guid;
}

HDEVINFO PresentHidInterfaces()
{
    GUID guid = HidGuid();
    return Sys().SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
}

std::vector<std::string> Paths(HDEVINFO list)
{
    GUID guid = HidGuid();
    std::vector<std::string> paths;
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
        if (!Sys().SetupDiGetDeviceInterfaceDetailA(list, &data, detail, size, nullptr, nullptr))
            break;
        paths.push_back(detail->DevicePath);
    }
    return paths;
}

}  // namespace

TEST_CASE_FIXTURE(SimFixture, "The HID interface class GUID is the real one")
{
    const GUID hid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    CHECK(IsEqualGUID(HidGuid(), hid));
}

TEST_CASE_FIXTURE(SimFixture, "Lists are snapshots of the present interfaces in the order added")
{
    sim::SimDevice &mouse = bus.AddWineMouse();
    sim::SimDevice &converter = bus.AddConverter();
    sim::SimDevice &keyboard = bus.AddWineKeyboard();
    bus.Unplug(converter);
    HDEVINFO list = PresentHidInterfaces();
    REQUIRE(list != INVALID_HANDLE_VALUE);
    CHECK(bus.OpenDeviceInfoLists() == 1);
    bus.AddConverter();  // after the snapshot
    CHECK(Paths(list) == std::vector<std::string>{mouse.path, keyboard.path});
    CHECK(Sys().SetupDiDestroyDeviceInfoList(list));
    CHECK(bus.OpenDeviceInfoLists() == 0);
    CHECK_FALSE(Sys().SetupDiDestroyDeviceInfoList(list));
    CHECK(GetLastError() == ERROR_INVALID_HANDLE);

    GUID guid = HidGuid();
    HDEVINFO all = Sys().SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_DEVICEINTERFACE);
    CHECK(Paths(all).size() == 4);  // without DIGCF_PRESENT the absent one too
    Sys().SetupDiDestroyDeviceInfoList(all);

    GUID other = guid;
    other.Data1 ^= 1;
    HDEVINFO none = Sys().SetupDiGetClassDevsA(&other, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    CHECK(Paths(none).empty());
    Sys().SetupDiDestroyDeviceInfoList(none);
}

TEST_CASE_FIXTURE(SimFixture, "Interface paths look like Windows paths and are distinct")
{
    sim::SimDevice &a = bus.AddConverter();
    sim::SimDevice &b = bus.AddConverter();
    CHECK(a.path != b.path);
    CHECK(a.path.rfind("\\\\?\\hid#vid_16c0&pid_03e8#", 0) == 0);
    CHECK(a.path.find("#{4d1e55b2-f16f-11cf-88cb-001111000030}") != std::string::npos);
    CHECK(a.NotificationName() != a.path);
    CHECK(_stricmp(a.NotificationName().c_str(), a.path.c_str()) == 0);
    CHECK(a.NotificationName().rfind("\\\\?\\HID#VID_16C0&PID_03E8#", 0) == 0);
}

TEST_CASE_FIXTURE(SimFixture, "The interface detail: size query, then fill, with Windows's checks")
{
    sim::SimDevice &converter = bus.AddConverter();
    HDEVINFO list = PresentHidInterfaces();
    GUID guid = HidGuid();
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    REQUIRE(Sys().SetupDiEnumDeviceInterfaces(list, nullptr, &guid, 0, &data));
    const DWORD needed =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + converter.path.size() + 1);

    DWORD size = 0;
    SetLastError(0);
    CHECK_FALSE(Sys().SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &size, nullptr));
    CHECK(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
    CHECK(size == needed);

    std::vector<char> block(size + 8);
    auto *detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(block.data());
    SUBCASE("cbSize must be this width's structure size") {
        detail->cbSize = size;  // the whole block: a classic mistake
        CHECK_FALSE(Sys().SetupDiGetDeviceInterfaceDetailA(list, &data, detail, size, nullptr, nullptr));
        CHECK(GetLastError() == ERROR_INVALID_USER_BUFFER);
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5 ? 8 : 5;  // the other width's
        CHECK_FALSE(Sys().SetupDiGetDeviceInterfaceDetailA(list, &data, detail, size, nullptr, nullptr));
        CHECK(GetLastError() == ERROR_INVALID_USER_BUFFER);
    }
    SUBCASE("a block one byte short is refused with the size needed") {
        detail->cbSize = sizeof *detail;
        DWORD again = 0;
        CHECK_FALSE(Sys().SetupDiGetDeviceInterfaceDetailA(list, &data, detail, size - 1, &again, nullptr));
        CHECK(GetLastError() == ERROR_INSUFFICIENT_BUFFER);
        CHECK(again == needed);
    }
    SUBCASE("a size without a block is refused") {
        CHECK_FALSE(Sys().SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, size, &size, nullptr));
        CHECK(GetLastError() == ERROR_INVALID_USER_BUFFER);
    }
    SUBCASE("filled: the path, and the device element when asked") {
        detail->cbSize = sizeof *detail;
        SP_DEVINFO_DATA element = {};
        element.cbSize = sizeof element;
        CHECK(Sys().SetupDiGetDeviceInterfaceDetailA(list, &data, detail, size, nullptr, &element));
        CHECK(std::string(detail->DevicePath) == converter.path);
        CHECK(element.DevInst == 1);
    }
    SUBCASE("the failure switches fail only the second call") {
        SUBCASE("for the bus") { bus.failInterfaceDetail = true; }
        SUBCASE("for the device") { converter.failInterfaceDetail = true; }
        size = 0;
        Sys().SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &size, nullptr);
        CHECK(size == needed);
        detail->cbSize = sizeof *detail;
        CHECK_FALSE(Sys().SetupDiGetDeviceInterfaceDetailA(list, &data, detail, size, nullptr, nullptr));
        CHECK(GetLastError() != ERROR_INSUFFICIENT_BUFFER);
    }
    Sys().SetupDiDestroyDeviceInfoList(list);
}

TEST_CASE_FIXTURE(SimFixture, "Enumeration checks its arguments")
{
    bus.AddConverter();
    HDEVINFO list = PresentHidInterfaces();
    GUID guid = HidGuid();
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data + 4;
    CHECK_FALSE(Sys().SetupDiEnumDeviceInterfaces(list, nullptr, &guid, 0, &data));
    CHECK(GetLastError() == ERROR_INVALID_USER_BUFFER);
    data.cbSize = sizeof data;
    CHECK_FALSE(Sys().SetupDiEnumDeviceInterfaces(list, nullptr, &guid, 1, &data));
    CHECK(GetLastError() == ERROR_NO_MORE_ITEMS);
    CHECK_FALSE(Sys().SetupDiEnumDeviceInterfaces(reinterpret_cast<HDEVINFO>(0x7D7FFFF0), nullptr, &guid, 0, &data));
    CHECK(GetLastError() == ERROR_INVALID_HANDLE);
    Sys().SetupDiDestroyDeviceInfoList(list);

    bus.failClassDevs = true;
    CHECK(PresentHidInterfaces() == INVALID_HANDLE_VALUE);
    CHECK(bus.OpenDeviceInfoLists() == 0);
}
