#include "settings/speed_text.h"

#include "config/c_locale_chars.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

// "Times 10 in double precision" must mean that on every thread: with x87
// excess precision the product would depend on the thread's precision
// control, and one-decimal texts would come out a tenth short on some.
static_assert(FLT_EVAL_METHOD == 0, "doubles must be evaluated as doubles: build 32-bit x86 with -msse2 -mfpmath=sse");

namespace {

bool StartsWithNoCase(const char *text, const char *word)
{
    for (; *word; ++text, ++word) {
        char c = *text;
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != *word)
            return false;
    }
    return true;
}

// Length of the decimal number at the start of `text` (sign, digits with an
// optional point, an optional exponent), 0 when there is none. The grammar
// is the plain decimal one of atof; the words and hexadecimal forms that
// some runtimes' atof also take are left out, so the result is the same
// with every runtime.
size_t DecimalPrefix(const char *text)
{
    size_t i = 0;
    if (text[i] == '+' || text[i] == '-')
        ++i;
    size_t digits = 0;
    const auto skipDigits = [&] {
        for (; IsDigit(text[i]); ++i)
            ++digits;
    };
    skipDigits();
    if (text[i] == '.') {
        ++i;
        skipDigits();
    }
    if (digits == 0)
        return 0;
    if (text[i] == 'e' || text[i] == 'E') {
        size_t e = i + 1;
        if (text[e] == '+' || text[e] == '-')
            ++e;
        if (IsDigit(text[e])) {
            while (IsDigit(text[e]))
                ++e;
            i = e;
        }
    }
    return i;
}

}  // namespace

std::string TenthsText(unsigned tenths)
{
    return std::to_string(tenths / 10) + '.' + static_cast<char>('0' + tenths % 10);
}

void FormatSpeedAdjust(uint16_t word, char *out, size_t size)
{
    if (!out || size == 0)
        return;
    const unsigned magnitude = word & speedMagnitudeMask;
    const bool negative = (word & speedSignBit) && magnitude != 0;
    const std::string text = (negative ? "-" : "") + TenthsText(magnitude);
    std::strncpy(out, text.c_str(), size - 1);
    out[size - 1] = '\0';
}

bool ParseSpeedAdjust(const char *text, int &tenths)
{
    if (!text)
        text = "";
    while (IsSpace(*text))
        ++text;

    // Infinity and NaN are not a speed adjustment, whichever way written.
    const char *word = text + ((*text == '+' || *text == '-') ? 1 : 0);
    if (StartsWithNoCase(word, "inf") || StartsWithNoCase(word, "nan"))
        return false;

    const size_t length = DecimalPrefix(text);
    double value = 0.0;  // no number reads as 0, as with atof
    if (length > 0) {
        std::string number(text, length);
        value = std::strtod(number.c_str(), nullptr);
    }
    // Compared in floating point before any conversion to an integer, so a
    // huge or non-finite value never reaches an undefined conversion.
    const double scaled = std::trunc(value * 10.0);
    if (!(scaled >= -speedAdjustLimit && scaled <= speedAdjustLimit))
        return false;
    tenths = static_cast<int>(scaled);
    return true;
}

uint16_t EncodeSpeedAdjust(int tenths)
{
    if (tenths >= 0)
        return static_cast<uint16_t>(static_cast<unsigned>(tenths) & speedMagnitudeMask);
    // Unsigned negation: defined for every int, though callers pass -250..-1.
    const unsigned magnitude = 0u - static_cast<unsigned>(tenths);
    return static_cast<uint16_t>(speedSignBit | (magnitude & speedMagnitudeMask));
}

int DecodeSpeedAdjust(uint16_t word)
{
    const int magnitude = word & speedMagnitudeMask;
    return (word & speedSignBit) ? -magnitude : magnitude;
}
