#include "cli/settings_view.h"

#include "app/speed_text.h"

#include <cstdio>

namespace {

constexpr uint16_t signBit = 0x8000;
constexpr uint16_t magnitudeMask = 0x7FFF;

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

std::string Hex2(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
    return text;
}

std::string Hex4(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFFu);
    return text;
}

std::string SpeedText(uint16_t word)
{
    char text[16];
    FormatSpeedAdjust(word, text, sizeof text);
    return std::string(text) + " %";
}

// Tenths with their sign, beyond the dialog's range too.
int SpeedTenths(uint16_t word)
{
    const int magnitude = word & magnitudeMask;
    return (word & signBit) ? -magnitude : magnitude;
}

std::string FirmwareField(uint16_t version) { return std::to_string(version) + " (" + FirmwareText(version) + ")"; }
std::string TypeField(uint16_t type) { return std::to_string(type) + " (" + TypeText(type) + ")"; }

// A table's state as show reports it; the entries to list when usable.
struct TableState {
    bool onFirmware = false;
    bool validCount = false;
    unsigned fitting = 0;  // entries that lie inside the image
};

TableState StateOf(const RegisterImage &image, const TableInfo &table)
{
    TableState state;
    state.onFirmware = TableOnFirmware(table, image.FirmwareVersion());
    const uint8_t count = image.Byte(table.offset);
    state.validCount = TempTable::ValidCount(count);
    if (state.validCount) {
        TempTable view(const_cast<RegisterImage &>(image), table.offset);
        while (state.fitting < count && view.EntryFits(state.fitting))
            ++state.fitting;
    }
    return state;
}

// The field each byte of the image belongs to, for the comparison.
struct FieldSpan {
    std::string name;
    uint8_t first;
    uint8_t length;
    enum class Kind { Byte, Firmware, Type, Wiring, Speed, Sensor, ActiveTable, Word } kind;
};

std::vector<FieldSpan> FieldsOf(bool with5VTables)
{
    std::vector<FieldSpan> fields = {
        {"register 0", layout::reserved0, 1, FieldSpan::Kind::Byte},
        {"firmware version", layout::firmwareVersion, 2, FieldSpan::Kind::Firmware},
        {"type", layout::firmwareType, 2, FieldSpan::Kind::Type},
        {"sensor wiring", layout::sensorWiring, 1, FieldSpan::Kind::Wiring},
        {"speed adjustment", layout::speedAdjust, 2, FieldSpan::Kind::Speed},
        {"speed sensor", layout::speedSensorCode, 2, FieldSpan::Kind::Sensor},
        {"register 10", layout::reserved10, 1, FieldSpan::Kind::Byte},
        {"active table", layout::activeTable, 1, FieldSpan::Kind::ActiveTable},
    };
    unsigned next = layout::tableAp2Res;
    for (const TableInfo &table : tableInfos) {
        const bool fiveVolt = table.wiring == 1;
        if (fiveVolt && !with5VTables)
            continue;
        const std::string name = table.name;
        fields.push_back({name + " count", table.offset, 1, FieldSpan::Kind::Byte});
        for (unsigned i = 0; i < table.slots; ++i) {
            const uint8_t at = static_cast<uint8_t>(table.offset + 1 + 4 * i);
            const std::string entry = name + " entry " + std::to_string(i + 1);
            fields.push_back({entry + " sensor mV", at, 2, FieldSpan::Kind::Word});
            fields.push_back({entry + " paired value", static_cast<uint8_t>(at + 2), 2, FieldSpan::Kind::Word});
        }
        next = table.offset + 1u + 4u * table.slots;
    }
    for (unsigned at = next; at < imageSize; ++at)
        fields.push_back({"register " + std::to_string(at), static_cast<uint8_t>(at), 1, FieldSpan::Kind::Byte});
    return fields;
}

