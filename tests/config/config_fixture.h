// Shared steps of the configuration tests: a simulated converter with a
// chosen register content, the main dialog reading it, and the editor and
// message boxes as the user sees them.
#pragma once

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

// Waits until the main dialog is on the screen, ready for clicks.
void Shown(DialogDriver &driver);
// Presses Read Device and waits until the read has ended with "Read OK".
void ReadConverter(DialogDriver &driver);

// Lets the dialog thread finish what the last answer or click started, then
// waits until no device operation runs.
void Settle(DialogDriver &driver);

// No register of the converter was written since the bus was reset.
bool NothingWritten(sim::SimDevice &device);

// The table editor, opened from the main dialog by an Edit button.
struct Editor {
    HWND window = nullptr;
    std::string Caption() const;
    std::string Text() const;
    void SetText(const std::string &text) const;
    // Clicks one of the editor's buttons (1019 OK, 1020 Cancel) as a user would.
    void Click(int id) const;
    // Waits until the editor has closed.
    bool Closed(DWORD timeoutMs = 5000) const;
};

// Clicks an Edit button and waits for an editor with that caption.
Editor OpenEditor(DialogDriver &driver, int editButton, const std::string &caption);

// The text of the one table of the image, as the editor would show it.
std::string TableTextOf(const Registers &registers, uint8_t offset);

// The stock icons a message box shows.
HICON ErrorIcon();
HICON WarningIcon();
HICON InformationIcon();
