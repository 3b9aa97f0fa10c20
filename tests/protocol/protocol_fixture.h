// Shared set-up of the protocol tests: one converter with a recognisable
// register pattern on an otherwise empty simulated bus, the real main
// dialog (so the status line exists and its texts are recorded), and small
// probes on the device boundary.
#pragma once

#include "device/device_syscalls.h"
#include "sim/sim_bus.h"
#include "tests/support/dialog_driver.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Register values that are never 0xFF (so an erased byte stands out), with
// the firmware version and type words set and a speed adjustment of 12.5 %.
std::array<uint8_t, 256> ConverterPattern(uint16_t version = 12300, uint16_t type = 2);

// A fresh bus holding one converter.
struct ConverterOnBus {
    explicit ConverterOnBus(uint16_t version = 12300, uint16_t type = 2);
    sim::SimBus &bus;
    sim::SimDevice &converter;
};

// What the tests look at after a register call or an operation.
int WriteRequestsOnWire(const std::vector<sim::Transfer> &traffic, int address = -1);
int ReadRequestsOnWire(const std::vector<sim::Transfer> &traffic, int address = -1);
// Pauses of a given length, in the order requested.
int PausesOf(const std::vector<DWORD> &sleeps, DWORD ms);

// The status texts expected around a register loop: the start text, then
// "<start> N%" for each tenth reached, as the user sees them (leading space).
std::vector<std::string> ProgressTexts(const std::string &start, int upToPercent = 100);

// The converter's identity as the operations give it, then FindDevice.
bool FindConverter();

// Replaces one entry of the device boundary for the life of the object.
template <class Entry> class BoundaryOverride {
public:
    BoundaryOverride(Entry DeviceSyscalls::*entry, Entry replacement)
        : entry(entry), original(Sys().*entry)
    {
        Sys().*entry = replacement;
    }
    ~BoundaryOverride() { Sys().*entry = original; }
    Entry Original() const { return original; }

private:
    Entry DeviceSyscalls::*entry;
    Entry original;
};

// Holds the worker inside its Nth pause of `ms` milliseconds (counting from
// 1) until Release(), or until the operation is told to stop; the test can
// wait until the worker is held. Pauses pass on to the simulated clock.
class WorkerGate {
public:
    WorkerGate(DWORD ms, int occurrence);
    ~WorkerGate();
    bool WaitHeld(DWORD timeoutMs = 10000);
    void Release();

private:
    static VOID WINAPI GatedSleep(DWORD ms);
    BoundaryOverride<VOID(WINAPI *)(DWORD)> sleep;
};
