// The backup file: the converter's 256 registers as text a person can read,
// mail and diff, with a CRC-32 so the program can tell a damaged or edited
// file from a good one. Only the format line, the 16 hex rows and the CRC
// line count; the informational lines are written for people and never
// trusted. Portable: no Windows here.
#pragma once

#include "base/result.h"
#include "config/config_image.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The format line every backup file carries.
constexpr const char *backupFormatLine = "format = zyr-backup 1";
// Larger inputs are refused before they are read line by line.
constexpr size_t maxBackupFileSize = 64 * 1024;

// CRC-32 as zlib computes it (reflected polynomial 0xEDB88320, initial and
// final value 0xFFFFFFFF).
uint32_t Crc32(const uint8_t *data, size_t size);

// Seconds since 1970-01-01 00:00:00 UTC as "2026-12-08T10:15:00Z", and as a
// stamp that fits in a Windows file name, "20261208T101500Z".
std::string IsoUtcTime(int64_t unixSeconds);
std::string UtcFileStamp(int64_t unixSeconds);

// The whole file, "\n" line ends: a comment line, the format line, "saved =",
// firmware, type, speed adjustment, speed sensor and active table as
// information, 16 rows "00: xx xx ... xx" to "F0: ...", and "crc32 = XXXXXXXX".
std::string FormatBackupFile(const RegisterImage &image, const std::string &savedAtUtc);

struct BackupFile {
    RegisterImage image;
    std::string savedAt;  // as written in the file, not checked
};

// Which kind of refusal a file met, for a caller that treats them apart.
enum class BackupError {
    None,
    UnknownFormat,  // no format line, another format, or another version
    BadLayout,  // anything but 16 rows of 16 bytes in order, bad hex, no CRC line
    CrcMismatch,  // "the file was changed or damaged"
};

// Reads a backup file ("\n" or "\r\n" line ends). On success `out` holds the
// image and the saved time; otherwise `out` is unchanged and the result names
// the cause in words, with the line number where there is one, and `kind`
// which of the kinds above it is (None on success).
Result ParseBackupFile(const std::string &text, BackupFile &out, BackupError &kind);
// The same for a caller that needs only the words.
Result ParseBackupFile(const std::string &text, BackupFile &out);
