#include "settings/backup_file.h"

#include "config/hex_text.h"
#include "config/register_rows.h"
#include "settings/settings_view.h"

#include <cstdio>

namespace {

constexpr unsigned rows = 16;
constexpr unsigned bytesPerRow = registerRowBytes;

struct CrcTable {
    uint32_t entries[256];
    CrcTable()
    {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
    }
};

// Days since 1970-01-01 to a civil date (proleptic Gregorian), without the
// C library's time functions, which are neither thread-safe nor the same
// on every runtime.
void CivilFromDays(int64_t days, int64_t &year, unsigned &month, unsigned &day)
{
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

struct UtcParts {
    int64_t year;
    unsigned month, day, hour, minute, second;
};

UtcParts SplitUtc(int64_t unixSeconds)
{
    int64_t days = unixSeconds / 86400;
    int64_t rest = unixSeconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    UtcParts parts{};
    CivilFromDays(days, parts.year, parts.month, parts.day);
    parts.hour = static_cast<unsigned>(rest / 3600);
    parts.minute = static_cast<unsigned>(rest / 60 % 60);
    parts.second = static_cast<unsigned>(rest % 60);
    return parts;
}

std::string AtLine(size_t line) { return "line " + std::to_string(line) + ": "; }

bool ParseCrc(const std::string &value, uint32_t &crc)
{
    if (value.size() != 8)
        return false;
    crc = 0;
    for (char c : value) {
        const int digit = HexDigit(c);
        if (digit < 0)
            return false;
        crc = crc << 4 | static_cast<uint32_t>(digit);
    }
    return true;
}

// A refusal of the kind `error`, in `words`.
Result Refused(BackupError error, std::string words, BackupError &kind)
{
    kind = error;
    return Result::Fail(std::move(words));
}

}  // namespace

uint32_t Crc32(const uint8_t *data, size_t size)
{
    static const CrcTable crcTable;  // built once, safely on any thread
    const uint32_t *table = crcTable.entries;
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

namespace {

// The time as "2026-12-08T10:15:00Z", or with the date's and the time's
// separators left out, "20261208T101500Z".
std::string UtcText(int64_t unixSeconds, bool separators)
{
    const UtcParts p = SplitUtc(unixSeconds);
    const char *dash = separators ? "-" : "";
    const char *colon = separators ? ":" : "";
    char text[40];
    std::snprintf(text, sizeof text, "%04lld%s%02u%s%02uT%02u%s%02u%s%02uZ", static_cast<long long>(p.year), dash,
                  p.month, dash, p.day, p.hour, colon, p.minute, colon, p.second);
    return text;
}

}  // namespace

std::string IsoUtcTime(int64_t unixSeconds) { return UtcText(unixSeconds, true); }

std::string UtcFileStamp(int64_t unixSeconds) { return UtcText(unixSeconds, false); }

std::string FormatBackupFile(const RegisterImage &image, const std::string &savedAtUtc)
{
    const uint16_t version = image.FirmwareVersion();
    const uint16_t type = image.FirmwareType();

    std::string text = "# ZYR converter registers. Only the rows and the CRC are read back; the lines above them "
                       "are for people.\n";
    text += std::string(backupFormatLine) + "\n";
    text += "saved = " + savedAtUtc + "\n";
    text += "firmware = " + FirmwareValueText(version) + "\n";
    text += "type = " + TypeValueText(type) + "\n";
    text += "speed adjustment = " + SpeedAdjustText(image.SpeedAdjust()) + "\n";
    text += "speed sensor = " + SensorText(type, image.SpeedSensorCode()) + "\n";
    text += "active table = " + ActiveTableText(image.ActiveTable()) + "\n";
    text += FormatRegisterRows(image.bytes);
    text += "crc32 = " + HexDigits(Crc32(image.bytes, imageSize), 8) + "\n";
    return text;
}

Result ParseBackupFile(const std::string &text, BackupFile &out, BackupError &kind)
{
    if (text.size() > maxBackupFileSize)
        return Refused(BackupError::UnknownFormat,
                       "the file is " + std::to_string(text.size()) +
                           " bytes long, far more than a backup file: not a "
                           "zyr backup file",
                       kind);
    BackupFile file;
    bool sawFormat = false, sawCrc = false;
    uint32_t storedCrc = 0;
    unsigned rowsRead = 0;

    size_t lineNumber = 0;
    size_t start = 0;
    // A UTF-8 byte-order mark, as some editors save one, is not content.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        start = 3;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string trimmed = TrimBlanks(line);
        if (trimmed.empty() || trimmed[0] == '#')
            continue;

        const size_t equals = trimmed.find('=');
        const bool isRow = trimmed.size() >= 3 && trimmed[2] == ':' && equals == std::string::npos;
        if (!sawFormat) {
            if (equals != std::string::npos && TrimBlanks(trimmed.substr(0, equals)) == "format") {
                const std::string value = TrimBlanks(trimmed.substr(equals + 1));
                if (value == "zyr-backup 1") {
                    sawFormat = true;
                    continue;
                }
                const std::string unknown = value.rfind("zyr-backup ", 0) == 0
                                                ? "format version \"" + ShownInMessage(value.substr(11))
                                                : "format \"" + ShownInMessage(value);
                return Refused(BackupError::UnknownFormat,
                               AtLine(lineNumber) + unknown + "\" is not known; this program reads zyr-backup 1", kind);
            }
            return Refused(BackupError::UnknownFormat,
                           AtLine(lineNumber) + "\"" + ShownInMessage(trimmed) + "\" comes before the line \"" +
                               backupFormatLine + "\": not a zyr backup file",
                           kind);
        }
        if (isRow) {
            if (sawCrc)
                return Refused(BackupError::BadLayout, AtLine(lineNumber) + "a row after the crc32 line", kind);
            unsigned offset = 0;
            uint8_t bytes[bytesPerRow];
            const Result read = ParseRegisterRow(trimmed, offset, bytes);
            if (!read)
                return Refused(BackupError::BadLayout, AtLine(lineNumber) + read.Message(), kind);
            if (rowsRead == rows)
                return Refused(BackupError::BadLayout, AtLine(lineNumber) + "a row beyond the 16 rows of 256 registers",
                               kind);
            const unsigned expected = rowsRead * bytesPerRow;
            if (offset != expected) {
                char problemText[128];
                std::snprintf(problemText, sizeof problemText,
                              "the row for offset %02X is where the row for offset %02X belongs "
                              "(rows missing, repeated or out of order)",
                              offset, expected);
                return Refused(BackupError::BadLayout, AtLine(lineNumber) + problemText, kind);
            }
            for (unsigned i = 0; i < bytesPerRow; ++i)
                file.image.bytes[offset + i] = bytes[i];
            ++rowsRead;
            continue;
        }
        if (equals == std::string::npos)
            return Refused(BackupError::BadLayout,
                           AtLine(lineNumber) + "\"" + ShownInMessage(trimmed) +
                               "\" is neither a setting, a row nor a comment",
                           kind);
        const std::string key = TrimBlanks(trimmed.substr(0, equals));
        const std::string value = TrimBlanks(trimmed.substr(equals + 1));
        if (key == "format")
            return Refused(BackupError::BadLayout, AtLine(lineNumber) + "a second format line", kind);
        if (key == "crc32") {
            if (sawCrc)
                return Refused(BackupError::BadLayout, AtLine(lineNumber) + "a second crc32 line", kind);
            if (!ParseCrc(value, storedCrc))
                return Refused(BackupError::BadLayout,
                               AtLine(lineNumber) + "the CRC-32 \"" + ShownInMessage(value) + "\" is not 8 hex digits",
                               kind);
            if (rowsRead != rows)
                return Refused(BackupError::BadLayout,
                               AtLine(lineNumber) + "the crc32 line follows " + std::to_string(rowsRead) +
                                   " rows; a backup holds 16 rows of 16 bytes",
                               kind);
            sawCrc = true;
            continue;
        }
        if (key == "saved")
            file.savedAt = value;
        // The other settings lines are information for people: the rows decide.
    }

    if (!sawFormat)
        return Refused(BackupError::UnknownFormat,
                       std::string("the file has no line \"") + backupFormatLine + "\": not a zyr backup file", kind);
    if (rowsRead != rows)
        return Refused(BackupError::BadLayout,
                       "the file holds " + std::to_string(rowsRead) + " rows; a backup holds 16 rows of 16 bytes",
                       kind);
    if (!sawCrc)
        return Refused(BackupError::BadLayout, "the file has no crc32 line after its rows", kind);
    const uint32_t actual = Crc32(file.image.bytes, imageSize);
    if (actual != storedCrc)
        return Refused(BackupError::CrcMismatch,
                       "the CRC-32 in the file is " + HexDigits(storedCrc, 8) + " but its bytes give " +
                           HexDigits(actual, 8) + ": the file was changed or damaged",
                       kind);
    out = file;
    kind = BackupError::None;
    return Result::Success();
}

Result ParseBackupFile(const std::string &text, BackupFile &out)
{
    BackupError kind = BackupError::None;
    return ParseBackupFile(text, out, kind);
}
