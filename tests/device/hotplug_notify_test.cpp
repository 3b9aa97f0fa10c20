// Attach and the device-change handling of hid_com's hidden window: what
// the owner hears when HID interfaces arrive and go, and what happens to
// the device it has open.
#include "tests/device/hotplug_support.h"
#include "tests/device/notify_window.h"

#include <doctest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// A converter and the owner's view of one hid_com on the test thread.
struct HotplugFixture : SimFixture {
    HotplugFixture() { MatchConverter(device); }
    OwnerWindow owner;
    hid_com device;

    // Attaches and takes the first status, which tells found or absent.
    WPARAM AttachAndTakeStatus()
    {
        REQUIRE(device.Attach(owner.Handle()) == 1);
        owner.Pump();
        REQUIRE(owner.Received().size() == 1);
        CHECK(owner.Received()[0].lParam == 0);
        const WPARAM code = owner.StatusCodes().at(0);
        owner.Clear();
        return code;
    }
};

}  // namespace

TEST_CASE_FIXTURE(HotplugFixture, "Attach registers for HID interfaces and posts 3 with the converter found, 4 without")
{
    bus.AddWineMouse();
    sim::SimDevice *converter = nullptr;
    SUBCASE("found") { converter = &bus.AddConverter(); }
    SUBCASE("absent") {}
    const WPARAM code = AttachAndTakeStatus();
    CHECK(code == (converter ? HIDCOM_DEVICE_FOUND : HIDCOM_DEVICE_ABSENT));
    CHECK(device.ownerWindow == owner.Handle());
    CHECK(IsWindow(device.window));
    CHECK_FALSE(IsWindowVisible(device.window));
    CHECK(device.notifyHandle != nullptr);
    CHECK(bus.NotificationRegistrations() == 1);
    CHECK(device.deviceFound == (converter ? 1 : 0));
    if (converter)
        CHECK(std::string(device.devicePath) == converter->path);
    else
        CHECK(device.devicePath == nullptr);
    CheckClosed(device);  // found, not opened
    CHECK(device.Open() == (converter ? 1 : 0));
    device.Close();

    // A second Attach makes no second window and no second registration.
    HWND hidden = device.window;
    CHECK(AttachAndTakeStatus() == code);
    CHECK(device.window == hidden);
    CHECK(bus.NotificationRegistrations() == 1);
    // The hidden window never stands in the way of ending the session.
    CHECK(SendMessageA(device.window, WM_QUERYENDSESSION, 0, 0) == TRUE);
}

TEST_CASE_FIXTURE(HotplugFixture, "A failed registration is not reported; the object works on unaware")
{
    sim::SimDevice &converter = bus.AddConverter();
    bus.failRegisterNotification = true;
    CHECK(AttachAndTakeStatus() == HIDCOM_DEVICE_FOUND);
    CheckNotRegistered(device);

    REQUIRE(device.Open() == 1);
    REQUIRE(WaitUntil([&] { return bus.PendingReads() == 1; }));
    bus.Unplug(converter);
    CHECK(bus.NotificationsSent() == 0);
    // The reader still learns of it: one code 2, after the device closed.
    REQUIRE(owner.WaitForCount(1));
    CHECK(owner.StatusCodes() == Codes{HIDCOM_READ_STOPPED});
    CHECK(owner.Received()[0].lParam == 0xC000009Du);  // STATUS_DEVICE_NOT_CONNECTED
    CheckClosed(device);
}

TEST_CASE_FIXTURE(HotplugFixture, "Removal of the converter, named in another letter case, closes it: 5, then 4")
{
    sim::SimDevice &converter = bus.AddConverter();
    REQUIRE(converter.NotificationName() != converter.path);
    REQUIRE(_stricmp(converter.NotificationName().c_str(), converter.path.c_str()) == 0);
    REQUIRE(AttachAndTakeStatus() == HIDCOM_DEVICE_FOUND);

    SUBCASE("while the reader runs")
    {
        REQUIRE(device.Open() == 1);
        ThreadWatch reader(device.readerThread);
        bus.Unplug(converter);

        // Handled while Unplug sent the notification: all is said already.
        CHECK(reader.Ended());
        CheckClosed(device);
    }
    SUBCASE("while found") { bus.Unplug(converter); }
    // Whatever a reader said about its failed read is out of date: the
    // owner hears only the removal.
    owner.Pump();
    CHECK(owner.StatusCodes() == Codes{HIDCOM_DEVICE_CHANGE, HIDCOM_DEVICE_ABSENT});
    CHECK(device.deviceFound == 0);
    REQUIRE(device.devicePath != nullptr);  // kept
    CHECK(std::string(device.devicePath) == converter.path);
    CHECK(device.Open() == 0);
}

TEST_CASE_FIXTURE(HotplugFixture, "The converter's arrival while absent finds it without opening it: 5, then 3")
{
    sim::SimDevice &converter = bus.AddConverter();
    bus.Unplug(converter);
    REQUIRE(AttachAndTakeStatus() == HIDCOM_DEVICE_ABSENT);

    bus.Replug(converter);
    owner.Pump();
    CHECK(owner.StatusCodes() == Codes{HIDCOM_DEVICE_CHANGE, HIDCOM_DEVICE_FOUND});
    CHECK(device.deviceFound == 1);
    REQUIRE(device.devicePath != nullptr);
    CHECK(std::string(device.devicePath) == converter.path);
    CheckClosed(device);
}

