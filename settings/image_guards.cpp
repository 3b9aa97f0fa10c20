#include "settings/image_guards.h"

#include "settings/settings_view.h"
#include "settings/speed_setting.h"
#include "settings/speed_text.h"
#include "config/table_text.h"

namespace {

// The editor's rules for a stored voltage column: the table's own text, as
// the editor would show it, must pass the editor's checks unchanged. Only
// the wording is this program's, naming the entry and its value.
std::string TableProblem(const RegisterImage &image, const TableInfo &table)
{
    const std::string name = std::string("the ") + table.name + " table";
    const uint8_t count = image.Byte(table.offset);
    std::string text;
    if (!BuildTableText(image, table.offset, text)) {
        if (!TempTable::ValidCount(count))
            return name + " has the count " + std::to_string(count) + "; tables hold 7 or 20 entries";
        return name + " has the count " + std::to_string(count) + ", which runs past register 255";
    }
    const TableTextOutcome parsed = ParseTableLines(image, table.offset, text.c_str());
    if (parsed.problem == TableTextProblem::None)
        return std::string();
    const unsigned line = parsed.problem == TableTextProblem::FirstNotFull ? 1u : static_cast<unsigned>(parsed.first);
    const unsigned millivolts = ConstTempTable(image, table.offset).SensorMillivolts(line - 1u);
    const std::string entry = name + " entry " + std::to_string(line) + " (" + std::to_string(millivolts) + " mV)";
    if (parsed.problem == TableTextProblem::FirstNotFull)
        return entry + " is not 4000 mV, which the first entry must be";
    if (parsed.problem == TableTextProblem::InvalidMillivolts &&
        millivolts > static_cast<unsigned>(fullScaleMillivolts))
        return entry + " is above 4000 mV";
    if (parsed.problem == TableTextProblem::InvalidMillivolts)
        return entry + " is not below the entry before it";
    return name + ": " + TableTextMessage(parsed);
}

Result ApplySpeed(RegisterImage &image, const std::string &value)
{
    int tenths = 0;
    Result parsed = ParseSpeedSetting(value, tenths);
    if (parsed)
        image.SetWord(layout::speedAdjust, EncodeSpeedAdjust(tenths));
    return parsed;
}

Result ApplySensor(RegisterImage &image, const std::string &value)
{
    const uint16_t type = image.FirmwareType();
    const std::vector<SensorInfo> sensors = SensorsForType(type);
    if (sensors.empty())
        return Result::Fail("a unit of type " + std::to_string(type) + " (" + TypeText(type) +
                            ") has no speed-sensor choice");
    SensorInfo sensor{};
    if (!FindSensorByName(type, value, sensor))
        return Result::Fail("\"" + value + "\" is not a speed sensor of a " + TypeText(type) + " unit; choose one of " +
                            SensorNames(type, ", ", ", "));
    image.SetWord(layout::speedSensorCode, sensor.code);
    return Result::Success();
}

Result ApplyTable(RegisterImage &image, const std::string &value)
{
    const uint16_t type = image.FirmwareType();
    const TableInfo *table = FindTableByName(value);
    if (!table)
        return Result::Fail("\"" + value + "\" is not a table; choose one of " + TableNames(", ", ", "));
    if (!TypeHasTables(type))
        return Result::Fail("a unit of type " + std::to_string(type) + " (" + TypeText(type) +
                            ") has no temperature-table choice");
    if (!TableOnFirmware(*table, image.FirmwareVersion()))
        return Result::Fail(std::string("the ") + table->name +
                            " table exists only on firmware 1.23.00; this unit has " +
                            FirmwareText(image.FirmwareVersion()));
    image.SetByte(layout::sensorWiring, table->wiring);
    image.SetByte(layout::activeTable, table->offset);
    return Result::Success();
}

Result ApplyNamed(RegisterImage &image, const std::string &name, const std::string &value)
{
    if (name == "speed")
        return ApplySpeed(image, value);
    if (name == "sensor")
        return ApplySensor(image, value);
    if (name == "table")
        return ApplyTable(image, value);
    return Result::Fail("\"" + name + "\" is not a setting: the settings are speed, sensor and table");
}

}  // namespace

