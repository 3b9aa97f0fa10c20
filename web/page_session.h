// What the page holds between a user's actions: the converter's registers
// as it last answered (the only image a backup is made of), the image the
// page edits and writes, and the dialog's hidden counters. Everything here
// works on images only; device traffic is page_operations.h.
#pragma once

#include "base/result.h"
#include "config/config_image.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

struct PageSession {
    RegisterImage converter;  // the converter's own answer (read, or read back after a write)
    RegisterImage edited;  // what Write sends
    bool haveConverter = false;  // a Read succeeded, so both images mean something
    int helpPressCount = 0;  // F1 presses, as the dialog counts them
    bool highToLowUnlocked = false;
};

extern PageSession session;

// The page's controls as the edited image shows them, and what a write
// would change: {"read", "firmware", "version", "type", "kind", "speed",
// "sensors": [{code, label, shown}], "sensor", "tables": [{offset, title,
// name, shown}], "activeTable", "differences": [...], "registers": [...]}.
nlohmann::json SessionView();

// The speed edit's text as the dialog takes it; refused with the dialog's
// message, the image unchanged.
Result SetSpeedText(const std::string &text);
Result SetSensor(uint16_t code);
// The active table and the sensor wiring that goes with it.
Result SetActiveTable(uint8_t offset);

// The table as the editor shows it, or the reason it cannot be edited.
Result TableText(uint8_t offset, std::string &text);
// Checks the edited text and stores the voltage column; the message on refusal.
Result StoreTableText(uint8_t offset, const std::string &text);

// The factory defaults for the edited image's version and type, into the
// edited image only.
Result LoadFactoryDefaults();

// The backup file of the converter's registers as last answered.
Result BackupText(int64_t nowUnixSeconds, std::string &text, std::string &fileName);
// A backup file into the edited image, after the same refusals as
// zyrctl restore: damaged or foreign files, values the dialog could never
// store, a converter of another version or type.
Result RestoreText(const std::string &text);
