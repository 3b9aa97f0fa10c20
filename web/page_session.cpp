#include "web/page_session.h"

#include "config/converter_choices.h"
#include "config/default_images.h"
#include "config/table_text.h"
#include "settings/backup_file.h"
#include "settings/image_guards.h"
#include "settings/settings_view.h"
#include "settings/speed_text.h"

#include <cstdio>

PageSession session;

namespace {

Result NeedsRead()
{
    if (session.haveConverter)
        return Result::Success();
    return Result::Fail("Read the converter first");
}

// `step`'s result once a read has given the page a converter to edit; the
// refusal, with nothing done, before that.
template <class Step> Result AfterRead(Step step)
{
    if (Result ready = NeedsRead(); !ready)
        return ready;
    return step();
}

std::string Sentences(const std::vector<std::string> &sentences)
{
    std::string text;
    for (const std::string &sentence : sentences)
        text += (text.empty() ? "" : "; ") + sentence;
    return text;
}

}  // namespace

nlohmann::json SessionView()
{
    const RegisterImage &image = session.edited;
    nlohmann::json view = {{"read", session.haveConverter}, {"helpPresses", session.helpPressCount}};
    if (!session.haveConverter)
        return view;
    const uint16_t type = image.FirmwareType();
    const uint16_t version = image.FirmwareVersion();
    char speed[16];
    FormatSpeedAdjust(image.SpeedAdjust(), speed, sizeof speed);
    view["firmware"] = version;
    view["version"] = FirmwareText(version);
    view["type"] = type;
    view["kind"] = DeviceKindName(type);
    view["speed"] = speed;
    view["sensor"] = image.SpeedSensorCode();
    view["sensors"] = nlohmann::json::array();
    for (const SensorInfo &sensor : SensorsForType(type)) {
        // The dialog offers "High to Low" only after its hidden unlock.
        const bool hidden = TypeHasTables(type) && sensor.code == layout::sensorHighToLow && !session.highToLowUnlocked;
        if (!hidden)
            view["sensors"].push_back({{"code", sensor.code}, {"label", sensor.label}, {"name", sensor.name}});
    }
    view["tables"] = nlohmann::json::array();
    if (TypeHasTables(type))
        for (const TableInfo &table : tableInfos)
            if (TableOnFirmware(table, version))
                view["tables"].push_back({{"offset", table.offset},
                                          {"title", table.title},
                                          {"name", table.name},
                                          {"editable", TableEditable(image, table.offset)}});
    view["activeTable"] = image.ActiveTable();
    view["differences"] = DiffJson(DiffImages(session.converter, image));
    view["registers"] = RegistersToWrite(session.converter, image, false);
    return view;
}

Result SetSpeedText(const std::string &text)
{
    return AfterRead([&] { return ApplySetting(session.edited, "speed=" + text); });
}

Result SetSensor(uint16_t code)
{
    return AfterRead([&] {
        SensorInfo sensor{};
        if (!FindSensorByCode(session.edited.FirmwareType(), code, sensor))
            return Result::Fail("code " + std::to_string(code) + " is no speed-sensor choice of this unit");
        return ApplySetting(session.edited, std::string("sensor=") + sensor.name);
    });
}

Result SetActiveTable(uint8_t offset)
{
    return AfterRead([&] {
        const TableInfo *table = FindTableByOffset(offset);
        if (!table)
            return Result::Fail("offset " + std::to_string(offset) + " holds no table");
        return ApplySetting(session.edited, std::string("table=") + table->name);
    });
}

Result TableText(uint8_t offset, std::string &text)
{
    return AfterRead([&] {
        if (!BuildTableText(session.edited, offset, text))
            return Result::Fail(TableCaption(offset) + ": the table's count is " +
                                std::to_string(session.edited.Byte(offset)) + ", not a table the editor can show");
        return Result::Success();
    });
}

Result StoreTableText(uint8_t offset, const std::string &text)
{
    return AfterRead([&] {
        const TableTextOutcome outcome = ParseTableLines(session.edited, offset, text.c_str());
        if (outcome.problem != TableTextProblem::None)
            return Result::Fail(TableTextMessage(outcome));
        StoreTableMillivolts(session.edited, offset, outcome);
        return Result::Success();
    });
}

Result LoadFactoryDefaults()
{
    return AfterRead([&] {
        const uint16_t version = session.edited.FirmwareVersion(), type = session.edited.FirmwareType();
        const DefaultImage defaults = FindDefaultImage(version, type);
        if (!defaults.bytes) {
            char text[64];
            std::snprintf(text, sizeof text, "Wrong firmware type;  0x%X-0x%X", version, type);
            return Result::Fail(text);
        }
        session.edited.LoadPrefix(defaults.bytes, defaults.length);
        return Result::Success();
    });
}

Result BackupText(int64_t nowUnixSeconds, std::string &text, std::string &fileName)
{
    return AfterRead([&] {
        text = FormatBackupFile(session.converter, IsoUtcTime(nowUnixSeconds));
        fileName = "zyr-backup-" + UtcFileStamp(nowUnixSeconds) + ".zyr";
        return Result::Success();
    });
}

Result RestoreText(const std::string &text)
{
    return AfterRead([&] {
        if (text.size() > maxBackupFileSize)
            return Result::Fail("the file is larger than any backup file (" + std::to_string(maxBackupFileSize / 1024) +
                                " KiB); nothing was loaded");
        BackupFile backup;
        if (Result parsed = ParseBackupFile(text, backup); !parsed)
            return Result::Fail(parsed.Message() + "; nothing was loaded");
        if (std::string missing = MissingTableChoice(backup.image); !missing.empty())
            return Result::Fail(missing + "; nothing was loaded");
        if (std::vector<std::string> implausible = ImplausibleValues(backup.image); !implausible.empty())
            return Result::Fail("the file holds values the dialog could never have stored: " + Sentences(implausible) +
                                "; nothing was loaded");
        if (std::string mismatch = IdentityMismatch(backup.image, session.converter); !mismatch.empty())
            return Result::Fail(mismatch + "; nothing was loaded");
        session.edited = backup.image;
        return Result::Success();
    });
}
