// The temperature table editor, opened from the real main dialog over a
// simulated converter, as the user works with it.
#include "tests/app/config_fixture.h"

#include "app/resource_ids.h"
#include "config/config_image.h"
#include "app/table_edit_dialog.h"

#include <doctest.h>

#include <cstdio>
#include <vector>

namespace {

struct EditButton {
    int button;
    int otherRadio;  // a table radio checked before the press, not this table's
    uint8_t offset;
    const char *caption;
};

const EditButton editButtons[] = {
    {IDC_EDIT_AP1_RES, IDC_TABLE_AP2_5V, 93, "AP1 RES Table Edit"},
    {IDC_EDIT_AP2_RES, IDC_TABLE_AP1_5V, 12, "AP2 RES Table Edit"},
    {IDC_EDIT_AP1_5V, IDC_TABLE_AP2_RES, 203, "AP1 5V Table Edit"},
    {IDC_EDIT_AP2_5V, IDC_TABLE_AP1_RES, 122, "AP2 5V Table Edit"},
};

std::string Lines(const std::vector<int> &millivolts)
{
    std::string text;
    for (size_t i = 0; i < millivolts.size(); ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "%02d) %04dmV\r\n", static_cast<int>(i + 1), millivolts[i]);
        text += line;
    }
    return text;
}

uint16_t Millivolts(uint8_t offset, unsigned entry) { return TempTable(ConfigImage, offset).SensorMillivolts(entry); }

void RefusedWith(const Editor &editor, const std::string &caption, const std::string &message, LPCSTR icon)
{
    BoxView box = WaitForBox(caption);
    CheckBox(box, caption, message, {IDOK}, icon, true, editor.window);
    PressBoxButton(box, IDOK);
}

}  // namespace

TEST_CASE("each Edit button opens its own table with its caption, whichever table is chosen")
{
    const Registers registers = DefaultRegisters(12300, 2);
    ReadDialog read(registers);
    auto &[converter, driver] = read;

    for (const EditButton &edit : editButtons) {
        CAPTURE(edit.caption);
        driver.Click(edit.otherRadio);
        Editor editor = OpenEditor(driver, edit.button, edit.caption);
        CHECK(editor.Text() == TableTextOf(registers, edit.offset));
        CHECK(GetWindow(editor.window, GW_OWNER) == driver.Dialog());
        CHECK_FALSE(IsWindowEnabled(driver.Dialog()));  // modal
        // Icon 200, as on the main dialog.
        const LRESULT icon = reinterpret_cast<LRESULT>(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APP)));
        REQUIRE(icon != 0);
        CHECK(SendMessageA(editor.window, WM_GETICON, ICON_BIG, 0) == icon);
        CHECK(SendMessageA(editor.window, WM_GETICON, ICON_SMALL, 0) == icon);
        CHECK(SendMessageA(driver.Dialog(), WM_GETICON, ICON_BIG, 0) == icon);
        // OK at once stores the same again.
        editor.Click(IDC_TABLE_OK);
        REQUIRE(editor.Closed());
        driver.Sync();
        CHECK(IsWindowEnabled(driver.Dialog()));
        CHECK(driver.Checked(edit.otherRadio));  // the choice is not the editor's business
    }
    CHECK(ImageBytes() == registers);
    CHECK(NothingWritten(converter));
}

TEST_CASE("the editor shows one numbered line per entry")
{
    Registers registers = DefaultRegisters(12300, 2);
    registers[94 + 4] = 0x39;  // AP1 RES entry 2: 0x3039 = 12345 mV, five digits
    registers[94 + 5] = 0x30;
    ReadDialog read(registers);
    DialogDriver &driver = read.driver;

    Editor editor = OpenEditor(driver, IDC_EDIT_AP1_RES, "AP1 RES Table Edit");
    CHECK(editor.Text() ==
          "01) 4000mV\r\n02) 12345mV\r\n03) 0124mV\r\n04) 0093mV\r\n05) 0086mV\r\n06) 0072mV\r\n07) 0062mV\r\n");
    // A table read from a converter that breaks the rules opens; OK names
    // the first offending line until it is corrected.
    editor.Click(IDC_TABLE_OK);
    RefusedWith(editor, "Error", "Invalid mV value at line number 2", IDI_ERROR);
    CHECK(IsWindowVisible(editor.window));
    editor.Click(IDC_TABLE_CANCEL);
    REQUIRE(editor.Closed());
    CHECK(ImageBytes() == registers);
}

