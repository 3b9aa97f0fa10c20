// Fuzz target: the speed-adjustment text as the edit hands it over (at most
// nine characters). An accepted value lies in -250..250 tenths, and showing
// it and reading the shown text back gives the same tenths.
#include "settings/speed_text.h"
#include "fuzz/fuzz_require.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    char text[10] = {};
    std::memcpy(text, data, size < 9 ? size : 9);
    int tenths = 0x7FFF;
    if (!ParseSpeedAdjust(text, tenths))
        return 0;
    Require(tenths >= -speedAdjustLimit && tenths <= speedAdjustLimit);

    const uint16_t word = EncodeSpeedAdjust(tenths);
    Require(tenths != 0 || word == 0);  // zero is never stored as 0x8000
    char shown[32] = {};
    FormatSpeedAdjust(word, shown, sizeof shown);
    int again = 0x7FFF;
    Require(ParseSpeedAdjust(shown, again));
    Require(again == tenths);
    return 0;
}
