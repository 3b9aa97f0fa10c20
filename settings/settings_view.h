// Names and decoding of the image's settings, shared by the show, diff and
// set commands: firmware, type, sensor and table texts over the converter's
// choices (config/converter_choices.h) (settings_view.cpp), a readable
// description of a whole image (image_description.cpp) and a field-level
// comparison of two (image_diff.cpp). Portable: no Windows here.
#pragma once

#include "config/config_image.h"
#include "config/converter_choices.h"

#include <nlohmann/json.hpp>

#include "protocol/operation_text.h"

#include <cstdint>
#include <string>
#include <vector>

// The version as the dialog shows it (d.dd.dd: 10005 gives "1.00.05", 12300
// "1.23.00", 0xFFFF "6.55.35"). Whether the tool serves a version or a
// type is Read Device's rule: AcceptedFirmwareVersion, AcceptedFirmwareType.
std::string FirmwareText(uint16_t version);

// 2 "VSS+ECT", 3 "VSS", 1 "VSS+ECT (type 1, treated like type 2)", any other
// "unknown".
std::string TypeText(uint16_t type);
// "single wire B/D-series sensor, RES tables" for 0, "two wire K-series
// sensor, 5V tables" for 1, "unknown" otherwise.
std::string WiringText(uint8_t wiring);

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
    std::string field;  // "speed adjustment", "ap1-res entry 3 sensor mV", "register 10"
    std::string before;  // the value in the first image, as text
    std::string after;  // the value in the second image
    std::vector<uint8_t> registers;  // the differing registers of this field, ascending
};

// Register numbers as a message lists them: "5, 12, 93".
std::string RegisterListText(const std::vector<uint8_t> &addresses);
// The same after "register " for one, "registers " for more.
std::string RegistersText(const std::vector<uint8_t> &addresses);

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
