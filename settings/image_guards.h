// What a restore or a set must refuse before it writes a converter, and the
// changes a set makes to an image. Portable: no Windows here.
#pragma once

#include "base/result.h"
#include "config/config_image.h"

#include <cstdint>
#include <string>
#include <vector>

// A sentence naming the difference when the firmware version or the type
// (registers 1-4) of `file` differs from the converter's; empty when they match.
std::string IdentityMismatch(const RegisterImage &file, const RegisterImage &device);

// One sentence for each value the dialog could never have stored: a firmware
// or type that Read Device refuses; a speed magnitude over 250; zero stored
// as 0x8000; a speed-sensor code other than 33233, 367 or 0; an active table
// other than 93, 12, 203 or 122, a 5V table on firmware 10005, or wiring that
// does not go with the active table; a table of the firmware whose count is
// not 7 or 20, whose entries run past byte 255, or whose voltages break the
// editor's rules (first 4000, strictly falling, 0..4000). Empty for every
// factory default image.
std::vector<std::string> ImplausibleValues(const RegisterImage &image);

// A sentence when the active table is a 5V table and the firmware is not
// 12300, which lacks that table choice; empty otherwise. This one is refused
// whatever the caller's force option; ImplausibleValues names it too.
std::string MissingTableChoice(const RegisterImage &image);

// Applies one "name=value" assignment as the dialog's controls would:
//   speed=+3.5    the speed adjustment, -25.0..25.0 in tenths;
//   sensor=NAME   a speed-sensor name of the unit's type;
//   table=NAME    ap1-res, ap2-res, ap1-5v or ap2-5v: the active table and
//                 the wiring that goes with it (5V tables only on 12300;
//                 no table choice on a VSS unit).
// Refused with a message, and the image unchanged, on anything else. To apply
// several all-or-nothing, apply them to a copy.
Result ApplySetting(RegisterImage &image, const std::string &assignment);

// The registers a write sends to change `device` into `target`: 5 to 255
// only (never the version and type), all of them with `all`, otherwise just
// those that differ. Ascending.
std::vector<uint8_t> RegistersToWrite(const RegisterImage &device, const RegisterImage &target, bool all);

// The registers, 0 to 255, whose bytes differ between two images. Ascending.
std::vector<uint8_t> DifferingRegisters(const RegisterImage &a, const RegisterImage &b);
