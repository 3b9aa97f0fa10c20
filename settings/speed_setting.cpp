#include "settings/speed_setting.h"

#include "settings/speed_text.h"
#include "config/c_locale_chars.h"

namespace {}  // namespace

Result ParseSpeedSetting(const std::string &text, int &tenths)
{
    // A script must not have a typing error stored as 0 (as the dialog's atof
    // would), so the whole text has to be a number.
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    size_t intDigits = 0;
    while (i < text.size() && IsDigit(text[i])) {
        ++i;
        ++intDigits;
    }
    size_t fracStart = i, fracDigits = 0;
    if (i < text.size() && text[i] == '.') {
        ++i;
        fracStart = i;
        while (i < text.size() && IsDigit(text[i])) {
            ++i;
            ++fracDigits;
        }
    }
    if (i < text.size() && text[i] == '%')
        ++i;
    if (intDigits + fracDigits == 0 || i != text.size())
        return Result::Fail("speed adjustment \"" + text + "\" is not a number of percent such as +3.5");
    for (size_t d = 1; d < fracDigits; ++d) {
        if (text[fracStart + d] != '0')
            return Result::Fail("speed adjustment " + text +
                                " has more than one decimal: the converter takes steps of 0.1 %");
    }
    // Tenths from the digits themselves: the value is exact whatever the
    // processor's floating-point precision, and equals what the dialog's
    // conversion stores for the same one-decimal text.
    const bool negative = text[0] == '-';
    const size_t firstDigit = (text[0] == '+' || negative) ? 1 : 0;
    long value = 0;
    bool outOfRange = false;
    for (size_t d = firstDigit; d < firstDigit + intDigits && !outOfRange; ++d) {
        value = value * 10 + (text[d] - '0');
        outOfRange = value > speedAdjustLimit;
    }
    value = value * 10 + (fracDigits > 0 ? text[fracStart] - '0' : 0);
    if (negative)
        value = -value;
    if (outOfRange || value < -speedAdjustLimit || value > speedAdjustLimit)
        return Result::Fail("speed adjustment " + text + " is out of range: it must lie from -25.0 to 25.0");
    tenths = static_cast<int>(value);
    return Result::Success();
}

std::string SpeedSettingText(int tenths)
{
    const bool negative = tenths < 0;
    const unsigned magnitude = negative ? 0u - static_cast<unsigned>(tenths) : static_cast<unsigned>(tenths);
    return (magnitude == 0 ? "" : (negative ? "-" : "+")) + TenthsText(magnitude) + " %";
}