TEST_CASE("OK stores the voltages in memory only")
{
    const Registers registers = DefaultRegisters(12300, 2);
    ReadDialog read(registers);
    auto &[converter, driver] = read;

    SUBCASE("an edited AP2 RES table")
    {
        const std::vector<int> edited = {4000, 3500, 3000, 2500, 2000, 1800, 1600, 1400, 1200, 1000,
                                         900,  800,  700,  600,  500,  400,  300,  200,  100,  0};
        Editor editor = OpenEditor(driver, IDC_EDIT_AP2_RES, "AP2 RES Table Edit");
        editor.SetText(Lines(edited));
        editor.Click(IDC_TABLE_OK);
        REQUIRE(editor.Closed());
        CHECK(NoBox("Error"));

        Registers expected = registers;
        for (size_t i = 0; i < edited.size(); ++i) {
            expected[13 + 4 * i] = static_cast<uint8_t>(edited[i] & 0xFF);
            expected[14 + 4 * i] = static_cast<uint8_t>(edited[i] >> 8);
        }
        CHECK(ImageBytes() == expected);
        CHECK(converter.Registers() == registers);

        // Opened again, it shows what was stored.
        Editor again = OpenEditor(driver, IDC_EDIT_AP2_RES, "AP2 RES Table Edit");
        CHECK(again.Text() == Lines(edited));
        again.Click(IDC_TABLE_CANCEL);
        REQUIRE(again.Closed());
    }
    SUBCASE("forms the user may type: no zeros, no unit, no bracket, a sign, empty lines")
    {
        Editor editor = OpenEditor(driver, IDC_EDIT_AP1_5V, "AP1 5V Table Edit");
        editor.SetText("1) 4000\r\n\r\n2 3000\r\n+3) 2000mV\r\n4) 1000 mV\r\n\r\n5) 500\r\n6) 5\r\n07) abc");
        editor.Click(IDC_TABLE_OK);
        REQUIRE(editor.Closed());
        const uint16_t expected[7] = {4000, 3000, 2000, 1000, 500, 5, 0};
        for (unsigned i = 0; i < 7; ++i)
            CHECK(Millivolts(203, i) == expected[i]);
        CHECK(TempTable(ConfigImage, 203).PairedValue(6) == 182);
    }
    CHECK(NothingWritten(converter));
}

TEST_CASE("a refused text keeps the editor open with the user's text and the image as it was")
{
    const Registers registers = DefaultRegisters(12300, 2);
    ReadDialog read(registers);
    DialogDriver &driver = read.driver;
    Editor editor = OpenEditor(driver, IDC_EDIT_AP1_RES, "AP1 RES Table Edit");

    const std::string tail = "02) 0370mV\r\n03) 0124mV\r\n04) 0093mV\r\n05) 0086mV\r\n06) 0072mV\r\n07) 0062mV\r\n";
    const struct {
        std::string text;
        const char *message;
        const char *caption = "Error";
        LPCSTR icon = IDI_ERROR;
        bool noMemory = false;
    } refused[] = {
        {" 01) 4000mV\r\n" + tail, "Data at line 1 is malformed"},
        {"01)\t4000mV\r\n" + tail, "Data at line 1 is malformed"},
        {"1,4000\r\n" + tail, "Data at line 1 is malformed"},
        {"01) 4000mV\r\n03) 0370mV\r\n", "Wrong line number at line 2"},
        {"4294967297) 4000mV\r\n" + tail, "Wrong line number at line 1"},
        {"01) 4294971296\r\n" + tail, "Invalid mV value at line number 1"},
        {"01) 4001mV\r\n" + tail, "Invalid mV value at line number 1"},
        {"01) 3999mV\r\n" + tail, "Line1 mV must be 4000"},
        {"01) 4000mV\r\n02) 0370mV\r\n03) 0370mV\r\n", "Invalid mV value at line number 3"},
        {"\r\n\r\n\r\n", "Expected 7 values, but 0 were found"},
        {"01) 4000mV\r\n02) 0370mV\r\n", "Expected 7 values, but 2 were found"},
        {"01) 4000mV\r\n" + tail + "08) 0061mV\r\n", "Expected 7 values, but 8 were found"},
        {"", "No Data found!", "No Data", IDI_WARNING},
        {"01) 4000mV\r\n" + tail, "Memory Alloc Failed", "Memory Error", IDI_ERROR, true},
    };
    const auto allocate = allocateTableText;
    for (const auto &r : refused) {
        CAPTURE(r.text);
        editor.SetText(r.text);
        if (r.noMemory)
            allocateTableText = [](size_t, size_t) -> void * { return nullptr; };
        editor.Click(IDC_TABLE_OK);
        RefusedWith(editor, r.caption, r.message, r.icon);
        allocateTableText = allocate;
        driver.Sync();
        CHECK(IsWindowVisible(editor.window));
        CHECK(editor.Text() == r.text);
        CHECK(ImageBytes() == registers);
    }

    // Corrected, the same editor stores it.
    editor.SetText(
        "01) 4000mV\r\n02) 0300mV\r\n03) 0124mV\r\n04) 0093mV\r\n05) 0086mV\r\n06) 0072mV\r\n07) 0062mV\r\n");
    editor.Click(IDC_TABLE_OK);
    REQUIRE(editor.Closed());
    CHECK(Millivolts(93, 1) == 300);
}

