// The speed adjustment as a command line gives it: a plain decimal number of
// percent, in the dialog's range and steps. Portable: no Windows here.
#pragma once

#include "base/result.h"

#include <string>

// "+3.5", "-25", "0.0", "3.50", "2.5%": tenths of a percent, the same the
// dialog stores for that text, computed from the digits without floating
// point. Refused with a message: anything but an
// optional sign, digits, an optional decimal point with digits and an
// optional "%"; digits beyond the tenths that are not zero (the converter
// stores steps of 0.1); a value outside -25.0..25.0.
Result ParseSpeedSetting(const std::string &text, int &tenths);

// Tenths as a signed percentage: 4 gives "+0.4 %", -86 "-8.6 %", 0 "0.0 %".
std::string SpeedSettingText(int tenths);
