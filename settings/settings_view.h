// Names and decoding of the image's settings, shared by the show, diff and
// set commands: firmware and type texts, the four tables and the speed-sensor
// choices with their command-line names (settings_view.cpp), a readable
// description of a whole image (image_description.cpp) and a field-level
// comparison of two (image_diff.cpp). Portable: no Windows here.
#pragma once

#include "config/config_image.h"

#include <nlohmann/json.hpp>

#include "protocol/operation_text.h"

#include <cstdint>
#include <string>
#include <vector>

// The version as the dialog shows it (d.dd.dd: 10005 gives "1.00.05", 12300
// "1.23.00", 0xFFFF "6.55.35"). Whether the tool serves a version or a
// type is Read Device's rule: AcceptedFirmwareVersion, AcceptedFirmwareType.
std::string FirmwareText(uint16_t version);

// A byte as two upper-case hex digits ("0C").
std::string Hex2(unsigned value);

// 2 "VSS+ECT", 3 "VSS", 1 "VSS+ECT (type 1, treated like type 2)", any other
// "unknown".
std::string TypeText(uint16_t type);
// Types whose dialog shows the temperature tables and the low/high sensors.
bool TypeHasTables(uint16_t type);  // 1 or 2

struct TableInfo {
    const char *name;    // "ap1-res", "ap2-res", "ap1-5v", "ap2-5v"
    uint8_t offset;      // 93, 12, 203, 122
    const char *title;   // "AP1 RES", ...
    uint8_t wiring;      // sensorWiring that goes with it: 0 RES, 1 5V
    uint8_t slots;       // entries the table's place in the image holds: 7 or 20
};

// The four tables in image order: ap2-res, ap1-res, ap2-5v, ap1-5v.
extern const TableInfo tableInfos[4];
const TableInfo *FindTableByName(const std::string &name);  // null when unknown
const TableInfo *FindTableByOffset(uint8_t offset);          // null when unknown
// The 5V tables exist only on firmware 12300.
bool TableOnFirmware(const TableInfo &table, uint16_t firmwareVersion);
// "single wire B/D-series sensor, RES tables" for 0, "two wire K-series
// sensor, 5V tables" for 1, "unknown" otherwise.
std::string WiringText(uint8_t wiring);

struct SensorInfo {
    const char *name;   // "low", "high", "high-to-low"; "rsx", "s2k", "general"
    uint16_t code;      // speedSensorCode
    const char *label;  // the dialog's label, "Low Freq (Gear Driven)", "RSX", ...
};

// The speed-sensor choices of a unit type, in the order low/high/high-to-low
// (types 1 and 2) or rsx/s2k/general (type 3); empty for any other type.
std::vector<SensorInfo> SensorsForType(uint16_t type);
bool FindSensorByName(uint16_t type, const std::string &name, SensorInfo &out);
bool FindSensorByCode(uint16_t type, uint16_t code, SensorInfo &out);
// "low (Low Freq (Gear Driven), code 367)"; a code that is no choice of the
// type: "code 1 (no choice)".
std::string SensorText(uint16_t type, uint16_t code);
// "ap1-res (AP1 RES, offset 93)"; any other value: "offset 7 (no table)".
std::string ActiveTableText(uint8_t activeTable);

// The number and its text: "12300 (1.23.00)", "2 (VSS+ECT)".
std::string FirmwareValueText(uint16_t version);
std::string TypeValueText(uint16_t type);
// The speed adjustment word as the dialog shows it, with its unit: "-2.5 %".
std::string SpeedAdjustText(uint16_t word);

// What `zyrctl show` prints: firmware, type, speed adjustment as the dialog
// shows it, speed sensor, wiring, active table, then each of the four tables
// entry by entry (number, sensor mV, paired value). A table the firmware
// lacks or whose count is not 7 or 20 is said so; nothing past byte 255 is read.
std::string DescribeImage(const RegisterImage &image);
// The same content as data, with the raw 256 bytes as one hex string.
nlohmann::json DescribeImageJson(const RegisterImage &image);

struct FieldDifference {
    std::string field;               // "speed adjustment", "ap1-res entry 3 sensor mV", "register 10"
    std::string before;              // the value in the first image, as text
    std::string after;               // the value in the second image
    std::vector<uint8_t> registers;  // the differing registers of this field, ascending
};

// Field-level differences, in register order. Every byte that differs
// belongs to exactly one difference: the named fields, each table's count,
// each table entry's sensor mV and paired value, and "register N" for the
// reserved bytes, the spare bytes after the tables and, when both images
// are of firmware 10005, the bytes from 122 on.
std::vector<FieldDifference> DiffImages(const RegisterImage &a, const RegisterImage &b);
// One line per difference: "speed adjustment: 0.0 % -> 3.5 % (registers 6, 7)".
std::string DifferencesText(const std::vector<FieldDifference> &differences);
// [{"field", "before", "after", "registers": [..]}, ...]
nlohmann::json DiffJson(const std::vector<FieldDifference> &differences);
