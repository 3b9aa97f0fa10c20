#include "settings/extended_path.h"

#include <doctest.h>

#include <string>

TEST_CASE("a full path's extended-length form, for names beyond the classic limit")
{
    struct Row {
        const wchar_t *full;
        const wchar_t *extended;
    };
    const Row rows[] = {
        {L"C:\\Users\\José\\b.zyr", L"\\\\?\\C:\\Users\\José\\b.zyr"},
        {L"z:\\tmp\\日本語\\b.zyr", L"\\\\?\\z:\\tmp\\日本語\\b.zyr"},
        {L"C:\\", L"\\\\?\\C:\\"},
        {L"\\\\server\\share\\Ελληνικά\\b.zyr", L"\\\\?\\UNC\\server\\share\\Ελληνικά\\b.zyr"},
        // Already extended, or a device: as it is.
        {L"\\\\?\\C:\\a\\b.zyr", L"\\\\?\\C:\\a\\b.zyr"},
        {L"\\\\?\\UNC\\server\\share\\b", L"\\\\?\\UNC\\server\\share\\b"},
        {L"\\\\.\\NUL", L"\\\\.\\NUL"},
        {L"\\\\.\\COM1", L"\\\\.\\COM1"},
        // Not full paths: nothing to put a prefix on.
        {L"b.zyr", L"b.zyr"},
        {L"..\\b.zyr", L"..\\b.zyr"},
        {L"C:b.zyr", L"C:b.zyr"},
        {L"\\b.zyr", L"\\b.zyr"},
        {L"\\\\\\b.zyr", L"\\\\\\b.zyr"},
        {L"", L""},
    };
    for (const Row &row : rows) {
        CAPTURE(std::wstring(row.full).size());
        CHECK(ExtendedLengthPath(row.full) == row.extended);
    }
}
