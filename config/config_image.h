// The in-memory image of the converter's 256 one-byte registers: byte n is
// register n. 16-bit fields are little-endian and may stand at odd offsets,
// so they are read and written byte by byte. Portable: no Windows here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace layout {
constexpr uint8_t reserved0 = 0;
constexpr uint8_t firmwareVersion = 1;  // u16: 10005 or 12300
constexpr uint8_t firmwareType = 3;  // u16: 2 VSS+ECT, 3 VSS
constexpr uint8_t sensorWiring = 5;  // u8: 0 single wire, 1 two wire
constexpr uint8_t speedAdjust = 6;  // u16 sign and magnitude, tenths of a percent
constexpr uint8_t speedSensorCode = 8;  // u16: 33233, 367 or 0
constexpr uint8_t reserved10 = 10;
constexpr uint8_t activeTable = 11;  // u8: offset of the active table

// A write touches registers 5 to 255 only: 0 to 4 hold the converter's own
// version and type.
constexpr uint8_t firstWritableRegister = sensorWiring;

constexpr uint8_t tableAp2Res = 12;
constexpr uint8_t tableAp1Res = 93;
constexpr uint8_t tableAp2_5V = 122;
constexpr uint8_t tableAp1_5V = 203;

constexpr uint16_t firmware10005 = 10005;
constexpr uint16_t firmware12300 = 12300;
constexpr uint16_t typeVssEct = 2;
constexpr uint16_t typeVss = 3;

constexpr uint16_t sensorHighToLow = 33233;  // radio 1011
constexpr uint16_t sensorLowFreq = 367;  // radio 1012
constexpr uint16_t sensorHighFreq = 0;  // radio 1013
}  // namespace layout

constexpr size_t imageSize = 256;
constexpr uint8_t erasedByte = 0xFF;

class RegisterImage {
public:
    uint8_t bytes[imageSize] = {};

    uint8_t Byte(uint8_t offset) const { return bytes[offset]; }
    void SetByte(uint8_t offset, uint8_t value) { bytes[offset] = value; }
    // Low byte at offset, high byte at offset + 1 (modulo 256, as the
    // register protocol's word read does).
    uint16_t Word(uint8_t offset) const;
    void SetWord(uint8_t offset, uint16_t value);
    void Erase();  // all 0xFF
    void LoadPrefix(const uint8_t *source, size_t count);  // erase, then copy to offset 0

    uint16_t FirmwareVersion() const { return Word(layout::firmwareVersion); }
    uint16_t FirmwareType() const { return Word(layout::firmwareType); }
    uint8_t SensorWiring() const { return Byte(layout::sensorWiring); }
    uint16_t SpeedAdjust() const { return Word(layout::speedAdjust); }
    uint16_t SpeedSensorCode() const { return Word(layout::speedSensorCode); }
    uint8_t ActiveTable() const { return Byte(layout::activeTable); }
};

// A temperature lookup table inside the image: a count byte at `offset`,
// then count entries of {sensorMillivolts u16, pairedValue u16}. Every
// entry access goes through EntryFits, so no count, offset or index can
// reach outside the image: an entry that does not fit reads as erased
// (0xFFFF) and is never written.
class ConstTempTable {
public:
    ConstTempTable(const RegisterImage &image, uint8_t offset) : image(image), offset(offset) {}

    uint8_t Count() const { return image.Byte(offset); }
    static bool ValidCount(uint8_t count) { return count == 7 || count == 20; }
    // Whether entry i lies wholly inside the image. Entries are never
    // wrapped past byte 255 into the start of the image, and an index too
    // large for its offset to be computed never fits.
    bool EntryFits(unsigned i) const;
    unsigned EntryOffset(unsigned i) const { return offset + 1u + 4u * i; }
    uint16_t SensorMillivolts(unsigned i) const { return EntryWord(i, 0); }
    uint16_t PairedValue(unsigned i) const { return EntryWord(i, 2); }

private:
    uint16_t EntryWord(unsigned i, unsigned field) const;
    const RegisterImage &image;
    uint8_t offset;
};

// The same table, writable: only the voltage column is ever changed.
class TempTable : public ConstTempTable {
public:
    TempTable(RegisterImage &image, uint8_t offset) : ConstTempTable(image, offset), writable(image) {}
    void SetSensorMillivolts(unsigned i, uint16_t millivolts);

private:
    RegisterImage &writable;
};

// The one image of the process.
extern RegisterImage ConfigImage;
