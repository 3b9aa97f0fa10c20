// The hot-plug facility bound to the real system: Attach, the codes it posts
// when the virtual converter in Wine's own HID stack is unplugged and
// plugged back, and the reader thread receiving the converter's reports.
// The converter is switched through its control channel (vconv/); the test
// command installs it and plugs converter 0 first.
#include "device/broadcast_name.h"
#include "base/no_copy.h"
#include "device/device_syscalls.h"
#include "device/hid_com.h"
#include "tests/device/match_converter.h"
#include "tests/device/notify_window.h"
#include "tests/support/pump_until.h"
#include "vconv/vconv_client.h"
#include "vconv/vconv_control.h"

#include <dbt.h>
#include <setupapi.h>
#include <winioctl.h>

#include <doctest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Codes = std::vector<WPARAM>;

bool Plug(unsigned identity)
{
    ZyrvPlug plug = {};
    plug.identity = identity;
    plug.keepRegisters = 1;
    return VconvRequest(ZYRV_IOCTL_PLUG, &plug, sizeof plug);
}

bool Unplug() { return VconvUnplug(0); }

bool PluggedAs(unsigned identity)
{
    ZyrvStatus status = {};
    return VconvRequest(ZYRV_IOCTL_GET_STATUS, nullptr, 0, &status, sizeof status) && status.converters[0].plugged &&
           status.converters[0].present && status.converters[0].identity == identity;
}

uint8_t Register(unsigned address)
{
    unsigned char registers[256] = {};
    REQUIRE(VconvGetRegisters(0, registers));
    return registers[address];
}

// An ANSI window standing in for the owner: it keeps what hid_com posts to
// it, and, registered for HID interfaces itself, the names of the removals
// the system broadcasts, as they arrive.
class Owner : private NoCopy {
public:
    Owner()
    {
        const char *const className = "zyr real hot-plug owner";
        RegisterWindowClass(className, Procedure);
        window = CreateWindowExA(0, className, "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        DEV_BROADCAST_DEVICEINTERFACE_A filter = InterfaceFilter(vconvHidInterfaceClass);
        notify = RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }
    ~Owner()
    {
        Pump();
        if (notify)
            UnregisterDeviceNotification(notify);
        DestroyWindow(window);
    }

    HWND Handle() const { return window; }
    void Pump()
    {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.hwnd == window && msg.message == WM_HIDCOM_STATUS)
                codes.push_back(msg.wParam);
            else if (msg.hwnd == window && msg.message == WM_HIDCOM_REPORT)
                reports.push_back({static_cast<uint32_t>(msg.lParam), static_cast<uint32_t>(msg.wParam)});
            else
                DispatchMessageA(&msg);
        }
    }
    // Pumps until `done` holds or 10 s have passed.
    template <class Done> bool PumpUntil(Done done)
    {
        return ::PumpUntil([this] { Pump(); }, done, 10000);
    }
    // Pumps until no code has come for a second (at most ten).
    void PumpUntilQuiet()
    {
        for (int i = 0; i < 10; i++) {
            const size_t before = codes.size();
            ::PumpUntil([this] { Pump(); }, [] { return false; }, 1000);
            if (codes.size() == before)
                return;
        }
    }
    bool Has(WPARAM code) const
    {
        for (WPARAM c : codes)
            if (c == code)
                return true;
        return false;
    }
    // The codes without the reader's own report: whether the reader's
    // failure or the broadcast comes first is the system's choice.
    Codes WithoutReadStopped() const
    {
        Codes out;
        for (WPARAM c : codes)
            if (c != HIDCOM_READ_STOPPED)
                out.push_back(c);
        return out;
    }

    struct Report {
        uint32_t low, high;
    };
    Codes codes;
    std::vector<Report> reports;
    std::vector<std::string> removedNames;
    std::vector<bool> removedWide;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto *self = reinterpret_cast<Owner *>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && message == WM_DEVICECHANGE && wParam == DBT_DEVICEREMOVECOMPLETE && lParam) {
            const auto *r = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A *>(lParam);
            const size_t header = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
            if (r->dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE && r->dbcc_size > header) {
                self->removedNames.push_back(BroadcastInterfaceName(r->dbcc_name, r->dbcc_size - header));
                self->removedWide.push_back(r->dbcc_size - header >= 2 && r->dbcc_name[1] == '\0');
            }
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    HWND window = nullptr;
    HDEVNOTIFY notify = nullptr;
};

// A read request for `address`, as the protocol sends it (report id 0).
bool RequestRegister(hid_com &device, unsigned address)
{
    uint8_t request[9] = {0, 2, static_cast<uint8_t>(address)};
    return device.WriteReport(request) == 1;
}

// Until the system lists a converter (or lists none), at most 10 s.
bool WaitFound(bool found)
{
    hid_com probe;
    MatchConverter(probe);
    return PollUntil([&] { return (probe.FindDevice() != 0) == found; }, 10000);
}

// Until no interface of the converter's vendor and product is listed.
bool WaitNoneListed() { return WaitListedConverters(0, 10000); }

