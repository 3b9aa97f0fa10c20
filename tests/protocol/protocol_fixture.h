// Shared set-up of the protocol tests: one converter with a recognisable
// register pattern on an otherwise empty simulated bus, the real main
// dialog (so the status line exists and its texts are recorded), and small
// probes on the device boundary.
#pragma once

#include "sim/sim_bus.h"
#include "tests/protocol/boundary_override.h"
#include "tests/support/dialog_driver.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using Texts = std::vector<std::string>;

// What a good read of the default converter shows.
inline const std::string readOk = " Read OK        Ver:1.23.00        Device:VSS+ECT";

// Register values that are never 0xFF (so an erased byte stands out), with
// the firmware version and type words set and a speed adjustment of 12.5 %.
std::array<uint8_t, 256> ConverterPattern(uint16_t version = 12300, uint16_t type = 2);

// A fresh bus holding one converter.
struct ConverterOnBus {
    explicit ConverterOnBus(uint16_t version = 12300, uint16_t type = 2);
    sim::SimBus &bus;
    sim::SimDevice &converter;
};

sim::FaultRule Fault(sim::FaultRule::Kind kind, int command, int address, int times = -1);

// What the tests look at after a register call or an operation.
int WriteRequestsOnWire(const std::vector<sim::Transfer> &traffic, int address = -1);
int ReadRequestsOnWire(const std::vector<sim::Transfer> &traffic, int address = -1);
// Pauses of a given length, in the order requested.
int PausesOf(const std::vector<DWORD> &sleeps, DWORD ms);

// The status texts expected around a register loop: the start text, then
// "<start> N%" for each tenth reached, as the user sees them (leading space).
Texts ProgressTexts(const std::string &start, int upToPercent = 100);
Texts Then(Texts texts, std::initializer_list<std::string> more);

// Read Device usable or not, and the image's controls (Write Device,
// Factory Defaults, the speed) usable or not.
void CheckControls(const DialogDriver &dialog, bool read, bool image);
// The image holds the converter's values below `firstErased`, 0xFF from it.
void CheckImage(const std::array<uint8_t, 256> &registers, int firstErased = 256);
// No handle, read in flight, timer period or worker left behind.
void CheckNothingLeftBehind(sim::SimBus &bus);

// The converter's identity as the operations give it, then FindDevice.
bool FindConverter();

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
