#include "config/register_rows.h"

#include "config/hex_text.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string TrimBlanks(const std::string &text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::string ShownInMessage(const std::string &text)
{
    std::string shown;
    for (char c : text.substr(0, 40))
        shown += (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) ? '?' : c;
    return text.size() > 40 ? shown + "..." : shown;
}

std::string FormatRegisterRows(const uint8_t (&registers)[256])
{
    std::string text;
    for (unsigned row = 0; row < 256 / registerRowBytes; ++row)
        text +=
            Hex2(row * registerRowBytes) + ": " + HexBytes(&registers[row * registerRowBytes], registerRowBytes) + "\n";
    return text;
}

Result ParseRegisterRow(const std::string &row, unsigned &offset, uint8_t (&bytes)[registerRowBytes])
{
    if (row.size() < 3 || HexDigit(row[0]) < 0 || HexDigit(row[1]) < 0 || row[2] != ':')
        return Result::Fail("a row must start with its offset in two hex digits and a colon");
    size_t at = 3;
    unsigned count = 0;
    uint8_t parsed[registerRowBytes];
    while (true) {
        while (at < row.size() && IsBlank(row[at]))
            ++at;
        if (at == row.size())
            break;
        size_t end = at;
        while (end < row.size() && !IsBlank(row[end]))
            ++end;
        // Two hex digits exactly: a sign or a radix prefix is not a byte.
        if (end - at != 2 || HexDigit(row[at]) < 0 || HexDigit(row[at + 1]) < 0)
            return Result::Fail("\"" + ShownInMessage(row.substr(at, end - at)) + "\" is not a byte in two hex digits");
        if (count == registerRowBytes)
            return Result::Fail("the row holds more than 16 bytes");
        parsed[count++] = static_cast<uint8_t>(HexDigit(row[at]) * 16 + HexDigit(row[at + 1]));
        at = end;
    }
    if (count != registerRowBytes)
        return Result::Fail("the row holds " + std::to_string(count) + " bytes, not 16");
    offset = static_cast<unsigned>(HexDigit(row[0]) * 16 + HexDigit(row[1]));
    for (unsigned i = 0; i < registerRowBytes; ++i)
        bytes[i] = parsed[i];
    return Result::Success();
}

Result RegistersFromRows(const std::string &text, uint8_t (&registers)[256])
{
    uint8_t found[256] = {};
    bool seen[256 / registerRowBytes] = {};
    unsigned rows = 0;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(begin, end - begin);
        begin = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        unsigned offset = 0;
        uint8_t bytes[registerRowBytes];
        if (!ParseRegisterRow(TrimBlanks(line), offset, bytes))
            continue;
        if (offset % registerRowBytes != 0 || seen[offset / registerRowBytes])
            return Result::Fail("the row \"" + ShownInMessage(TrimBlanks(line)) + "\" is out of place or repeated");
        seen[offset / registerRowBytes] = true;
        for (unsigned i = 0; i < registerRowBytes; ++i)
            found[offset + i] = bytes[i];
        ++rows;
    }
    if (rows != 256 / registerRowBytes)
        return Result::Fail("it holds " + std::to_string(rows) + " of the 16 register rows");
    for (unsigned i = 0; i < 256; ++i)
        registers[i] = found[i];
    return Result::Success();
}