// Converter 0, as it ships, on the bus and listed, whatever a case left.
struct ConverterPlugged {
    ConverterPlugged() { REQUIRE_MESSAGE(Restore(), "converter 0 is not on the virtual bus (zyr_install_vconv)"); }
    ~ConverterPlugged() { Restore(); }
    static bool Restore()
    {
        if (!PluggedAs(ZYRV_IDENTITY_CONVERTER)) {
            Unplug();
            if (!WaitNoneListed() || !Plug(ZYRV_IDENTITY_CONVERTER))
                return false;
        }
        return WaitFound(true);
    }
};

// The converter plugged, an owner window and a hid_com matching the converter.
struct OwnerAndDevice : ConverterPlugged {
    OwnerAndDevice() { MatchConverter(device); }
    Owner owner;
    hid_com device;
};

}  // namespace

TEST_CASE_FIXTURE(OwnerAndDevice, "Real system: Attach finds the converter, the reader receives its replies, "
                                  "and unplug and replug post 5, 4, then 5, 3")
{
    REQUIRE(device.Attach(owner.Handle()) == 1);
    REQUIRE(owner.PumpUntil([&] { return !owner.codes.empty(); }));
    REQUIRE(owner.codes == Codes{HIDCOM_DEVICE_FOUND});
    REQUIRE(device.devicePath != nullptr);
    const std::string path = device.devicePath;
    owner.codes.clear();

    // Each read request gets one report, carrying the register's value.
    REQUIRE(device.Open() == 1);
    for (unsigned address : {1u, 2u, 3u, 6u}) {
        CAPTURE(address);
        owner.reports.clear();
        REQUIRE(RequestRegister(device, address));
        REQUIRE(owner.PumpUntil([&] { return !owner.reports.empty(); }));
        CHECK((owner.reports[0].low & 0xFFFFFFu) ==
              (2u | address << 8 | static_cast<uint32_t>(Register(address)) << 16));
    }

    // Unplugged with the reader open: the reader ends, the device is closed.
    REQUIRE(Unplug());
    REQUIRE(owner.PumpUntil([&] { return owner.Has(HIDCOM_DEVICE_ABSENT); }));
    CHECK(owner.WithoutReadStopped() == Codes{HIDCOM_DEVICE_CHANGE, HIDCOM_DEVICE_ABSENT});
    CHECK_FALSE(device.IsOpen());
    CHECK(device.comReadHandle == INVALID_HANDLE_VALUE);
    CHECK(device.comWriteHandle == INVALID_HANDLE_VALUE);
    CHECK(device.deviceFound == 0);
    // The system named the converter's interface; ANSI is what Windows
    // gives this window, UTF-16 what Wine 8.0 gives it.
    REQUIRE(owner.PumpUntil([&] { return !owner.removedNames.empty(); }));
    CHECK(_stricmp(owner.removedNames.back().c_str(), path.c_str()) == 0);
    const std::string encoding = owner.removedWide.back() ? "UTF-16" : "ANSI";
    MESSAGE("removal name in " << encoding);

    // Plugged back: found again (not opened), then read as before.
    owner.codes.clear();
    REQUIRE(Plug(ZYRV_IDENTITY_CONVERTER));
    REQUIRE(owner.PumpUntil([&] { return owner.Has(HIDCOM_DEVICE_FOUND); }));
    CHECK(owner.codes == Codes{HIDCOM_DEVICE_CHANGE, HIDCOM_DEVICE_FOUND});
    CHECK_FALSE(device.IsOpen());
    REQUIRE(device.Open() == 1);
    owner.reports.clear();
    REQUIRE(RequestRegister(device, 1));
    REQUIRE(owner.PumpUntil([&] { return !owner.reports.empty(); }));
    CHECK((owner.reports[0].low & 0xFFFFFFu) == (2u | 1u << 8 | static_cast<uint32_t>(Register(1)) << 16));
    device.Close();
    CHECK(device.comReadHandle == INVALID_HANDLE_VALUE);
}

TEST_CASE_FIXTURE(OwnerAndDevice, "Real system: a converter of another identity coming and going posts 5 only")
{
    REQUIRE(Unplug());
    REQUIRE(WaitNoneListed());
    // Attached while nothing matches: 4.
    REQUIRE(device.Attach(owner.Handle()) == 1);
    REQUIRE(owner.PumpUntil([&] { return !owner.codes.empty(); }));
    CHECK(owner.codes == Codes{HIDCOM_DEVICE_ABSENT});
    for (unsigned identity : {ZYRV_IDENTITY_RELEASE_0101, ZYRV_IDENTITY_MAKER_CASE, ZYRV_IDENTITY_REPORTS_16}) {
        CAPTURE(identity);
        // A code the last removal still had on its way would stand for
        // this arrival, and the unplug would then race the arrival itself.
        owner.PumpUntilQuiet();
        owner.codes.clear();
        REQUIRE(Plug(identity));
        REQUIRE(owner.PumpUntil([&] { return !owner.codes.empty(); }));
        REQUIRE(owner.PumpUntil([&] { return ListedConverterPaths().size() == 1; }));
        REQUIRE(Unplug());
        REQUIRE(owner.PumpUntil([&] { return owner.codes.size() >= 2; }));
        owner.Pump();
        CHECK(owner.codes == Codes{HIDCOM_DEVICE_CHANGE, HIDCOM_DEVICE_CHANGE});
        CHECK(device.deviceFound == 0);
        CHECK_FALSE(device.IsOpen());
    }
}
