// The interface path in the name field of a device-change broadcast.
#pragma once

#include <cstddef>
#include <string>

// `name` is the record's name field and `bytes` its length as the record's
// size gives it. Windows hands a window made with the ANSI calls the name in
// ANSI; Wine 8.0 hands it in UTF-16 all the same. An interface path never
// holds a NUL as its second character, so one there marks UTF-16; then
// each character outside ASCII becomes '?', which matches no path we keep.
// Stops at the first NUL, or at the end of the field when none ends it.
std::string BroadcastInterfaceName(const char *name, size_t bytes);
