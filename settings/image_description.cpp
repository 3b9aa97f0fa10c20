#include "settings/settings_view.h"

#include "config/hex_text.h"
#include "settings/speed_text.h"

#include <cstdio>

namespace {

// A table's state as show reports it; the entries to list when usable.
struct TableState {
    uint8_t count = 0;  // the count byte at the table's offset
    bool onFirmware = false;
    bool validCount = false;
    unsigned fitting = 0;  // entries that lie inside the image
};

TableState StateOf(const RegisterImage &image, const TableInfo &table)
{
    TableState state;
    state.onFirmware = TableOnFirmware(table, image.FirmwareVersion());
    state.count = image.Byte(table.offset);
    state.validCount = TempTable::ValidCount(state.count);
    if (state.validCount) {
        ConstTempTable view(image, table.offset);
        while (state.fitting < state.count && view.EntryFits(state.fitting))
            ++state.fitting;
    }
    return state;
}

}  // namespace

std::string DescribeImage(const RegisterImage &image)
{
    const uint16_t version = image.FirmwareVersion();
    const uint16_t type = image.FirmwareType();
    std::string text;
    text += "firmware          " + FirmwareValueText(version) +
            (AcceptedFirmwareVersion(version) ? "" : ", not a known firmware") + "\n";
    text += "type              " + TypeValueText(type) + "\n";
    text += "speed adjustment  " + SpeedAdjustText(image.SpeedAdjust());
    if ((image.SpeedAdjust() & speedMagnitudeMask) > speedAdjustLimit)
        text += ", out of the range -25.0 to 25.0";
    text += "\n";
    text += "speed sensor      " + SensorText(type, image.SpeedSensorCode()) + "\n";
    text +=
        "sensor wiring     " + std::to_string(image.SensorWiring()) + " (" + WiringText(image.SensorWiring()) + ")\n";
    text += "active table      " + ActiveTableText(image.ActiveTable()) + "\n";

    for (const TableInfo &table : tableInfos) {
        const TableState state = StateOf(image, table);
        text += "\n" + std::string(table.name) + " (" + table.title + ", offset " + std::to_string(table.offset) + ")";
        if (!state.onFirmware) {
            text += ": not on firmware " + FirmwareText(version) + "\n";
            continue;
        }
        if (!state.validCount) {
            text += ": count " + std::to_string(state.count) + " (0x" + Hex2(state.count) +
                    ") is not valid, 7 or 20 expected\n";
            continue;
        }
        text += ", " + std::to_string(state.count) + " entries\n";
        ConstTempTable view(image, table.offset);
        char line[64];
        for (unsigned i = 0; i < state.fitting; ++i) {
            std::snprintf(line, sizeof line, "  %02u) %5u mV   paired %5u\n", i + 1, view.SensorMillivolts(i),
                          view.PairedValue(i));
            text += line;
        }
        if (state.fitting < state.count)
            text += "  entries " + std::to_string(state.fitting + 1) + " to " + std::to_string(state.count) +
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
    out["firmware"] = {
        {"value", version}, {"text", FirmwareText(version)}, {"known", AcceptedFirmwareVersion(version)}};
    out["type"] = {{"value", type}, {"text", TypeText(type)}};

    char speed[16];
    FormatSpeedAdjust(image.SpeedAdjust(), speed, sizeof speed);
    out["speed_adjustment"] = {{"word", image.SpeedAdjust()},
                               {"tenths", DecodeSpeedAdjust(image.SpeedAdjust())},
                               {"text", speed},
                               {"in_range", (image.SpeedAdjust() & speedMagnitudeMask) <= speedAdjustLimit}};

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
        json tableJson = {{"name", table.name},      {"title", table.title},
                          {"offset", table.offset},  {"on_firmware", state.onFirmware},
                          {"count", state.count},    {"valid", state.onFirmware && state.validCount},
                          {"entries", json::array()}};
        if (state.onFirmware && state.validCount) {
            ConstTempTable view(image, table.offset);
            for (unsigned i = 0; i < state.fitting; ++i)
                tableJson["entries"].push_back(
                    {{"index", i + 1}, {"sensor_mv", view.SensorMillivolts(i)}, {"paired_value", view.PairedValue(i)}});
            tableJson["entries_past_end"] = state.count - state.fitting;
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
