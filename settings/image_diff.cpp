#include "settings/settings_view.h"

#include "config/hex_text.h"

namespace {

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
        return FirmwareValueText(image.FirmwareVersion());
    case FieldSpan::Kind::Type:
        return TypeValueText(type);
    case FieldSpan::Kind::Wiring:
        return std::to_string(image.SensorWiring()) + " (" + WiringText(image.SensorWiring()) + ")";
    case FieldSpan::Kind::Speed:
        // 0x0000 and 0x8000 both show as 0.0: the word tells them apart.
        return SpeedAdjustText(image.SpeedAdjust()) + " (" + "0x" + HexDigits(image.SpeedAdjust(), 4) + ")";
    case FieldSpan::Kind::Sensor:
        return SensorText(type, image.SpeedSensorCode());
    case FieldSpan::Kind::ActiveTable:
        return ActiveTableText(image.ActiveTable());
    case FieldSpan::Kind::Word:
        return std::to_string(image.Word(field.first));
    }
    return std::string();
}

}  // namespace

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
        text += " (" + RegistersText(difference.registers) + ")\n";
    }
    return text;
}

std::string RegisterListText(const std::vector<uint8_t> &addresses)
{
    std::string text;
    for (uint8_t address : addresses)
        text += (text.empty() ? "" : ", ") + std::to_string(address);
    return text;
}

std::string RegistersText(const std::vector<uint8_t> &addresses)
{
    return (addresses.size() == 1 ? "register " : "registers ") + RegisterListText(addresses);
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
