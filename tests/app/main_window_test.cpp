// The main window as it opens: texts, states, layout, tab order, radio
// groups, icon and the program's other resources; the status line and the
// error box.
#include "tests/app/app_fixture.h"

#include "app/controls.h"
#include "app/main_window.h"
#include "app/resource_ids.h"

#include <doctest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct ExpectedControl {
    int id;
    const char *className;
    const char *text;
    int x, y, width, height;
    bool visible, enabled, tabStop, group;
};

// Template order, which is the tab order.
const ExpectedControl mainControls[] = {
    {IDC_CAPTION, "Static", "Brantix ZYR Converter  (v1.23.001)", 6, 3, 224, 9, true, true, false, true},
    {IDC_READ_DEVICE, "Button", "Read Device", 4, 110, 64, 15, true, true, true, false},
    {IDC_WRITE_DEVICE, "Button", "Write Device", 86, 110, 64, 15, true, false, true, false},
    {IDC_FACTORY_DEFAULTS, "Button", "Factory Defaults", 168, 110, 64, 15, true, false, true, false},
    {IDC_SPEED_ADJUST, "Edit", "0.0", 12, 33, 46, 11, true, false, true, false},
    {IDC_SENSOR_HIGH_TO_LOW, "Button", "RSX", 12, 49, 104, 9, false, false, true, true},
    {IDC_SENSOR_LOW_FREQ, "Button", "Low Freq (Gear Driven)", 12, 62, 104, 9, false, false, true, false},
    {IDC_SENSOR_HIGH_FREQ, "Button", "High Freq (Magnetic)", 12, 75, 104, 9, false, false, true, false},
    {IDC_TABLE_AP1_RES, "Button", "AP1", 134, 29, 32, 9, false, false, true, true},
    {IDC_EDIT_AP1_RES, "Button", "Edit", 170, 27, 30, 13, false, false, true, false},
    {IDC_TABLE_AP2_RES, "Button", "AP2", 134, 44, 32, 9, false, false, true, false},
    {IDC_EDIT_AP2_RES, "Button", "Edit", 170, 42, 30, 13, false, false, true, false},
    {IDC_TABLE_AP1_5V, "Button", "AP1", 134, 75, 32, 9, false, false, true, false},
    {IDC_EDIT_AP1_5V, "Button", "Edit", 170, 73, 30, 13, false, false, true, false},
    {IDC_TABLE_AP2_5V, "Button", "AP2", 134, 90, 32, 9, false, false, true, false},
    {IDC_EDIT_AP2_5V, "Button", "Edit", 170, 88, 30, 13, false, false, true, false},
    {IDC_STATUS, "Static", " Status...", 4, 129, 228, 9, true, true, false, false},
    {IDC_SPEED_GROUP, "Button", "Speed Adjustment", 6, 16, 114, 89, true, true, false, false},
    {IDC_RANGE_HINT, "Static", "(+/- 25.0%)", 61, 34, 46, 8, true, false, false, false},
    {IDC_SINGLE_WIRE_GROUP, "Button", "Single Wire B/D-Series Sensor", 126, 16, 104, 43, false, true, false, false},
    {IDC_TWO_WIRE_GROUP, "Button", "Two Wire K-Series Sensor", 126, 62, 104, 43, false, true, false, false},
};

LONG StyleOf(HWND window) { return GetWindowLongA(window, GWL_STYLE); }

LONG ExStyleOf(HWND window) { return GetWindowLongA(window, GWL_EXSTYLE); }

std::vector<HWND> Children(HWND dialog)
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

// The dialog's controls, in creation (= tab) order, as the template says:
// class, text, states, styles and place.
template <size_t N> void CheckControls(HWND dialog, const ExpectedControl (&controls)[N])
{
    std::vector<HWND> children = Children(dialog);
    REQUIRE(children.size() == N);
    for (size_t i = 0; i < N; ++i) {
        const ExpectedControl &control = controls[i];
        CAPTURE(control.id);
        HWND child = children[i];
        CHECK(GetDlgCtrlID(child) == control.id);
        CHECK(_stricmp(ClassOf(child).c_str(), control.className) == 0);
        CHECK(WindowText(child) == control.text);
        const LONG style = StyleOf(child);
        CHECK(((style & WS_VISIBLE) != 0) == control.visible);
        CHECK((IsWindowEnabled(child) != FALSE) == control.enabled);
        CHECK(IsDlgButtonChecked(dialog, control.id) == BST_UNCHECKED);
        CHECK(((style & WS_TABSTOP) != 0) == control.tabStop);
        CHECK(((style & WS_GROUP) != 0) == control.group);
        RECT actual = ControlRect(dialog, control.id);
        RECT expected = DialogUnitRect(dialog, control.x, control.y, control.width, control.height);
        CHECK(actual.left == expected.left);
        CHECK(actual.top == expected.top);
        CHECK(actual.right == expected.right);
        CHECK(actual.bottom == expected.bottom);
    }
}

