#include "cli/speed_setting.h"

#include "app/speed_text.h"

#include <cstdlib>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

bool ParseSpeedSetting(const std::string &text, int &tenths, std::string &message)
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
    const size_t numberEnd = i;
    if (i < text.size() && text[i] == '%')
        ++i;
    if (intDigits + fracDigits == 0 || i != text.size()) {
        message = "speed adjustment \"" + text + "\" is not a number of percent such as +3.5";
        return false;
    }
    for (size_t d = 1; d < fracDigits; ++d) {
        if (text[fracStart + d] != '0') {
            message = "speed adjustment " + text + " has more than one decimal: the converter takes steps of 0.1 %";
            return false;
        }
    }
    // Leading zeros cannot change the value but could hide it past the
    // range test below; the dialog's conversion then gives exact tenths.
    size_t firstDigit = (text[0] == '+' || text[0] == '-') ? 1 : 0;
    size_t significant = 0;
    for (size_t d = firstDigit; d < firstDigit + intDigits; ++d)
        if (text[d] != '0' || significant > 0)
            ++significant;
    int value = 0;
    if (significant > 3 || !ParseSpeedAdjust(text.substr(0, numberEnd).c_str(), value)) {
        message = "speed adjustment " + text + " is out of range: it must lie from -25.0 to 25.0";
        return false;
    }
    tenths = value;
    return true;
}

std::string SpeedSettingText(int tenths)
{
    const bool negative = tenths < 0;
    const unsigned magnitude = negative ? 0u - static_cast<unsigned>(tenths) : static_cast<unsigned>(tenths);
    std::string text = magnitude == 0 ? "" : (negative ? "-" : "+");
    text += std::to_string(magnitude / 10);
    text += '.';
    text += static_cast<char>('0' + magnitude % 10);
    return text + " %";
}
