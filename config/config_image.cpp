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

void RegisterImage::Erase()
{
    std::memset(bytes, erasedByte, sizeof bytes);
}

void RegisterImage::LoadPrefix(const uint8_t *source, size_t count)
{
    Erase();
    if (count > imageSize)
        count = imageSize;
    std::memcpy(bytes, source, count);
}

uint16_t TempTable::SensorMillivolts(unsigned i) const
{
    unsigned at = EntryOffset(i);
    return static_cast<uint16_t>(image.bytes[at] | (image.bytes[at + 1] << 8));
}

void TempTable::SetSensorMillivolts(unsigned i, uint16_t millivolts)
{
    unsigned at = EntryOffset(i);
    image.bytes[at] = static_cast<uint8_t>(millivolts & 0xFF);
    image.bytes[at + 1] = static_cast<uint8_t>(millivolts >> 8);
}

uint16_t TempTable::PairedValue(unsigned i) const
{
    unsigned at = EntryOffset(i) + 2;
    return static_cast<uint16_t>(image.bytes[at] | (image.bytes[at + 1] << 8));
}
