// The bus's "hid.dll" entry points, called through the binding as the
// program calls them: strings, attributes, preparsed data and the rest.
#include "tests/device/device_test_support.h"
#include "tests/support/sim_fixture.h"

#include "device/device_syscalls.h"

#include <string>

namespace {

// The wide string a buffer of `bytes` receives, sentinels marking what was
// left untouched.
std::wstring Fill(HANDLE handle, ULONG bytes, BOOLEAN &ok)
{
    wchar_t wide[16];
    for (wchar_t &c : wide)
        c = L'#';
    ok = hidDevice.library.GetManufacturerString(handle, wide, bytes);
    return std::wstring(wide, 16);
}

}  // namespace

TEST_CASE_FIXTURE(SimFixture, "Strings honour the buffer length in bytes")
{
    sim::SimDevice &converter = bus.AddConverter();  // "Brantix": 7 characters, 14 bytes
    HANDLE h = OpenDevice(converter, 0);
    BOOLEAN ok = FALSE;
    // Room for the terminator: the string and its terminator.
    CHECK(Fill(h, 16, ok) == std::wstring(L"Brantix") + L'\0' + std::wstring(8, L'#'));
    CHECK(ok);
    // Exactly the string's bytes: no terminator.
    CHECK(Fill(h, 14, ok) == L"Brantix" + std::wstring(9, L'#'));
    CHECK(ok);
    // An odd length: whole characters only.
    CHECK(Fill(h, 15, ok) == L"Brantix" + std::wstring(9, L'#'));
    // Too small: cut.
    CHECK(Fill(h, 6, ok) == L"Bra" + std::wstring(13, L'#'));
    CHECK(ok);

    SUBCASE("a string fault leaves the buffer as it was") {
        converter.failStrings = true;
        CHECK(Fill(h, 16, ok) == std::wstring(16, L'#'));
        CHECK_FALSE(ok);
    }
    SUBCASE("indexed strings 1 and 2 are the manufacturer and the product") {
        wchar_t wide[16] = {};
        CHECK(hidDevice.library.GetIndexedString(h, 2, wide, sizeof wide));
        CHECK(std::wstring(wide) == L"ZYR-USB");
        CHECK_FALSE(hidDevice.library.GetIndexedString(h, 9, wide, sizeof wide));
        CHECK_FALSE(hidDevice.library.GetSerialNumberString(h, wide, sizeof wide));
    }
    Sys().CloseHandle(h);
}

TEST_CASE_FIXTURE(SimFixture, "Attributes need the structure's size and a live handle")
{
    sim::SimDevice &converter = bus.AddConverter();
    HANDLE h = OpenDevice(converter, 0);
    HIDD_ATTRIBUTES a = {};
    CHECK_FALSE(hidDevice.library.GetAttributes(h, &a));  // Size not set
    CHECK(GetLastError() == ERROR_INVALID_PARAMETER);
    a.Size = sizeof a;
    CHECK(hidDevice.library.GetAttributes(h, &a));
    CHECK(a.VendorID == 0x16C0);
    CHECK(a.ProductID == 0x03E8);
    CHECK(a.VersionNumber == 0x0100);
    Sys().CloseHandle(h);
    CHECK_FALSE(hidDevice.library.GetAttributes(h, &a));
    CHECK(GetLastError() == ERROR_INVALID_HANDLE);
}

TEST_CASE_FIXTURE(SimFixture, "Preparsed data is counted until freed, and checked when used")
{
    sim::SimDevice &converter = bus.AddConverter();
    HANDLE h = OpenDevice(converter, 0);
    PHIDP_PREPARSED_DATA data = nullptr;
    REQUIRE(hidDevice.library.GetPreparsedData(h, &data));
    CHECK(bus.OutstandingPreparsedData() == 1);
    HIDP_CAPS caps = {};
    CHECK(hidDevice.library.GetCaps(data, &caps) == HIDP_STATUS_SUCCESS);
    CHECK(caps.InputReportByteLength == 9);
    CHECK(caps.OutputReportByteLength == 9);
    CHECK(caps.FeatureReportByteLength == 0);
    CHECK(hidDevice.library.FreePreparsedData(data));
    CHECK(bus.OutstandingPreparsedData() == 0);
    // Used or freed again after it was freed: refused, not a crash.
    CHECK(hidDevice.library.GetCaps(data, &caps) == HIDP_STATUS_INVALID_PREPARSED_DATA);
    CHECK_FALSE(hidDevice.library.FreePreparsedData(data));
    Sys().CloseHandle(h);
}

TEST_CASE_FIXTURE(SimFixture, "The control pipe: output reports reach the firmware, the rest is not served")
{
    sim::SimDevice &converter = bus.AddConverter();
    HANDLE out = OpenDevice(converter, GENERIC_WRITE);
    sim::Report request = WriteRequest(66, 0x42);
    CHECK(hidDevice.library.SetOutputReport(out, request.data(), 9));
    CHECK(converter.Register(66) == 0x42);
    uint8_t buffer[9] = {};
    CHECK_FALSE(hidDevice.library.GetInputReport(out, buffer, 9));
    CHECK_FALSE(hidDevice.library.GetFeature(out, buffer, 9));
    CHECK_FALSE(hidDevice.library.SetFeature(out, buffer, 9));
    CHECK_FALSE(hidDevice.library.GetPhysicalDescriptor(out, buffer, 9));
    Sys().CloseHandle(out);
}

TEST_CASE_FIXTURE(SimFixture, "The library's module, entry points and frees")
{
    SUBCASE("unknown names are not exported") {
        HMODULE module = Sys().LoadHidLibrary();
        const bool unknownName = Sys().GetProcAddress(module, "HidD_NoSuchFunction") == nullptr;
        const bool ordinal = Sys().GetProcAddress(module, MAKEINTRESOURCEA(1)) == nullptr;
        CHECK(unknownName);
        CHECK(ordinal);
        CHECK(Sys().FreeLibrary(module));
        CHECK(bus.LibraryLoads() == 1);
        CHECK(bus.LibraryFrees() == 1);
    }
    SUBCASE("other modules go to Win32") {
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        const bool same = Sys().GetProcAddress(kernel, "GetTickCount") == GetProcAddress(kernel, "GetTickCount");
        CHECK(same);
    }
    SUBCASE("a missing library") {
        bus.hidLibraryMissing = true;
        CHECK(Sys().LoadHidLibrary() == nullptr);
        CHECK(bus.LibraryLoads() == 0);
    }
}
