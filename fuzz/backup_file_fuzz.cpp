// Fuzz target: the backup-file reader. Beyond the sanitizers, a refusal must
// come with a message and leave the result untouched, and a file that is
// accepted must format again to a file that reads back to the same bytes.
#include "settings/backup_file.h"
#include "fuzz/fuzz_require.h"

#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    BackupFile file;
    file.image.Erase();
    file.savedAt = "untouched";
    const Result read = ParseBackupFile(text, file);
    if (!read) {
        Require(!read.Message().empty());
        Require(file.savedAt == "untouched");
        for (uint8_t byte : file.image.bytes)
            Require(byte == erasedByte);
        return 0;
    }
    Require(read.Message().empty());
    Require(file.savedAt.find('\n') == std::string::npos);

    const std::string again = FormatBackupFile(file.image, file.savedAt);
    BackupFile reread;
    Require(ParseBackupFile(again, reread).Ok());
    Require(std::memcmp(reread.image.bytes, file.image.bytes, imageSize) == 0);
    return 0;
}
