#include "settings/exact_number.h"

WideUnsigned WideUnsigned::From(uint64_t value)
{
    WideUnsigned out;
    out.limb[0] = static_cast<uint32_t>(value);
    out.limb[1] = static_cast<uint32_t>(value >> 32);
    return out;
}

bool WideUnsigned::IsZero() const
{
    for (uint32_t l : limb)
        if (l)
            return false;
    return true;
}

WideUnsigned Multiply(const WideUnsigned &a, const WideUnsigned &b)
{
    WideUnsigned out;
    out.overflow = a.overflow || b.overflow;
    for (unsigned i = 0; i < WideUnsigned::limbs; ++i) {
        if (a.limb[i] == 0)
            continue;
        uint64_t carry = 0;
        for (unsigned j = 0; j < WideUnsigned::limbs; ++j) {
            const uint64_t product = static_cast<uint64_t>(a.limb[i]) * b.limb[j] + carry;
            if (i + j < WideUnsigned::limbs) {
                const uint64_t sum = product + out.limb[i + j];  // fits: product <= 2^64 - 2^32
                out.limb[i + j] = static_cast<uint32_t>(sum);
                carry = sum >> 32;
            } else {
                if (product != 0)
                    out.overflow = true;
                carry = 0;
            }
        }
        if (carry != 0)
            out.overflow = true;
    }
    return out;
}

WideUnsigned Subtract(const WideUnsigned &a, const WideUnsigned &b)
{
    WideUnsigned out;
    out.overflow = a.overflow || b.overflow;
    uint64_t borrow = 0;
    for (unsigned i = 0; i < WideUnsigned::limbs; ++i) {
        const uint64_t subtrahend = static_cast<uint64_t>(b.limb[i]) + borrow;
        borrow = a.limb[i] < subtrahend ? 1 : 0;
        out.limb[i] = static_cast<uint32_t>((static_cast<uint64_t>(a.limb[i]) + (borrow << 32)) - subtrahend);
    }
    if (borrow)
        out.overflow = true;
    return out;
}

int Compare(const WideUnsigned &a, const WideUnsigned &b)
{
    for (unsigned i = WideUnsigned::limbs; i-- > 0;) {
        if (a.limb[i] != b.limb[i])
            return a.limb[i] < b.limb[i] ? -1 : 1;
    }
    return 0;
}

bool DivideWithRemainder(const WideUnsigned &numerator, const WideUnsigned &denominator, int64_t &quotient,
                         WideUnsigned &remainder)
{
    if (numerator.overflow || denominator.overflow || denominator.IsZero())
        return false;
    // The largest q with q * denominator <= numerator, bit by bit from the top.
    constexpr unsigned quotientBits = 62;
    const WideUnsigned limit = Multiply(WideUnsigned::From(uint64_t{1} << quotientBits), denominator);
    if (!limit.overflow && Compare(limit, numerator) <= 0)
        return false;
    uint64_t q = 0;
    for (unsigned bit = quotientBits; bit-- > 0;) {
        const uint64_t candidate = q | (uint64_t{1} << bit);
        const WideUnsigned product = Multiply(WideUnsigned::From(candidate), denominator);
        if (!product.overflow && Compare(product, numerator) <= 0)
            q = candidate;
    }
    quotient = static_cast<int64_t>(q);
    remainder = Subtract(numerator, Multiply(WideUnsigned::From(q), denominator));
    return true;
}

bool ParseDecimal(const std::string &text, unsigned maxIntegerDigits, unsigned maxDecimals, Decimal &out)
{
    Decimal value;
    size_t i = 0;
    unsigned integerDigits = 0, allDigits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value.units != 0 || text[i] != '0')
            ++integerDigits;
        value.units = value.units * 10 + static_cast<unsigned>(text[i] - '0');
        ++allDigits;
        if (integerDigits > maxIntegerDigits)
            return false;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            if (++value.decimals > maxDecimals)
                return false;
            value.units = value.units * 10 + static_cast<unsigned>(text[i] - '0');
            ++allDigits;
        }
    }
    // The digit limits keep units below 10^(maxIntegerDigits + maxDecimals).
    if (allDigits == 0 || i != text.size())
        return false;
    out = value;
    return true;
}

uint64_t PowerOfTen(unsigned exponent)
{
    uint64_t value = 1;
    for (unsigned i = 0; i < exponent && i < 19; ++i)
        value *= 10;
    return value;
}