// The client area is width x height dialog units.
void CheckClientSize(HWND dialog, int width, int height)
{
    RECT client = {};
    GetClientRect(dialog, &client);
    RECT expected = DialogUnitRect(dialog, 0, 0, width, height);
    CHECK(client.right == expected.right);
    CHECK(client.bottom == expected.bottom);
}

// The members of a radio group as the system sees them, from its first.
std::vector<int> Group(HWND dialog, HWND first)
{
    std::vector<int> group;
    HWND item = first;
    do {
        group.push_back(GetDlgCtrlID(item));
        item = GetNextDlgGroupItem(dialog, item, FALSE);
    } while (item && item != first && group.size() < 32);
    return group;
}

// A resource of this program's own module.
std::string ResourceBytes(LPCSTR name, LPCSTR type)
{
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, name, type);
    if (!found)
        return {};
    HGLOBAL loaded = LoadResource(module, found);
    const char *bytes = static_cast<const char *>(LockResource(loaded));
    return std::string(bytes, SizeofResource(module, found));
}

// The font an extended dialog template asks for, as the executable holds it.
struct TemplateFont {
    uint16_t points = 0;
    uint16_t weight = 0xFFFF;
    uint8_t italic = 0xFF;
    uint8_t charset = 0xFF;
    std::string face;
};

TemplateFont FontOf(LPCSTR templateId)
{
    const std::string bytes = ResourceBytes(templateId, MAKEINTRESOURCEA(5));  // RT_DIALOG
    const auto word = [&](size_t at) -> uint16_t {
        uint16_t value = 0;
        if (at + 2 <= bytes.size())
            std::memcpy(&value, bytes.data() + at, 2);
        return value;
    };
    TemplateFont font;
    uint32_t style = 0;
    if (bytes.size() < 26 || word(0) != 1 || word(2) != 0xFFFF)
        return font;  // not an extended template
    std::memcpy(&style, bytes.data() + 12, 4);
    if (!(style & DS_SETFONT))
        return font;
    // After the fixed header: the menu and the class (none, an ordinal or a
    // string), then the title string.
    size_t at = 26;
    for (int field = 0; field < 3 && at < bytes.size(); ++field) {
        if (field < 2 && word(at) == 0xFFFF) {
            at += 4;
            continue;
        }
        while (at < bytes.size() && word(at) != 0)
            at += 2;
        at += 2;
    }
    if (at + 6 > bytes.size())
        return font;
    font.points = word(at);
    font.weight = word(at + 2);
    font.italic = static_cast<uint8_t>(bytes[at + 4]);
    font.charset = static_cast<uint8_t>(bytes[at + 5]);
    for (at += 6; at < bytes.size() && word(at) != 0; at += 2)
        font.face += static_cast<char>(word(at));
    return font;
}

std::string VersionString(const std::vector<char> &block, const char *name)
{
    std::string path = std::string("\\StringFileInfo\\040904E4\\") + name;
    char *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void **>(&value), &length) || !value)
        return {};
    return value;
}

INT_PTR CALLBACK InertDialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

}  // namespace

