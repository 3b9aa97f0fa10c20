// The converter's choices, each stated once for the dialog and zyrctl: the
// four temperature tables (offset, command-line name, title, the sensor
// wiring that goes with each, the slots its place holds) and the
// speed-sensor choices of each unit type (code, command-line name, the
// dialog's label). Portable: no Windows here.
#pragma once

#include "config/config_image.h"

#include <cstdint>
#include <string>
#include <vector>

// Names as a person reads them: "a, b or c" with `between` ", " and `last` " or ".
std::string NameList(const std::vector<const char *> &names, const char *between, const char *last);

// Types whose dialog shows the temperature tables and the low/high sensors.
bool TypeHasTables(uint16_t type);  // 1 or 2

struct TableInfo {
    const char *name;  // "ap1-res", "ap2-res", "ap1-5v", "ap2-5v"
    uint8_t offset;  // 93, 12, 203, 122
    const char *title;  // "AP1 RES", ...
    uint8_t wiring;  // sensorWiring that goes with it: 0 RES, 1 5V
    uint8_t slots;  // entries the table's place in the image holds: 7 or 20
};

// The four tables in image order: ap2-res, ap1-res, ap2-5v, ap1-5v.
extern const TableInfo tableInfos[4];
const TableInfo *FindTableByName(const std::string &name);  // null when unknown
const TableInfo *FindTableByOffset(uint8_t offset);  // null when unknown
// The 5V tables exist only on firmware 12300.
bool TableOnFirmware(const TableInfo &table, uint16_t firmwareVersion);

// The tables' command-line names as a person reads them, RES before 5V and
// AP1 before AP2: "ap1-res, ap2-res, ap1-5v or ap2-5v" with ", " and " or ".
std::string TableNames(const char *between, const char *last);

// The table editor's caption: "AP1 RES Table Edit" for the table at 93 and
// likewise for the others; "Temperature Table Edit" for any other offset.
std::string TableCaption(uint8_t offset);

struct SensorInfo {
    const char *name;  // "low", "high", "high-to-low"; "rsx", "s2k", "general"
    uint16_t code;  // speedSensorCode
    const char *label;  // the dialog's label, "Low Freq (Gear Driven)", "RSX", ...
};

// The speed-sensor choices of a unit type, in the order low/high/high-to-low
// (types 1 and 2) or rsx/s2k/general (type 3); empty for any other type.
std::vector<SensorInfo> SensorsForType(uint16_t type);
// A unit type's speed-sensor names, in that order: "low, high or high-to-low".
std::string SensorNames(uint16_t type, const char *between, const char *last);
bool FindSensorByName(uint16_t type, const std::string &name, SensorInfo &out);
bool FindSensorByCode(uint16_t type, uint16_t code, SensorInfo &out);
