#include "config/converter_choices.h"

#include <algorithm>
#include <iterator>

std::string NameList(const std::vector<const char *> &names, const char *between, const char *last)
{
    std::string list;
    for (size_t i = 0; i < names.size(); ++i)
        list += std::string(i == 0 ? "" : i + 1 == names.size() ? last : between) + names[i];
    return list;
}

namespace {

// The first table that matches, or null.
template <typename Match> const TableInfo *FindTable(Match match)
{
    for (const TableInfo &table : tableInfos)
        if (match(table))
            return &table;
    return nullptr;
}

// Copies the type's first sensor that matches to out; false when none does.
template <typename Match> bool FindSensor(uint16_t type, SensorInfo &out, Match match)
{
    for (const SensorInfo &sensor : SensorsForType(type)) {
        if (match(sensor)) {
            out = sensor;
            return true;
        }
    }
    return false;
}

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

}  // namespace

const TableInfo tableInfos[4] = {
    {"ap2-res", layout::tableAp2Res, "AP2 RES", 0, 20},
    {"ap1-res", layout::tableAp1Res, "AP1 RES", 0, 7},
    {"ap2-5v", layout::tableAp2_5V, "AP2 5V", 1, 20},
    {"ap1-5v", layout::tableAp1_5V, "AP1 5V", 1, 7},
};

bool TypeHasTables(uint16_t type) { return type == 1 || type == layout::typeVssEct; }

const TableInfo *FindTableByName(const std::string &name)
{
    return FindTable([&](const TableInfo &table) { return name == table.name; });
}

const TableInfo *FindTableByOffset(uint8_t offset)
{
    return FindTable([&](const TableInfo &table) { return offset == table.offset; });
}

bool TableOnFirmware(const TableInfo &table, uint16_t firmwareVersion)
{
    return table.wiring == 0 || firmwareVersion == layout::firmware12300;
}

std::string TableNames(const char *between, const char *last)
{
    std::vector<const TableInfo *> tables;
    for (const TableInfo &table : tableInfos)
        tables.push_back(&table);
    std::sort(tables.begin(), tables.end(), [](const TableInfo *a, const TableInfo *b) {
        return a->wiring != b->wiring ? a->wiring < b->wiring : std::string(a->name) < b->name;
    });
    std::vector<const char *> names;
    for (const TableInfo *table : tables)
        names.push_back(table->name);
    return NameList(names, between, last);
}

std::string TableCaption(uint8_t offset)
{
    const TableInfo *table = FindTableByOffset(offset);
    return std::string(table ? table->title : "Temperature") + " Table Edit";
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
    return FindSensor(type, out, [&](const SensorInfo &sensor) { return name == sensor.name; });
}

bool FindSensorByCode(uint16_t type, uint16_t code, SensorInfo &out)
{
    return FindSensor(type, out, [&](const SensorInfo &sensor) { return code == sensor.code; });
}

std::string SensorNames(uint16_t type, const char *between, const char *last)
{
    std::vector<const char *> names;
    for (const SensorInfo &sensor : SensorsForType(type))
        names.push_back(sensor.name);
    return NameList(names, between, last);
}
