#include "device/broadcast_name.h"

#include <doctest.h>

#include <string>
#include <vector>

namespace {

// The name field as a system would fill it: ANSI bytes, or UTF-16 units
// (little-endian), with its NUL, and `slack` bytes of padding after it.
std::vector<char> Field(const std::u16string &text, bool wide, size_t slack = 0)
{
    std::vector<char> bytes;
    for (char16_t c : text) {
        if (wide) {
            bytes.push_back(static_cast<char>(c & 0xFF));
            bytes.push_back(static_cast<char>(c >> 8));
        } else {
            bytes.push_back(static_cast<char>(c));
        }
    }
    bytes.insert(bytes.end(), wide ? 2 : 1, '\0');
    bytes.insert(bytes.end(), slack, 'x');
    return bytes;
}

}  // namespace

TEST_CASE("A broadcast's interface path reads the same in ANSI and in UTF-16, and never past its field")
{
    const std::u16string path = u"\\\\?\\hid#vid_16c0&pid_03e8#0&2#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    const std::string expected = "\\\\?\\hid#vid_16c0&pid_03e8#0&2#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    struct Row {
        const char *what;
        std::vector<char> field;
        size_t bytes;  // of the field the record's size claims
        std::string read;
    };
    std::vector<char> ansi = Field(path, false), wide = Field(path, true), padded = Field(path, true, 3);
    std::vector<char> foreign = Field(u"\\\\?\\h\u00e9d", true);
    std::vector<char> unended = {'\\', '\\', '?', '\\', 'a', 'b'};
    std::vector<char> wideUnended = {'\\', 0, '\\', 0, '?', 0};
    const Row rows[] = {
        {"ANSI, as Windows gives an ANSI window", ansi, ansi.size(), expected},
        {"UTF-16, as Wine 8.0 gives it", wide, wide.size(), expected},
        {"UTF-16 with padding after its NUL", padded, padded.size(), expected},
        {"UTF-16 outside ASCII", foreign, foreign.size(), "\\\\?\\h?d"},
        {"ANSI without a NUL in its field", unended, unended.size(), "\\\\?\\ab"},
        {"UTF-16 without a NUL, odd byte left over", wideUnended, 5, "\\\\"},
        {"ANSI cut short by its size", ansi, 4, "\\\\?\\"},
        {"an empty field", ansi, 0, ""},
    };
    for (const Row &row : rows) {
        CAPTURE(row.what);
        CHECK(BroadcastInterfaceName(row.field.data(), row.bytes) == row.read);
    }
    CHECK(BroadcastInterfaceName(nullptr, 10).empty());
}
