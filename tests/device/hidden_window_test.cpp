// The hidden window of Wnd: its class name and class, the routing of its
// messages to the object, WM_CLOSE and WM_DESTROY, and creation failures.
#include "tests/device/hotplug_support.h"
#include "tests/device/notify_window.h"

#include <doctest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr UINT probeMessage = WM_APP + 7;

// A Wnd that records what its window routes to it.
struct ProbeWnd : Wnd {
    std::vector<UINT> handled;
    int destroyed = 0;
    bool createParamsCleared = false;
    bool refuseCreate = false;

    void OnDestroy() override { ++destroyed; }
    LRESULT HandleMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        handled.push_back(message);
        if (message == WM_CREATE) {
            createParamsCleared = reinterpret_cast<CREATESTRUCTA *>(lParam)->lpCreateParams == nullptr;
            return refuseCreate ? -1 : 0;
        }
        if (message == probeMessage)
            return static_cast<LRESULT>(wParam * 1000 + static_cast<WPARAM>(lParam));
        return 0;
    }
    bool Saw(UINT message) const { return std::find(handled.begin(), handled.end(), message) != handled.end(); }
};

std::string ExpectedClassName(unsigned counter)
{
    char name[260];
    std::snprintf(name, sizeof name, "WndClass 0x%X 0x%X 0x%" PRIXPTR, counter,
                  static_cast<unsigned>(GetCurrentThreadId()), reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)));
    return name;
}

// Another class registered under the name the next hidden window would
// get, for the life of the object.
struct SquattedClassName {
    const std::string name = ExpectedClassName(windowCounter + 1);
    SquattedClassName() { REQUIRE(RegisterWindowClass(name.c_str(), DefWindowProcA)); }
    ~SquattedClassName()
    {
        CHECK(ClassRegistered(name));  // the failed Create did not take it
        UnregisterClassA(name.c_str(), GetModuleHandleA(nullptr));
    }
};

}  // namespace

// Must stay the first test of the program: it sees the process's first
// hidden window. Test cases run in file order, and this file sorts first.
TEST_CASE("The first hidden window of the process carries 0x1 in its class name")
{
    REQUIRE_MESSAGE(windowCounter == 0, "another test created a hidden window before this one");
    ProbeWnd first;
    ProbeWnd second;
    REQUIRE(first.Create() == 1);
    REQUIRE(second.Create() == 1);

    CHECK(std::string(first.className) == ExpectedClassName(1));
    CHECK(std::string(second.className) == ExpectedClassName(2));
    CHECK(windowCounter == 2);
    CHECK(first.instance == GetModuleHandleA(nullptr));

    const std::string firstClass = first.className;
    first.Destroy();
    second.Destroy();
    CHECK_FALSE(ClassRegistered(firstClass));
}

TEST_CASE("Create makes a never-shown top-level window of its own class, once; Destroy undoes it, once")
{
    ProbeWnd probe;
    probe.Destroy();  // nothing made yet: nothing to undo
    CHECK(probe.destroyed == 0);
    REQUIRE(probe.Create() == 1);
    HWND window = probe.window;
    const std::string name = probe.className;
    CHECK(IsWindow(window));
    CHECK_FALSE(IsWindowVisible(window));
    CHECK(GetParent(window) == nullptr);
    WNDCLASSEXA info = {};
    info.cbSize = sizeof info;
    REQUIRE(GetClassInfoExA(probe.instance, probe.className, &info));
    CHECK(reinterpret_cast<void *>(info.lpfnWndProc) == reinterpret_cast<void *>(&Wnd::WindowProc));
    // The class and the window as they are made: no class style or extra
    // bytes, the system's application icon and arrow, the window colour;
    // a sunken edge, an overlapped window titled "MyWndClass", 100 x 100.
    CHECK(info.style == 0);
    CHECK(info.cbClsExtra == 0);
    CHECK(info.cbWndExtra == 0);
    CHECK(info.hIcon == LoadIconA(nullptr, IDI_APPLICATION));
    CHECK(info.hIconSm == LoadIconA(nullptr, IDI_APPLICATION));
    CHECK(info.hCursor == LoadCursorA(nullptr, IDC_ARROW));
    CHECK(info.hbrBackground == reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)));
    CHECK(info.lpszMenuName == nullptr);
    CHECK((GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0);
    CHECK((GetWindowLongA(window, GWL_STYLE) & (WS_OVERLAPPEDWINDOW | WS_VISIBLE)) == WS_OVERLAPPEDWINDOW);
    // The object answers WM_GETTEXT itself (with nothing): the title is
    // read as the window holds it. An overlapped window is made no smaller
    // than the system's minimum tracking size.
    wchar_t title[32] = {};
    InternalGetWindowText(window, title, 32);
    CHECK(std::wstring(title) == L"MyWndClass");
    RECT bounds = {};
    GetWindowRect(window, &bounds);
    CHECK(bounds.right - bounds.left == std::max(100, GetSystemMetrics(SM_CXMINTRACK)));
    CHECK(bounds.bottom - bounds.top == std::max(100, GetSystemMetrics(SM_CYMINTRACK)));

    const unsigned counter = windowCounter;
    CHECK(probe.Create() == 1);
    CHECK(probe.window == window);
    CHECK(windowCounter == counter);

    probe.Destroy();
    CHECK_FALSE(IsWindow(window));
    CHECK(probe.window == nullptr);
    CHECK(probe.destroyed == 1);
    CHECK_FALSE(ClassRegistered(name));
    probe.Destroy();
    CHECK(probe.destroyed == 1);
}