std::string FieldValue(const RegisterImage &image, const FieldSpan &field)
{
    const uint16_t type = image.FirmwareType();
    switch (field.kind) {
    case FieldSpan::Kind::Byte:
        return std::to_string(image.Byte(field.first)) + " (0x" + Hex2(image.Byte(field.first)) + ")";
    case FieldSpan::Kind::Firmware:
        return FirmwareField(image.FirmwareVersion());
    case FieldSpan::Kind::Type:
        return TypeField(type);
    case FieldSpan::Kind::Wiring:
        return std::to_string(image.SensorWiring()) + " (" + WiringText(image.SensorWiring()) + ")";
    case FieldSpan::Kind::Speed:
        // 0x0000 and 0x8000 both show as 0.0: the word tells them apart.
        return SpeedText(image.SpeedAdjust()) + " (" + Hex4(image.SpeedAdjust()) + ")";
    case FieldSpan::Kind::Sensor:
        return SensorText(type, image.SpeedSensorCode());
    case FieldSpan::Kind::ActiveTable:
        return ActiveTableText(image.ActiveTable());
    case FieldSpan::Kind::Word:
        return std::to_string(image.Word(field.first));
    }
    return std::string();
}

} // namespace

const TableInfo tableInfos[4] = {
    {"ap2-res", layout::tableAp2Res, "AP2 RES", 0, 20},
    {"ap1-res", layout::tableAp1Res, "AP1 RES", 0, 7},
    {"ap2-5v", layout::tableAp2_5V, "AP2 5V", 1, 20},
    {"ap1-5v", layout::tableAp1_5V, "AP1 5V", 1, 7},
};

std::string FirmwareText(uint16_t version)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%02u.%02u", version / 10000u, version / 100u % 100u, version % 100u);
    return text;
}

