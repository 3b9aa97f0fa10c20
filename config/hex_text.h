// Hexadecimal as the programs write and read it: upper-case digits, bytes
// as two digits. Portable: no Windows here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The value of one hex digit, either case; -1 for any other character.
int HexDigit(char c);

// A value in as many digits as it needs, and at least `width`, zeros in
// front: 0x2F with width 4 gives "002F", 0x100 with width 2 "100".
std::string HexDigits(uint32_t value, unsigned width);

// A byte as two digits ("0C"); only the low eight bits count.
std::string Hex2(unsigned value);

// Bytes as two digits each, one blank between them ("01 AB 00").
std::string HexBytes(const uint8_t *bytes, size_t count);

// A number as "0x" and as many digits as it needs ("0x2F", "0x0").
std::string HexNumber(unsigned value);
