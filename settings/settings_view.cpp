#include "settings/settings_view.h"

#include "settings/speed_text.h"


namespace {

const SensorInfo lowHighSensors[] = {
    {"low", layout::sensorLowFreq, "Low Freq (Gear Driven)"},
    {"high", layout::sensorHighFreq, "High Freq (Magnetic)"},
    {"high-to-low", layout::sensorHighToLow, "High to Low"},
};
const SensorInfo vssSensors[] = {
    {"rsx", layout::sensorHighToLow, "RSX"},
    {"s2k", layout::sensorLowFreq, "S2K"},
    {"general", layout::sensorHighFreq, "General"},
};

} // namespace

const TableInfo tableInfos[4] = {
    {"ap2-res", layout::tableAp2Res, "AP2 RES", 0, 20},
    {"ap1-res", layout::tableAp1Res, "AP1 RES", 0, 7},
    {"ap2-5v", layout::tableAp2_5V, "AP2 5V", 1, 20},
    {"ap1-5v", layout::tableAp1_5V, "AP1 5V", 1, 7},
};

std::string Hex2(unsigned value)
{
    static const char digits[] = "0123456789ABCDEF";
    return {digits[(value >> 4) & 0xFu], digits[value & 0xFu]};
}

std::string FirmwareText(uint16_t version)
{
    char text[8];
    FormatFirmwareVersion(version, text, sizeof text);
    return text;
}

std::string TypeText(uint16_t type)
{
    switch (type) {
    case 1:
        return "VSS+ECT (type 1, treated like type 2)";
    case layout::typeVssEct:
        return "VSS+ECT";
    case layout::typeVss:
        return "VSS";
    default:
        return "unknown";
    }
}

bool TypeHasTables(uint16_t type) { return type == 1 || type == layout::typeVssEct; }

const TableInfo *FindTableByName(const std::string &name)
{
    for (const TableInfo &table : tableInfos)
        if (name == table.name)
            return &table;
    return nullptr;
}

const TableInfo *FindTableByOffset(uint8_t offset)
{
    for (const TableInfo &table : tableInfos)
        if (offset == table.offset)
            return &table;
    return nullptr;
}

bool TableOnFirmware(const TableInfo &table, uint16_t firmwareVersion)
{
    return table.wiring == 0 || firmwareVersion == layout::firmware12300;
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

std::vector<SensorInfo> SensorsForType(uint16_t type)
{
    if (TypeHasTables(type))
        return std::vector<SensorInfo>(std::begin(lowHighSensors), std::end(lowHighSensors));
    if (type == layout::typeVss)
        return std::vector<SensorInfo>(std::begin(vssSensors), std::end(vssSensors));
    return {};
}

bool FindSensorByName(uint16_t type, const std::string &name, SensorInfo &out)
{
    for (const SensorInfo &sensor : SensorsForType(type)) {
        if (name == sensor.name) {
            out = sensor;
            return true;
        }
    }
    return false;
}

bool FindSensorByCode(uint16_t type, uint16_t code, SensorInfo &out)
{
    for (const SensorInfo &sensor : SensorsForType(type)) {
        if (code == sensor.code) {
            out = sensor;
            return true;
        }
    }
    return false;
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


std::string FirmwareValueText(uint16_t version)
{
    return std::to_string(version) + " (" + FirmwareText(version) + ")";
}

std::string TypeValueText(uint16_t type) { return std::to_string(type) + " (" + TypeText(type) + ")"; }

std::string SpeedAdjustText(uint16_t word)
{
    char text[16];
    FormatSpeedAdjust(word, text, sizeof text);
    return std::string(text) + " %";
}