bool KnownFirmware(uint16_t version)
{
    return version == layout::firmware10005 || version == layout::firmware12300;
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

std::string DescribeImage(const RegisterImage &image)
{
    const uint16_t version = image.FirmwareVersion();
    const uint16_t type = image.FirmwareType();
    std::string text;
    text += "firmware          " + FirmwareField(version) + (KnownFirmware(version) ? "" : ", not a known firmware") + "\n";
    text += "type              " + TypeField(type) + "\n";
    text += "speed adjustment  " + SpeedText(image.SpeedAdjust());
    if ((image.SpeedAdjust() & magnitudeMask) > speedAdjustLimit)
        text += ", out of the range -25.0 to 25.0";
    text += "\n";
    text += "speed sensor      " + SensorText(type, image.SpeedSensorCode()) + "\n";
    text += "sensor wiring     " + std::to_string(image.SensorWiring()) + " (" + WiringText(image.SensorWiring()) + ")\n";
    text += "active table      " + ActiveTableText(image.ActiveTable()) + "\n";

    for (const TableInfo &table : tableInfos) {
        const TableState state = StateOf(image, table);
        const uint8_t count = image.Byte(table.offset);
        text += "\n" + std::string(table.name) + " (" + table.title + ", offset " + std::to_string(table.offset) + ")";
        if (!state.onFirmware) {
            text += ": not on firmware " + FirmwareText(version) + "\n";
            continue;
        }
        if (!state.validCount) {
            text += ": count " + std::to_string(count) + " (0x" + Hex2(count) + ") is not valid, 7 or 20 expected\n";
            continue;
        }
        text += ", " + std::to_string(count) + " entries\n";
        TempTable view(const_cast<RegisterImage &>(image), table.offset);
        char line[64];
        for (unsigned i = 0; i < state.fitting; ++i) {
            std::snprintf(line, sizeof line, "  %02u) %5u mV   paired %5u\n", i + 1, view.SensorMillivolts(i),
                          view.PairedValue(i));
            text += line;
        }
        if (state.fitting < count)
            text += "  entries " + std::to_string(state.fitting + 1) + " to " + std::to_string(count) +
                    " would lie past register 255\n";
    }
    return text;
}

nlohmann::json DescribeImageJson(const RegisterImage &image)
{
    using nlohmann::json;
    const uint16_t version = image.FirmwareVersion();
    const uint16_t type = image.FirmwareType();
    json out;
    out["firmware"] = {{"value", version}, {"text", FirmwareText(version)}, {"known", KnownFirmware(version)}};
    out["type"] = {{"value", type}, {"text", TypeText(type)}};

    char speed[16];
    FormatSpeedAdjust(image.SpeedAdjust(), speed, sizeof speed);
    out["speed_adjustment"] = {{"word", image.SpeedAdjust()},
                               {"tenths", SpeedTenths(image.SpeedAdjust())},
                               {"text", speed},
                               {"in_range", (image.SpeedAdjust() & magnitudeMask) <= speedAdjustLimit}};

    SensorInfo sensor{};
    json sensorJson = {{"code", image.SpeedSensorCode()}, {"name", nullptr}, {"label", nullptr}};
    if (FindSensorByCode(type, image.SpeedSensorCode(), sensor)) {
        sensorJson["name"] = sensor.name;
        sensorJson["label"] = sensor.label;
    }
    out["speed_sensor"] = sensorJson;
    out["sensor_wiring"] = {{"value", image.SensorWiring()}, {"text", WiringText(image.SensorWiring())}};

    json active = {{"offset", image.ActiveTable()}, {"name", nullptr}, {"title", nullptr}};
    if (const TableInfo *table = FindTableByOffset(image.ActiveTable())) {
        active["name"] = table->name;
        active["title"] = table->title;
    }
    out["active_table"] = active;

    json tables = json::array();
    for (const TableInfo &table : tableInfos) {
        const TableState state = StateOf(image, table);
        const uint8_t count = image.Byte(table.offset);
        json tableJson = {{"name", table.name},         {"title", table.title},
                          {"offset", table.offset},     {"on_firmware", state.onFirmware},
                          {"count", count},             {"valid", state.onFirmware && state.validCount},
                          {"entries", json::array()}};
        if (state.onFirmware && state.validCount) {
            TempTable view(const_cast<RegisterImage &>(image), table.offset);
            for (unsigned i = 0; i < state.fitting; ++i)
                tableJson["entries"].push_back(
                    {{"index", i + 1}, {"sensor_mv", view.SensorMillivolts(i)}, {"paired_value", view.PairedValue(i)}});
            tableJson["entries_past_end"] = count - state.fitting;
        }
        tables.push_back(tableJson);
    }
    out["tables"] = tables;

    std::string registers;
    for (uint8_t byte : image.bytes)
        registers += Hex2(byte);
    out["registers"] = registers;
    return out;
}

std::vector<FieldDifference> DiffImages(const RegisterImage &a, const RegisterImage &b)
{
    // The 5V tables are fields unless neither image has them.
    const bool with5V = a.FirmwareVersion() != layout::firmware10005 || b.FirmwareVersion() != layout::firmware10005;
    std::vector<FieldDifference> differences;
    for (const FieldSpan &field : FieldsOf(with5V)) {
        FieldDifference difference;
        for (unsigned i = 0; i < field.length; ++i) {
            const uint8_t at = static_cast<uint8_t>(field.first + i);
            if (a.Byte(at) != b.Byte(at))
                difference.registers.push_back(at);
        }
        if (difference.registers.empty())
            continue;
        difference.field = field.name;
        difference.before = FieldValue(a, field);
        difference.after = FieldValue(b, field);
        differences.push_back(difference);
    }
    return differences;
}

std::string DifferencesText(const std::vector<FieldDifference> &differences)
{
    std::string text;
    for (const FieldDifference &difference : differences) {
        text += difference.field + ": " + difference.before + " -> " + difference.after;
        text += difference.registers.size() == 1 ? " (register " : " (registers ";
        for (size_t i = 0; i < difference.registers.size(); ++i)
            text += (i ? ", " : "") + std::to_string(difference.registers[i]);
        text += ")\n";
    }
    return text;
}

nlohmann::json DiffJson(const std::vector<FieldDifference> &differences)
{
    nlohmann::json out = nlohmann::json::array();
    for (const FieldDifference &difference : differences)
        out.push_back({{"field", difference.field},
                       {"before", difference.before},
                       {"after", difference.after},
                       {"registers", difference.registers}});
    return out;
}
