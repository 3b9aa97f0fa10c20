// Texts and counting shared by the device operations. Portable: no Windows.
#pragma once

#include <cstddef>
#include <cstdint>

// Location codes: where an operation stopped, the number in "READ ERROR
// L%d" and "WRITE ERROR L%d". The dialog and the page show the same.
constexpr int readVersionFailed = 497;  // then 498 type, 499 the word at 255
constexpr int readRegisterFailed = 510;
constexpr int writeVersionFailed = 413;  // then 414 type, 415 the word at 255
constexpr int writeRegisterFailed = 426;
constexpr int formatRegisterFailed = 461;

// Progress of a register loop in whole tenths. The loop reports after the
// register at `address` was transferred; Advance returns true when the
// tenth reached differs from the last one reported, so every tenth from
// 10 % to 100 % is reported exactly once and 0 % never is. A loop that
// starts at a later address counts the registers before it as done.
class ProgressCounter {
public:
    // Percent (10 to 100) after `address` (0 to 255), or 0 when no new
    // tenth has been reached since the last report.
    int Advance(uint8_t address);

private:
    int lastPercent = 0;
};

// A firmware version word as the user reads it: "%05u" with a point after
// the first and the third digit (12300 gives "1.23.00"). `out` needs 8 bytes.
void FormatFirmwareVersion(uint16_t version, char *out, size_t size);

// The kind of unit a firmware type names: "VSS+ECT" for 2, "VSS" for 3,
// empty for any other type.
const char *DeviceKindName(uint16_t firmwareType);

// Whether the read operation serves a converter of this version and type.
bool AcceptedFirmwareVersion(uint16_t version);
bool AcceptedFirmwareType(uint16_t type);