TEST_CASE_FIXTURE(AppFixture, "main window: what the user sees right after start, layout and tab order")
{
    DialogDriver driver;
    HWND dialog = driver.Dialog();
    CHECK(driver.Caption() == "Brantix ZYR");
    CHECK(mainDialogHandle == dialog);
    CheckControls(dialog, mainControls);
    // Read Device is the only enabled button, and it has the focus.
    CHECK(DialogFocus(dialog) == driver.Item(IDC_READ_DEVICE));
    // Nothing was read, nothing is running.
    CHECK(driver.StatusHistory().empty());
    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APP));
    REQUIRE(icon != nullptr);
    CHECK(reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0)) == icon);
    CHECK(reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0)) == icon);

    // Radios are automatic; group boxes transparent; the edit sunken and
    // without automatic horizontal scrolling; the status line sunken.
    for (int id : {IDC_SENSOR_HIGH_TO_LOW, IDC_SENSOR_LOW_FREQ, IDC_SENSOR_HIGH_FREQ, IDC_TABLE_AP1_RES,
                   IDC_TABLE_AP2_RES, IDC_TABLE_AP1_5V, IDC_TABLE_AP2_5V})
        CHECK((StyleOf(driver.Item(id)) & BS_TYPEMASK) == BS_AUTORADIOBUTTON);
    for (int id : {IDC_SPEED_GROUP, IDC_SINGLE_WIRE_GROUP, IDC_TWO_WIRE_GROUP}) {
        CHECK((StyleOf(driver.Item(id)) & BS_TYPEMASK) == BS_GROUPBOX);
        CHECK((ExStyleOf(driver.Item(id)) & WS_EX_TRANSPARENT) != 0);
    }
    // No default push button: Enter must not press one.
    for (int id : {IDC_READ_DEVICE, IDC_WRITE_DEVICE, IDC_FACTORY_DEFAULTS, IDC_EDIT_AP1_RES})
        CHECK((StyleOf(driver.Item(id)) & BS_TYPEMASK) != BS_DEFPUSHBUTTON);
    HWND edit = driver.Item(IDC_SPEED_ADJUST);
    CHECK((ExStyleOf(edit) & WS_EX_CLIENTEDGE) != 0);
    CHECK((StyleOf(edit) & (ES_AUTOHSCROLL | ES_MULTILINE | ES_CENTER | ES_RIGHT)) == 0);
    CHECK((StyleOf(driver.Item(IDC_STATUS)) & SS_SUNKEN) != 0);
    CHECK((StyleOf(driver.Item(IDC_CAPTION)) & SS_TYPEMASK) == SS_CENTER);
    CHECK((StyleOf(driver.Item(IDC_CAPTION)) & SS_CENTERIMAGE) != 0);

    // The window: fixed size, minimize box, no owner (its own taskbar button).
    const LONG frame = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME | WS_CLIPCHILDREN;
    CHECK((StyleOf(dialog) & frame) == (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN));
    CHECK(GetWindow(dialog, GW_OWNER) == nullptr);
    CHECK(GetParent(dialog) == nullptr);

    // 236 x 142 dialog units of client area, centred on the work area.
    CheckClientSize(dialog, 236, 142);
    RECT window = {}, work = {};
    GetWindowRect(dialog, &window);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    CHECK(std::abs((window.left + window.right) / 2 - (work.left + work.right) / 2) <= 2);
    CHECK(std::abs((window.top + window.bottom) / 2 - (work.top + work.bottom) / 2) <= 2);

    // Tahoma 8 point.
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    LOGFONTA logFont = {};
    REQUIRE(GetObjectA(font, sizeof logFont, &logFont) == sizeof logFont);
    CHECK(std::string(logFont.lfFaceName) == "Tahoma");
    CHECK(logFont.lfItalic == 0);
}

TEST_CASE_FIXTURE(AppFixture, "main window: the table choices are one radio group across both sensor boxes")
{
    DialogDriver driver;
    HWND dialog = driver.Dialog();
    ShowImage(driver, {});

    // The system's own view of the groups, which skips hidden and disabled
    // controls (1011, the range hint): group B runs from 1014 to the end of
    // the template, as nothing after 1014 starts a group.
    CHECK(Group(dialog, driver.Item(IDC_TABLE_AP1_RES)) ==
          std::vector<int>{IDC_TABLE_AP1_RES, IDC_EDIT_AP1_RES, IDC_TABLE_AP2_RES, IDC_EDIT_AP2_RES, IDC_TABLE_AP1_5V,
                           IDC_EDIT_AP1_5V, IDC_TABLE_AP2_5V, IDC_EDIT_AP2_5V, IDC_STATUS, IDC_SPEED_GROUP,
                           IDC_SINGLE_WIRE_GROUP, IDC_TWO_WIRE_GROUP});
    CHECK(Group(dialog, driver.Item(IDC_SENSOR_LOW_FREQ)) ==
          std::vector<int>{IDC_SENSOR_LOW_FREQ, IDC_SENSOR_HIGH_FREQ});

    // As the user sees it: each click leaves exactly one table choice
    // checked; the speed-sensor group is separate from the tables.
    const int tables[] = {IDC_TABLE_AP1_RES, IDC_TABLE_AP2_RES, IDC_TABLE_AP1_5V, IDC_TABLE_AP2_5V};
    const int sensors[] = {IDC_SENSOR_LOW_FREQ, IDC_SENSOR_HIGH_FREQ};
    int table = IDC_TABLE_AP1_RES, sensor = IDC_SENSOR_LOW_FREQ;
    for (int click : {IDC_TABLE_AP1_5V, IDC_TABLE_AP2_RES, IDC_TABLE_AP2_5V, IDC_SENSOR_HIGH_FREQ, IDC_TABLE_AP1_RES,
                      IDC_SENSOR_LOW_FREQ}) {
        CAPTURE(click);
        driver.Click(click);
        (click == IDC_SENSOR_LOW_FREQ || click == IDC_SENSOR_HIGH_FREQ ? sensor : table) = click;
        for (int id : tables)
            CHECK(driver.Checked(id) == (id == table));
        for (int id : sensors)
            CHECK(driver.Checked(id) == (id == sensor));
    }
}