std::string IdentityMismatch(const RegisterImage &file, const RegisterImage &device)
{
    std::string sentence;
    if (file.FirmwareVersion() != device.FirmwareVersion())
        sentence = "the file is for firmware " + FirmwareText(file.FirmwareVersion()) + " but the converter has " +
                   FirmwareText(device.FirmwareVersion());
    if (file.FirmwareType() != device.FirmwareType()) {
        sentence += sentence.empty() ? "the file is for" : ", and for";
        sentence += " a " + TypeText(file.FirmwareType()) + " unit (type " + std::to_string(file.FirmwareType()) +
                    ") but the converter is " + TypeText(device.FirmwareType()) + " (type " +
                    std::to_string(device.FirmwareType()) + ")";
    }
    return sentence;
}

std::string MissingTableChoice(const RegisterImage &image)
{
    const TableInfo *active = FindTableByOffset(image.ActiveTable());
    if (!active || TableOnFirmware(*active, image.FirmwareVersion()))
        return std::string();
    return std::string("the active table ") + active->name + " exists only on firmware 1.23.00, not on " +
           FirmwareText(image.FirmwareVersion());
}

std::vector<std::string> ImplausibleValues(const RegisterImage &image)
{
    std::vector<std::string> problems;
    const uint16_t version = image.FirmwareVersion();
    const uint16_t type = image.FirmwareType();
    if (!AcceptedFirmwareVersion(version))
        problems.push_back("the firmware version " + std::to_string(version) + " is neither 10005 nor 12300");
    if (!AcceptedFirmwareType(type))
        problems.push_back("the type " + std::to_string(type) + " is neither 2 (VSS+ECT) nor 3 (VSS)");

    const uint16_t speed = image.SpeedAdjust();
    if ((speed & speedMagnitudeMask) > speedAdjustLimit)
        problems.push_back("the speed adjustment's magnitude " + std::to_string(speed & speedMagnitudeMask) +
                           " tenths is over 250 (25.0 %)");
    else if (speed == speedSignBit)
        problems.push_back("the speed adjustment zero is stored as 0x8000, never as 0x0000");

    const uint16_t sensor = image.SpeedSensorCode();
    if (sensor != layout::sensorHighToLow && sensor != layout::sensorLowFreq && sensor != layout::sensorHighFreq)
        problems.push_back("the speed-sensor code " + std::to_string(sensor) + " is none of 33233, 367 and 0");

    const TableInfo *active = FindTableByOffset(image.ActiveTable());
    if (!active) {
        problems.push_back("the active table " + std::to_string(image.ActiveTable()) +
                           " is none of 93, 12, 203 and 122");
    } else {
        const std::string missing = MissingTableChoice(image);
        if (!missing.empty())
            problems.push_back(missing);
        if (image.SensorWiring() != active->wiring)
            problems.push_back("the sensor wiring " + std::to_string(image.SensorWiring()) +
                               " does not go with the active table " + active->name + " (wiring " +
                               std::to_string(active->wiring) + ")");
    }

    for (const TableInfo &table : tableInfos) {
        if (!TableOnFirmware(table, version))
            continue;
        const std::string problem = TableProblem(image, table);
        if (!problem.empty())
            problems.push_back(problem);
    }
    return problems;
}

Result ApplySetting(RegisterImage &image, const std::string &assignment)
{
    const size_t equals = assignment.find('=');
    if (equals == std::string::npos)
        return Result::Fail("\"" + assignment + "\" is not a setting: write speed=+3.5, sensor=NAME or table=NAME");
    const std::string name = assignment.substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    RegisterImage changed = image;
    Result applied = ApplyNamed(changed, name, value);
    if (applied)
        image = changed;
    return applied;
}

namespace {

// The registers from `first` to 255: all of them with `all`, otherwise
// those whose bytes differ. Ascending.
std::vector<uint8_t> RegistersFrom(unsigned first, const RegisterImage &a, const RegisterImage &b, bool all)
{
    std::vector<uint8_t> registers;
    for (unsigned at = first; at < imageSize; ++at)
        if (all || a.bytes[at] != b.bytes[at])
            registers.push_back(static_cast<uint8_t>(at));
    return registers;
}

}  // namespace

std::vector<uint8_t> RegistersToWrite(const RegisterImage &device, const RegisterImage &target, bool all)
{
    return RegistersFrom(layout::firstWritableRegister, device, target, all);
}

std::vector<uint8_t> DifferingRegisters(const RegisterImage &a, const RegisterImage &b)
{
    return RegistersFrom(0, a, b, false);
}
