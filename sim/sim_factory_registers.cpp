// What a converter holds when it leaves the factory: firmware 12300, a
// VSS+ECT unit (type 2), no speed adjustment, the gear-driven sensor, the
// AP1 RES table active and all four temperature tables filled. The values
// are the converter's own, not the tool's default images.
#include "sim/sim_bus.h"

namespace sim {

namespace {

void PutWord(std::array<uint8_t, 256> &r, int at, uint16_t value)
{
    r[at] = static_cast<uint8_t>(value & 0xFF);
    r[at + 1] = static_cast<uint8_t>(value >> 8);
}

// A table: the count byte, then falling sensor voltages from 4000 mV, each
// paired with a rising temperature code.
void PutTable(std::array<uint8_t, 256> &r, int at, int count, int millivoltStep, int codeStep)
{
    r[at] = static_cast<uint8_t>(count);
    for (int i = 0; i < count; ++i) {
        PutWord(r, at + 1 + 4 * i, static_cast<uint16_t>(4000 - millivoltStep * i));
        PutWord(r, at + 3 + 4 * i, static_cast<uint16_t>(200 + codeStep * i));
    }
}

}  // namespace

std::array<uint8_t, 256> FactoryRegisters()
{
    std::array<uint8_t, 256> r;
    r.fill(0xFF);
    r[0] = 0x00;
    PutWord(r, 1, 12300);  // firmware version 1.23.00
    PutWord(r, 3, 2);  // VSS+ECT
    r[5] = 0;  // single-wire sensor
    PutWord(r, 6, 0);  // speed adjustment 0.0 %
    PutWord(r, 8, 367);  // low frequency (gear driven)
    r[10] = 0x00;
    r[11] = 93;  // AP1 RES active
    PutTable(r, 12, 20, 190, 45);  // AP2 RES
    PutTable(r, 93, 7, 560, 150);  // AP1 RES
    PutTable(r, 122, 20, 185, 45);  // AP2 5V
    PutTable(r, 203, 7, 540, 150);  // AP1 5V
    return r;
}

}  // namespace sim
