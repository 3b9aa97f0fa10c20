#include "protocol/operation_text.h"

#include <cstdio>

int ProgressCounter::Advance(uint8_t address)
{
    int percent = 10 * (10 * (address + 1) / 256);
    if (percent == lastPercent)
        return 0;
    lastPercent = percent;
    return percent;
}

void FormatFirmwareVersion(uint16_t version, char *out, size_t size)
{
    if (size == 0)
        return;
    char digits[8];
    std::snprintf(digits, sizeof digits, "%05u", static_cast<unsigned>(version));
    std::snprintf(out, size, "%c.%c%c.%c%c", digits[0], digits[1], digits[2], digits[3], digits[4]);
}

const char *DeviceKindName(uint16_t firmwareType)
{
    switch (firmwareType) {
    case 2:
        return "VSS+ECT";
    case 3:
        return "VSS";
    default:
        return "";
    }
}

bool AcceptedFirmwareVersion(uint16_t version) { return version == 10005 || version == 12300; }

bool AcceptedFirmwareType(uint16_t type) { return type == 2 || type == 3; }