TEST_CASE_FIXTURE(HotplugFixture, "Another HID device going or coming posts 5 only; while found it does not search")
{
    sim::SimDevice &keyboard = bus.AddWineKeyboard();
    bool present = true, reading = false;
    SUBCASE("while the reader runs") { reading = true; }
    SUBCASE("while found") {}
    SUBCASE("while absent") { present = false; }
    if (present)
        bus.AddConverter();
    REQUIRE(AttachAndTakeStatus() == (present ? HIDCOM_DEVICE_FOUND : HIDCOM_DEVICE_ABSENT));
    if (reading)
        REQUIRE(device.Open() == 1);
    const int opens = bus.OpenHandlesTotal();

    for (bool arriving : {false, true}) {
        CAPTURE(arriving);
        owner.Clear();
        if (arriving)
            bus.Replug(keyboard);
        else
            bus.Unplug(keyboard);
        owner.Pump();
        CHECK(owner.StatusCodes() == Codes{HIDCOM_DEVICE_CHANGE});
        CHECK(owner.Received()[0].lParam == 0);
        if (present)
            CHECK(bus.OpenHandlesTotal() == opens);
        CHECK(device.deviceFound == (present ? 1 : 0));
        CHECK((device.devicePath != nullptr) == present);
        CHECK(device.IsOpen() == reading);
        CHECK(bus.OpenHandles() == (reading ? 2 : 0));
    }
    device.Close();
}

TEST_CASE_FIXTURE(HotplugFixture, "Unplugged and plugged back, the converter can be read again")
{
    sim::SimDevice &converter = bus.AddConverter();
    REQUIRE(AttachAndTakeStatus() == HIDCOM_DEVICE_FOUND);
    REQUIRE(device.Open() == 1);

    bus.Unplug(converter);
    bus.Replug(converter);
    owner.Pump();
    CHECK(owner.StatusCodes() ==
          Codes{HIDCOM_DEVICE_CHANGE, HIDCOM_DEVICE_ABSENT, HIDCOM_DEVICE_CHANGE, HIDCOM_DEVICE_FOUND});
    owner.Clear();

    REQUIRE(device.Open() == 1);
    const sim::Report report = MakeReport({0, 9, 8, 7, 6, 5, 4, 3, 2});
    CheckReportDelivered(converter, owner, report);
    device.Close();
}

TEST_CASE_FIXTURE(HotplugFixture, "Device changes of other kinds are ignored")
{
    bus.AddConverter();
    REQUIRE(AttachAndTakeStatus() == HIDCOM_DEVICE_FOUND);
    REQUIRE(device.Open() == 1);

    const DEV_BROADCAST_HDR volume = {sizeof(DEV_BROADCAST_HDR), DBT_DEVTYP_VOLUME, 0};
    // An interface record with a path that matches nothing: the event kind
    // alone must decide.
    DEV_BROADCAST_DEVICEINTERFACE_A ours = InterfaceFilter(GUID{});
    ours.dbcc_name[0] = '\0';

    const std::pair<WPARAM, const void *> changes[] = {
        {DBT_DEVNODES_CHANGED, nullptr}, {DBT_DEVICEARRIVAL, nullptr},   {DBT_DEVICEREMOVECOMPLETE, nullptr},
        {DBT_DEVICEARRIVAL, &volume},    {DBT_DEVICEQUERYREMOVE, &ours}, {DBT_DEVICEREMOVEPENDING, &ours},
    };
    for (const auto &change : changes) {
        CAPTURE(change.first);
        CHECK(SendMessageA(device.window, WM_DEVICECHANGE, change.first, reinterpret_cast<LPARAM>(change.second)) == 0);
    }
    CheckNothingPosted(owner);
    CHECK(device.IsOpen());
    device.Close();
}

TEST_CASE_FIXTURE(HotplugFixture, "The hidden window closed by WM_CLOSE: the object lives on, attaches again and "
                                  "hears the converter go and come")
{
    sim::SimDevice &converter = bus.AddConverter();
    REQUIRE(AttachAndTakeStatus() == HIDCOM_DEVICE_FOUND);
    HWND hidden = device.window;
    const std::string name = device.className;

    CHECK(SendMessageA(hidden, WM_CLOSE, 0, 0) == 0);
    CHECK_FALSE(IsWindow(hidden));
    CHECK(device.window == nullptr);
    // The registration went with the window it was made for.
    CheckNotRegistered(device);

    // Discovery and reading need no window.
    CHECK(device.FindIfIdle() == 1);
    REQUIRE(device.Open() == 1);
    const sim::Report report = MakeReport({0, 1, 2, 3, 4, 5, 6, 7, 8});
    CheckReportDelivered(converter, owner, report);
    device.Close();
    owner.Clear();

    // Attached again, the new window is registered and hears removal and arrival.
    REQUIRE(AttachAndTakeStatus() == HIDCOM_DEVICE_FOUND);
    CHECK(IsWindow(device.window));
    CHECK(bus.NotificationRegistrations() == 1);
    bus.Unplug(converter);
    owner.Pump();
    CHECK(owner.StatusCodes() == Codes{HIDCOM_DEVICE_CHANGE, HIDCOM_DEVICE_ABSENT});
    CHECK(device.deviceFound == 0);
    owner.Clear();
    bus.Replug(converter);
    owner.Pump();
    CHECK(owner.StatusCodes() == Codes{HIDCOM_DEVICE_CHANGE, HIDCOM_DEVICE_FOUND});
    CHECK(device.deviceFound == 1);

    const std::string secondName = device.className;
    device.UnregisterNotify();
    device.Destroy();
    CHECK_FALSE(ClassRegistered(name));
    CHECK_FALSE(ClassRegistered(secondName));
    CheckNotRegistered(device);
}