TEST_CASE("resources: icon group, manifest, version block and the editor template")
{
    // Icon group 200: nine images, 16, 32 and 48 pixels at 4, 8 and 32 bits.
    std::string group = ResourceBytes(MAKEINTRESOURCEA(IDI_APP), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    REQUIRE(group.size() >= 6);
    uint16_t count = 0;
    std::memcpy(&count, group.data() + 4, 2);
    REQUIRE(count == 9);
    REQUIRE(group.size() == 6 + 14u * count);
    std::vector<std::pair<int, int>> images;
    for (unsigned i = 0; i < count; ++i) {
        const unsigned char *entry = reinterpret_cast<const unsigned char *>(group.data()) + 6 + 14 * i;
        int size = entry[0] ? entry[0] : 256;
        uint16_t bits = 0;
        std::memcpy(&bits, entry + 6, 2);
        images.emplace_back(size, bits);
    }
    for (int size : {16, 32, 48})
        for (int bits : {4, 8, 32}) {
            CAPTURE(size);
            CAPTURE(bits);
            CHECK(std::count(images.begin(), images.end(), std::make_pair(size, bits)) == 1);
        }
    for (int size : {16, 32, 48}) {
        HICON icon = static_cast<HICON>(
            LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, size, size, 0));
        CHECK(icon != nullptr);
        DestroyIcon(icon);
    }

    // Both dialogs: Tahoma 8 point, default weight, not italic, default
    // character set.
    for (int id : {IDD_MAIN, IDD_TABLE_EDIT}) {
        CAPTURE(id);
        const TemplateFont font = FontOf(MAKEINTRESOURCEA(id));
        CHECK(font.face == "Tahoma");
        CHECK(font.points == 8);
        CHECK(font.weight == FW_DONTCARE);
        CHECK(font.italic == 0);
        CHECK(font.charset == DEFAULT_CHARSET);
    }

    // Manifest: Common Controls 6 and the user's own rights.
    std::string manifest = ResourceBytes(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
#ifdef _WIN64
    const char *architecture = "processorArchitecture=\"amd64\"";
#else
    const char *architecture = "processorArchitecture=\"X86\"";
#endif
    for (const char *part : {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                             "publicKeyToken=\"6595b64144ccf1df\" language=\"*\"",
                             "<requestedExecutionLevel level=\"asInvoker\"", "version=\"1.0.0.0\"", architecture})
        CHECK_MESSAGE(manifest.find(part) != std::string::npos, part);

    // Version block 1.
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    REQUIRE(size > 0);
    std::vector<char> block(size);
    REQUIRE(GetFileVersionInfoA(path, 0, size, block.data()));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    REQUIRE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void **>(&fixed), &length));
    CHECK(fixed->dwFileVersionMS == MAKELONG(2, 1));
    CHECK(fixed->dwFileVersionLS == MAKELONG(1, 3));
    CHECK(fixed->dwProductVersionMS == MAKELONG(2, 1));
    CHECK(fixed->dwProductVersionLS == MAKELONG(1, 3));
    for (const char *name : {"ProductName", "FileDescription", "InternalName"})
        CHECK(VersionString(block, name) == "ZYR");
    CHECK(VersionString(block, "CompanyName") == "Brantix");
    CHECK(VersionString(block, "FileVersion") == "1.2.3.1");
    CHECK(VersionString(block, "ProductVersion") == "1.2.3.1");

    // Template 102, shown with a procedure of no behaviour: its controls.
    HWND editor =
        CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_TABLE_EDIT), nullptr, InertDialog, 0);
    REQUIRE(editor != nullptr);
    CHECK(WindowText(editor) == "Temperature Table Edit");
    CheckClientSize(editor, 190, 208);
    const ExpectedControl editorControls[] = {
        {IDC_TABLE_CANCEL, "Button", "&Cancel", 96, 190, 46, 15, true, true, true, false},
        {IDC_TABLE_OK, "Button", "&OK", 46, 190, 46, 15, true, true, true, false},
        {IDC_TABLE_TEXT, "Edit", "", 4, 3, 182, 181, true, true, true, false},
    };
    CheckControls(editor, editorControls);
    for (int id : {IDC_TABLE_CANCEL, IDC_TABLE_OK})
        CHECK((StyleOf(GetDlgItem(editor, id)) & BS_TYPEMASK) == BS_PUSHBUTTON);
    const LONG editStyle = StyleOf(GetDlgItem(editor, IDC_TABLE_TEXT));
    CHECK((editStyle & (ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL)) ==
          (ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL));
    CHECK((editStyle & ES_WANTRETURN) == 0);
    CHECK((ExStyleOf(GetDlgItem(editor, IDC_TABLE_TEXT)) & WS_EX_CLIENTEDGE) != 0);
    CHECK(GetDlgItem(editor, IDOK) == nullptr);
    CHECK(GetDlgItem(editor, IDCANCEL) == nullptr);
    DestroyWindow(editor);
}

