#include "settings/backup_file.h"
#include "config/default_images.h"
#include "tests/support/core_checks.h"

#include <doctest.h>

#include <cstring>
#include <functional>
#include <string>

namespace {

const char *const savedAt = "2026-12-08T10:15:00Z";

std::string DefaultFile() { return FormatBackupFile(FactoryImage(12300, 2), savedAt); }

std::string Replace(std::string text, const std::string &from, const std::string &to)
{
    const size_t at = text.find(from);
    REQUIRE(at != std::string::npos);
    return text.replace(at, from.size(), to);
}

// The row of the file that starts with `prefix`, with its line end.
std::string Row(const std::string &text, const std::string &prefix)
{
    const size_t at = text.find("\n" + prefix) + 1;
    return text.substr(at, text.find('\n', at) + 1 - at);
}

}  // namespace

TEST_CASE("CRC-32 is the zlib one")
{
    const char *check = "123456789";
    CHECK(Crc32(reinterpret_cast<const uint8_t *>(check), std::strlen(check)) == 0xCBF43926u);
    CHECK(Crc32(nullptr, 0) == 0u);
}

TEST_CASE("times are UTC ISO 8601, and a stamp fit for a file name")
{
    struct Row {
        int64_t seconds;
        const char *iso;
        const char *stamp;
    } rows[] = {
        {0, "1970-01-01T00:00:00Z", "19700101T000000Z"},
        {951782400, "2000-02-29T00:00:00Z", "20000229T000000Z"},
        {1796724900, "2026-12-08T10:15:00Z", "20261208T101500Z"},
        {4102444799, "2099-12-31T23:59:59Z", "20991231T235959Z"},
    };
    for (const Row &row : rows) {
        CHECK(IsoUtcTime(row.seconds) == row.iso);
        CHECK(UtcFileStamp(row.seconds) == row.stamp);
    }
}

TEST_CASE("every default image survives a backup file, with either line end and a byte-order mark")
{
    ForEachFactoryDefault([](uint16_t version, uint16_t type) {
        RegisterImage image = FactoryImage(version, type);
        image.SetWord(layout::speedAdjust, 0x8019);  // a value of every byte position
        image.SetByte(255, 0x5A);
        const std::string text = FormatBackupFile(image, savedAt);
        CHECK(text.find("\nformat = zyr-backup 1\n") != std::string::npos);
        CHECK(text.find("\nfirmware = " + std::to_string(version)) != std::string::npos);

        std::string crlf;
        for (char c : text)
            crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        for (const std::string &variant : {text, crlf, "\xEF\xBB\xBF" + crlf}) {
            BackupFile file;
            BackupError kind = BackupError::UnknownFormat;
            const Result read = ParseBackupFile(variant, file, kind);
            REQUIRE(kind == BackupError::None);
            CHECK(read.Message().empty());
            CHECK(std::memcmp(file.image.bytes, image.bytes, imageSize) == 0);
            CHECK(file.savedAt == savedAt);
        }
    });
}

TEST_CASE("the information lines are not trusted: the rows decide")
{
    const std::string text = Replace(Replace(DefaultFile(), "firmware = 12300 (1.23.00)", "firmware = 10005 (1.00.05)"),
                                     "speed adjustment = 0.0 %", "speed adjustment = 25.0 %");
    BackupFile file;
    REQUIRE(ParseBackupFile(text, file).Ok());
    CHECK(file.image.FirmwareVersion() == 12300);
    CHECK(file.image.SpeedAdjust() == 0);
}

TEST_CASE("a damaged or foreign file is refused with its cause, and nothing is read")
{
    const std::string good = DefaultFile();
    const std::string row00 = Row(good, "00:"), row10 = Row(good, "10:"), rowF0 = Row(good, "F0:");
    const std::string crcLine = Row(good, "crc32 = ");
    const std::string crc = crcLine.substr(8, 8);
    std::string otherCrc = crc;
    otherCrc[7] = otherCrc[7] == '0' ? '1' : '0';
    struct Case {
        const char *what;
        std::function<std::string()> text;
        BackupError error;
        const char *words;
    } cases[] = {
        {"empty", [] { return std::string(); }, BackupError::UnknownFormat, "not a zyr backup file"},
        {"another program's file", [] { return std::string("[settings]\nspeed=3\n"); }, BackupError::UnknownFormat,
         "line 1: "},
        {"a later version", [&] { return Replace(good, "zyr-backup 1", "zyr-backup 2"); }, BackupError::UnknownFormat,
         "format version \"2\" is not known"},
        {"another format", [&] { return Replace(good, "zyr-backup 1", "zyx-dump 1"); }, BackupError::UnknownFormat,
         "format \"zyx-dump 1\" is not known"},
        {"far too large", [&] { return good + std::string(maxBackupFileSize, '#'); }, BackupError::UnknownFormat,
         "far more than a backup file"},
        {"a row missing", [&] { return Replace(good, row10, ""); }, BackupError::BadLayout,
         "line 10: the row for offset 20 is where the row for offset 10 belongs"},
        {"a row repeated", [&] { return Replace(good, row10, row10 + row10); }, BackupError::BadLayout,
         "line 11: the row for offset 10 is where the row for offset 20 belongs"},
        {"rows swapped", [&] { return Replace(good, row00 + row10, row10 + row00); }, BackupError::BadLayout,
         "line 9:"},
        {"a 17th row", [&] { return Replace(good, rowF0, rowF0 + rowF0); }, BackupError::BadLayout,
         "line 25: a row beyond the 16 rows"},
        {"bad hex", [&] { return Replace(good, "00: 00 0C", "00: 0G 0C"); }, BackupError::BadLayout,
         "line 9: \"0G\" is not a byte in two hex digits"},
        {"an extra byte", [&] { return Replace(good, "00: 00 0C", "00: 00 00 0C"); }, BackupError::BadLayout,
         "line 9: the row holds more than 16 bytes"},
        {"a byte short", [&] { return Replace(good, "00: 00 0C", "00: 0C"); }, BackupError::BadLayout,
         "line 9: the row holds 15 bytes, not 16"},
        {"a mangled offset", [&] { return Replace(good, "10: ", "0x10: "); }, BackupError::BadLayout,
         "line 10: \"0x10:"},
        {"no CRC line", [&] { return good.substr(0, good.find("crc32")); }, BackupError::BadLayout, "no crc32 line"},
        {"a CRC that is not hex", [&] { return Replace(good, crcLine, "crc32 = " + crc.substr(1) + "\n"); },
         BackupError::BadLayout, "line 25: the CRC-32"},
        {"a changed CRC", [&] { return Replace(good, crcLine, "crc32 = " + otherCrc + "\n"); },
         BackupError::CrcMismatch, "the file was changed or damaged"},
        {"a changed byte", [&] { return Replace(good, "00: 00 0C 30 02 00 00 00", "00: 00 0C 30 02 00 00 FA"); },
         BackupError::CrcMismatch, "but its bytes give"},
    };
    for (const Case &c : cases) {
        const std::string whatShown = c.what;
        CAPTURE(whatShown);
        BackupFile file;
        file.savedAt = "untouched";
        BackupError kind = BackupError::None;
        const Result read = ParseBackupFile(c.text(), file, kind);
        CHECK(kind == c.error);
        CHECK_MESSAGE(read.Message().find(c.words) != std::string::npos, read.Message());
        CHECK(file.savedAt == "untouched");
    }
}
