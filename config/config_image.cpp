#include "config/config_image.h"

#include <cstring>

RegisterImage ConfigImage;

uint16_t RegisterImage::Word(uint8_t offset) const
{
    return static_cast<uint16_t>(bytes[offset] | (bytes[static_cast<uint8_t>(offset + 1)] << 8));
}

void RegisterImage::SetWord(uint8_t offset, uint16_t value)
{
    bytes[offset] = static_cast<uint8_t>(value & 0xFF);
    bytes[static_cast<uint8_t>(offset + 1)] = static_cast<uint8_t>(value >> 8);
}

void RegisterImage::Erase() { std::memset(bytes, erasedByte, sizeof bytes); }

void RegisterImage::LoadPrefix(const uint8_t *source, size_t count)
{
    Erase();
    if (count > imageSize)
        count = imageSize;
    std::memcpy(bytes, source, count);
}

bool ConstTempTable::EntryFits(unsigned i) const
{
    constexpr unsigned entrySize = 4;
    const unsigned first = offset + 1u;  // where entry 0 starts
    if (first + entrySize > imageSize)
        return false;
    return i <= (imageSize - first - entrySize) / entrySize;
}

uint16_t ConstTempTable::EntryWord(unsigned i, unsigned field) const
{
    if (!EntryFits(i))
        return 0xFFFF;  // as an erased entry reads
    const unsigned at = EntryOffset(i) + field;
    return static_cast<uint16_t>(image.bytes[at] | (image.bytes[at + 1] << 8));
}

void TempTable::SetSensorMillivolts(unsigned i, uint16_t millivolts)
{
    if (!EntryFits(i))
        return;
    const unsigned at = EntryOffset(i);
    writable.bytes[at] = static_cast<uint8_t>(millivolts & 0xFF);
    writable.bytes[at + 1] = static_cast<uint8_t>(millivolts >> 8);
}
