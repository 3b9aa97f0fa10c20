// Shared steps of the configuration tests: a simulated converter with a
// chosen register content, the main dialog reading it, and the table editor
// as the user sees it.
#pragma once

#include "app/resource_ids.h"
#include "config/default_images.h"
#include "sim/sim_bus.h"
#include "tests/support/dialog_driver.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

using Registers = std::array<uint8_t, 256>;

// A default image as the registers of a converter just formatted with it.
Registers DefaultRegisters(uint16_t version, uint16_t type);
// The current configuration image as an array.
Registers ImageBytes();

// An empty bus with one converter holding `registers`.
sim::SimDevice &PlugConverter(const Registers &registers);

// Presses Read Device and waits until the read has ended with "Read OK".
void ReadConverter(DialogDriver &driver);

// A converter holding `registers` on an empty bus, then the main dialog,
// which has read it.
struct ReadDialog {
    explicit ReadDialog(const Registers &registers) : converter(PlugConverter(registers)) { ReadConverter(driver); }
    sim::SimDevice &converter;
    DialogDriver driver;
};

// No register of the converter was written since the bus was reset.
bool NothingWritten(sim::SimDevice &device);

// The table editor, opened from the main dialog by an Edit button.
struct Editor {
    HWND window = nullptr;
    std::string Text() const { return WindowText(GetDlgItem(window, IDC_TABLE_TEXT)); }
    void SetText(const std::string &text) const { SetDlgItemTextA(window, IDC_TABLE_TEXT, text.c_str()); }
    // Clicks one of the editor's buttons (1019 OK, 1020 Cancel) as a user would.
    void Click(int id) const { ClickButton(GetDlgItem(window, id)); }
    bool Closed() const { return WaitGone(window); }
};

// Clicks an Edit button and waits for an editor with that caption.
Editor OpenEditor(DialogDriver &driver, int editButton, const std::string &caption);

// The text of the one table of the image, as the editor would show it.
std::string TableTextOf(const Registers &registers, uint8_t offset);