TEST_CASE_FIXTURE(AppFixture, "status line: one leading space, bounded, harmless without a dialog")
{
    DialogDriver driver;
    StatusLine("Reading Device Data...");
    CHECK(driver.Text(IDC_STATUS) == " Reading Device Data...");
    StatusLine("READ ERROR L%d", 510);
    CHECK(driver.Text(IDC_STATUS) == " READ ERROR L510");
    StatusLine("%s", "");
    CHECK(driver.Text(IDC_STATUS) == " ");

    // A message longer than the line's buffer is cut to 258 characters.
    std::string long_message(1000, 'x');
    long_message[257] = 'y';
    StatusLine("%s", long_message.c_str());
    CHECK(driver.Text(IDC_STATUS) == " " + long_message.substr(0, 258));
    StatusLine("%s tail %d", long_message.c_str(), 42);
    CHECK(driver.Text(IDC_STATUS).size() == 259);
    CHECK(driver.StatusHistory().size() == 5);

    // No dialog yet, or a stale one: nothing happens.
    HWND saved = mainDialogHandle;
    mainDialogHandle = nullptr;
    StatusLine("nowhere");
    mainDialogHandle = saved;
    CHECK(driver.Text(IDC_STATUS).size() == 259);
    driver.Close();
    REQUIRE(driver.Ended());
    CHECK_FALSE(IsWindow(mainDialogHandle));
    StatusLine("after the dialog %d", 1);
}

namespace {

// An ErrorBox shown as the worker shows it, answered by the user.
BoxView ErrorBoxSeen(HWND owner, const std::string &message)
{
    return RunAndAnswer([&] { ErrorBox(owner, "Data at line %d is %s", 7, message.c_str()); }, owner);
}

}  // namespace

TEST_CASE_FIXTURE(AppFixture, "error box: caption, icon, OK only, topmost, owned, bounded")
{
    DialogDriver driver;
    CheckBox(ErrorBoxSeen(driver.Dialog(), "malformed"), "Error", "Data at line 7 is malformed", {IDOK}, IDI_ERROR,
             true, driver.Dialog());
    // Modal to its owner: the main dialog is usable again once it is gone.
    CHECK(driver.Enabled(IDC_READ_DEVICE));
    CHECK(IsWindowEnabled(driver.Dialog()));

    // A message longer than the buffer is cut to 259 characters.
    CheckBox(ErrorBoxSeen(driver.Dialog(), std::string(1000, 'z')), "Error",
             ("Data at line 7 is " + std::string(1000, 'z')).substr(0, 259), {IDOK}, IDI_ERROR, true, driver.Dialog());
}
