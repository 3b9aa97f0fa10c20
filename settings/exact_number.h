// Exact arithmetic for the correction calculator: unsigned integers wider
// than 64 bits (there is no 128-bit integer on every target) and decimal
// texts read without floating point. Portable: no Windows here.
#pragma once

#include <cstdint>
#include <string>

// An unsigned integer of up to 256 bits. Operations that would need more
// set `overflow` instead of wrapping.
struct WideUnsigned {
    static constexpr unsigned limbs = 8;
    uint32_t limb[limbs] = {};  // least significant first
    bool overflow = false;

    static WideUnsigned From(uint64_t value);
    bool IsZero() const;
};

WideUnsigned Multiply(const WideUnsigned &a, const WideUnsigned &b);
WideUnsigned Subtract(const WideUnsigned &a, const WideUnsigned &b);  // a >= b
int Compare(const WideUnsigned &a, const WideUnsigned &b);  // -1, 0, 1

// numerator = quotient * denominator + remainder, 0 <= remainder < denominator.
// False when the denominator is zero or the quotient needs more than 62 bits.
bool DivideWithRemainder(const WideUnsigned &numerator, const WideUnsigned &denominator, int64_t &quotient,
                         WideUnsigned &remainder);

// A non-negative decimal text "205", "16.5", "3.73": units / 10^decimals.
struct Decimal {
    uint64_t units = 0;
    unsigned decimals = 0;
};

// Digits with an optional decimal point and digits, nothing else; at most
// `maxIntegerDigits` digits before the point (leading zeros aside) and
// `maxDecimals` after it.
bool ParseDecimal(const std::string &text, unsigned maxIntegerDigits, unsigned maxDecimals, Decimal &out);

uint64_t PowerOfTen(unsigned exponent);  // exponent 0..19
