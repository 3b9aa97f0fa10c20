#include "tests/config/config_fixture.h"

#include "app/resource_ids.h"
#include "config/config_image.h"
#include "config/table_text.h"

#include <doctest.h>

#include <cstring>

Registers DefaultRegisters(uint16_t version, uint16_t type)
{
    Registers registers;
    registers.fill(0xFF);
    const DefaultImage image = FindDefaultImage(version, type);
    REQUIRE(image.bytes != nullptr);
    std::memcpy(registers.data(), image.bytes, image.length);
    return registers;
}

Registers ImageBytes()
{
    Registers bytes;
    std::memcpy(bytes.data(), ConfigImage.bytes, bytes.size());
    return bytes;
}

sim::SimDevice &PlugConverter(const Registers &registers)
{
    sim::SimBus &bus = sim::SimBus::Instance();
    bus.Reset();
    sim::SimDevice &converter = bus.AddConverter();
    converter.SetRegisters(registers);
    return converter;
}

void Shown(DialogDriver &driver)
{
    // The driver returns from WM_INITDIALOG; the dialog shows itself only
    // after that, when its message loop runs.
    driver.Sync();
    REQUIRE(IsWindowVisible(driver.Dialog()));
}

void ReadConverter(DialogDriver &driver)
{
    Shown(driver);
    driver.Click(IDC_READ_DEVICE);
    REQUIRE(driver.WaitIdle());
    driver.Sync();
    REQUIRE(driver.Text(IDC_STATUS).rfind(" Read OK", 0) == 0);
}

void Settle(DialogDriver &driver)
{
    driver.Sync();
    REQUIRE(driver.WaitIdle());
    driver.Sync();
}

bool NothingWritten(sim::SimDevice &device)
{
    for (int address = 0; address < 256; ++address)
        if (device.WritesTo(address) != 0)
            return false;
    return true;
}

std::string Editor::Caption() const
{
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string Editor::Text() const
{
    HWND edit = GetDlgItem(window, IDC_TABLE_TEXT);
    std::string text(static_cast<size_t>(GetWindowTextLengthA(edit)) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(edit, &text[0], static_cast<int>(text.size()))));
    return text;
}

void Editor::SetText(const std::string &text) const
{
    SetDlgItemTextA(window, IDC_TABLE_TEXT, text.c_str());
}

void Editor::Click(int id) const
{
    HWND button = GetDlgItem(window, id);
    REQUIRE(button != nullptr);
    REQUIRE(IsWindowVisible(button));
    REQUIRE(IsWindowEnabled(button));
    PostMessageA(button, BM_CLICK, 0, 0);
}

bool Editor::Closed(DWORD timeoutMs) const
{
    const DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(2);
    }
    return true;
}

Editor OpenEditor(DialogDriver &driver, int editButton, const std::string &caption)
{
    driver.Click(editButton);
    Editor editor;
    editor.window = WaitForBox(caption).window;
    REQUIRE_MESSAGE(editor.window != nullptr, "no editor \"", caption, "\"");
    return editor;
}

std::string TableTextOf(const Registers &registers, uint8_t offset)
{
    RegisterImage image;
    std::memcpy(image.bytes, registers.data(), registers.size());
    std::string text;
    REQUIRE(BuildTableText(image, offset, text));
    return text;
}

HICON ErrorIcon() { return LoadIconA(nullptr, IDI_ERROR); }
HICON WarningIcon() { return LoadIconA(nullptr, IDI_WARNING); }
HICON InformationIcon() { return LoadIconA(nullptr, IDI_INFORMATION); }