TEST_CASE("The window procedure hands the object every message from WM_CREATE on")
{
    ProbeWnd probe;
    REQUIRE(probe.Create() == 1);

    // WM_CREATE reaches the object, its creation parameter used up; what
    // came before it went to the default procedure.
    CHECK(probe.Saw(WM_CREATE));
    CHECK(probe.createParamsCleared);
    CHECK_FALSE(probe.Saw(WM_NCCREATE));
    CHECK(GetWindowLongPtrA(probe.window, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(&probe));
    // The object's result is the window procedure's result.
    CHECK(SendMessageA(probe.window, probeMessage, 3, 42) == 3042);
    CHECK(probe.Saw(probeMessage));
    // The base class answers 0 to everything; once attached the object
    // decides every result, even this one.
    Wnd plain;
    REQUIRE(plain.Create() == 1);
    CHECK(SendMessageA(plain.window, probeMessage, 3, 42) == 0);
    CHECK(SendMessageA(plain.window, WM_NCHITTEST, 0, 0) == 0);
    plain.Destroy();
    probe.Destroy();
}

TEST_CASE("WM_CLOSE destroys the hidden window; the object hears OnDestroy and lives on")
{
    ProbeWnd probe;
    REQUIRE(probe.Create() == 1);
    HWND window = probe.window;
    const std::string firstClass = probe.className;
    probe.handled.clear();

    CHECK(SendMessageA(window, WM_CLOSE, 0, 0) == 0);

    CHECK_FALSE(IsWindow(window));
    CHECK(probe.destroyed == 1);
    CHECK_FALSE(probe.Saw(WM_CLOSE));  // the object is not asked
    CHECK_FALSE(probe.Saw(WM_DESTROY));  // OnDestroy instead
    // No handle of a dead window stays behind for Destroy to act on.
    CHECK(probe.window == nullptr);

    SUBCASE("the object can make a new window; the old class goes")
    {
        REQUIRE(probe.Create() == 1);
        CHECK(IsWindow(probe.window));
        CHECK(std::string(probe.className) != firstClass);
        CHECK_FALSE(ClassRegistered(firstClass));
        CHECK(SendMessageA(probe.window, probeMessage, 1, 1) == 1001);
        const std::string secondClass = probe.className;
        probe.Destroy();
        CHECK_FALSE(ClassRegistered(secondClass));
        CHECK(probe.destroyed == 2);
    }
    SUBCASE("Destroy afterwards only unregisters the class")
    {
        CHECK(ClassRegistered(firstClass));
        probe.Destroy();
        CHECK_FALSE(ClassRegistered(firstClass));
        CHECK(probe.destroyed == 1);
    }
}

TEST_CASE("Create fails and creates nothing when the class cannot be registered")
{
    SquattedClassName taken;
    ProbeWnd probe;
    CHECK(probe.Create() == 0);
    CHECK(probe.window == nullptr);
    CHECK(probe.handled.empty());
    probe.Destroy();  // must not take the squatter's class
}

TEST_CASE("A window whose creation fails leaves its class registered until Destroy")
{
    ProbeWnd probe;
    probe.refuseCreate = true;
    CHECK(probe.Create() == 0);
    CHECK(probe.window == nullptr);
    CHECK(probe.Saw(WM_CREATE));
    const std::string name = probe.className;
    CHECK(ClassRegistered(name));
    probe.Destroy();
    CHECK_FALSE(ClassRegistered(name));
}

TEST_CASE_FIXTURE(SimFixture, "Attach fails, posting nothing, when the hidden window cannot be made")
{
    bus.AddConverter();
    OwnerWindow owner;
    SquattedClassName taken;
    hid_com device;
    MatchConverter(device);
    CHECK(device.Attach(owner.Handle()) == 0);
    CHECK(device.ownerWindow == owner.Handle());
    CHECK(device.window == nullptr);
    CheckNotRegistered(device);
    CHECK(bus.OpenHandlesTotal() == 0);  // no search either
    CheckNothingPosted(owner);
}
