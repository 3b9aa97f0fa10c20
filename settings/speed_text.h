// The speed adjustment as text and as the image's sign-and-magnitude word.
// Portable: no Windows here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int speedAdjustLimit = 250;  // tenths of a percent either way

// The image word: bit 15 the sign, the low 15 bits the magnitude in tenths.
constexpr uint16_t speedSignBit = 0x8000;
constexpr uint16_t speedMagnitudeMask = 0x7FFF;

// Tenths without a sign as "12.5": exactly what "%.1f" of tenths / 10 shows.
std::string TenthsText(unsigned tenths);

// The image word as the edit shows it: magnitude / 10 with "%.1f", negated
// when bit 15 is set ("0.0" for a zero magnitude whatever the sign bit).
void FormatSpeedAdjust(uint16_t word, char *out, size_t size);

// The edit's text (already cut to the control's first 9 characters) as
// tenths: atof, times 10 in double precision, truncated toward zero.
// False when the value is outside -250..250, not a number or infinite.
bool ParseSpeedAdjust(const char *text, int &tenths);

// Tenths in -250..250 as the image word: 0x8000 plus the magnitude when negative.
uint16_t EncodeSpeedAdjust(int tenths);
// The image word as tenths with their sign, beyond the dialog's range too
// (0x8000 gives 0).
int DecodeSpeedAdjust(uint16_t word);
