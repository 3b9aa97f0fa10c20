// Windows file names longer than MAX_PATH: the wide file functions take
// them only as full paths with the "\\?\" prefix, which also turns off the
// system's own rewriting of the name (no "..", no "/" then). Portable: the
// caller makes the full path (GetFullPathNameW) and this only spells it.
#pragma once

#include <string>

// The classic limit, counting the terminating zero: a full path of this
// many characters or more needs the prefix.
constexpr size_t classicPathLimit = 260;

// `fullPath` (as GetFullPathNameW gives it: "C:\dir\file" or
// "\\server\share\file") in its extended-length form, "\\?\C:\dir\file" or
// "\\?\UNC\server\share\file". A name that is already extended or a device
// name ("\\.\NUL") is returned as it is, and so is anything that is not a
// full path.
std::wstring ExtendedLengthPath(const std::wstring &fullPath);
