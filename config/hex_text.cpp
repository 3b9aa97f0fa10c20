#include "config/hex_text.h"

namespace {

const char digits[] = "0123456789ABCDEF";

}  // namespace

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string HexDigits(uint32_t value, unsigned width)
{
    std::string text;
    for (; value || text.size() < width; value >>= 4)
        text.insert(text.begin(), digits[value & 0xFu]);
    return text;
}

std::string Hex2(unsigned value) { return HexDigits(value & 0xFFu, 2); }

std::string HexBytes(const uint8_t *bytes, size_t count)
{
    std::string text;
    text.reserve(count * 3);
    for (size_t i = 0; i < count; ++i) {
        if (i)
            text += ' ';
        text += Hex2(bytes[i]);
    }
    return text;
}

std::string HexNumber(unsigned value) { return "0x" + HexDigits(value, 1); }
