#include "settings/settings_view.h"

#include "settings/speed_text.h"

std::string FirmwareText(uint16_t version)
{
    char text[8];
    FormatFirmwareVersion(version, text, sizeof text);
    return text;
}

std::string TypeText(uint16_t type)
{
    // Read Device's names of the kinds it serves; type 1 is read as type 2.
    if (type == 1)
        return std::string(DeviceKindName(layout::typeVssEct)) + " (type 1, treated like type 2)";
    const char *kind = DeviceKindName(type);
    return *kind ? kind : "unknown";
}

std::string WiringText(uint8_t wiring)
{
    switch (wiring) {
    case 0:
        return "single wire B/D-series sensor, RES tables";
    case 1:
        return "two wire K-series sensor, 5V tables";
    default:
        return "unknown";
    }
}

std::string SensorText(uint16_t type, uint16_t code)
{
    SensorInfo sensor{};
    if (FindSensorByCode(type, code, sensor))
        return std::string(sensor.name) + " (" + sensor.label + ", code " + std::to_string(code) + ")";
    return "code " + std::to_string(code) + " (no choice)";
}

std::string ActiveTableText(uint8_t activeTable)
{
    if (const TableInfo *table = FindTableByOffset(activeTable))
        return std::string(table->name) + " (" + table->title + ", offset " + std::to_string(activeTable) + ")";
    return "offset " + std::to_string(activeTable) + " (no table)";
}

std::string FirmwareValueText(uint16_t version) { return std::to_string(version) + " (" + FirmwareText(version) + ")"; }

std::string TypeValueText(uint16_t type) { return std::to_string(type) + " (" + TypeText(type) + ")"; }

std::string SpeedAdjustText(uint16_t word)
{
    char text[16];
    FormatSpeedAdjust(word, text, sizeof text);
    return std::string(text) + " %";
}