TEST_CASE("Enter and Escape do nothing; Cancel and the close box keep the image")
{
    const Registers registers = DefaultRegisters(12300, 2);
    ReadDialog read(registers);
    DialogDriver &driver = read.driver;
    Editor editor = OpenEditor(driver, IDC_EDIT_AP2_5V, "AP2 5V Table Edit");
    const std::string edited = Lines({4000, 10});
    editor.SetText(edited);

    HWND text = GetDlgItem(editor.window, IDC_TABLE_TEXT);
    PostMessageA(text, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
    PostMessageA(text, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
    PressKey(text, VK_RETURN);
    PressKey(text, VK_ESCAPE);
    PostMessageA(editor.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    PostMessageA(editor.window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    // With the focus on a button (pressed, released outside), Escape does
    // nothing either.
    HWND cancel = GetDlgItem(editor.window, IDC_TABLE_CANCEL);
    PostMessageA(cancel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
    PostMessageA(cancel, WM_LBUTTONUP, 0, MAKELPARAM(0x7000, 0x7000));
    PressKey(cancel, VK_ESCAPE);
    driver.Sync();
    Sleep(100);
    driver.Sync();
    CHECK(IsWindowVisible(editor.window));
    CHECK(editor.Text() == edited);
    CHECK(NoBox("Error"));
    CHECK(ImageBytes() == registers);

    SUBCASE("Cancel")
    {
        editor.Click(IDC_TABLE_CANCEL);
        REQUIRE(editor.Closed());
    }
    SUBCASE("the close box")
    {
        PostMessageA(editor.window, WM_SYSCOMMAND, SC_CLOSE, 0);
        REQUIRE(editor.Closed());
    }
    CHECK(ImageBytes() == registers);
    driver.Sync();
    CHECK(IsWindowEnabled(driver.Dialog()));
}

TEST_CASE("a table that is not valid is refused before the editor shows")
{
    // An erased table, a count of neither 7 nor 20, and an AP1 5V table of
    // 20 entries that would run past the last register.
    const struct {
        int edit;
        uint8_t count;
        const char *message;
    } invalid[] = {{0, 0xFF, "AP Table Data is NOT valid; 0xFF"},
                   {1, 8, "AP Table Data is NOT valid; 0x8"},
                   {2, 20, "AP Table Data is NOT valid; 0x14"}};
    for (const auto &table : invalid) {
        const EditButton &edit = editButtons[table.edit];
        CAPTURE(edit.caption);
        Registers registers = DefaultRegisters(12300, 2);
        registers[edit.offset] = table.count;
        ReadDialog read(registers);
        DialogDriver &driver = read.driver;

        driver.Click(edit.button);
        BoxView box = WaitForBox("Error");
        // Owned by the editor, which has its caption but is never shown.
        CheckBox(box, "Error", table.message, {IDOK}, IDI_ERROR, true, box.owner);
        CHECK(WindowText(box.owner) == edit.caption);
        CHECK_FALSE(IsWindowVisible(box.owner));
        PressBoxButton(box, IDOK);

        CHECK(NoBox(edit.caption));
        driver.Sync();
        CHECK(IsWindowEnabled(driver.Dialog()));
        CHECK(ImageBytes() == registers);
    }
}
