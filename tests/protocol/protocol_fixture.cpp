#include "tests/protocol/protocol_fixture.h"

#include "app/resource_ids.h"
#include "config/config_image.h"
#include "device/hid_com.h"
#include "protocol/device_operations.h"
#include "protocol/operation_cut_off.h"
#include "protocol/converter_access.h"

#include <doctest.h>

std::array<uint8_t, 256> ConverterPattern(uint16_t version, uint16_t type)
{
    std::array<uint8_t, 256> values{};
    for (int i = 0; i < 256; ++i)
        values[i] = static_cast<uint8_t>((i * 37 + 11) % 255);
    values[1] = static_cast<uint8_t>(version & 0xFF);
    values[2] = static_cast<uint8_t>(version >> 8);
    values[3] = static_cast<uint8_t>(type & 0xFF);
    values[4] = static_cast<uint8_t>(type >> 8);
    // A speed adjustment the dialog accepts as it stands: 12.5 %.
    values[6] = 125;
    values[7] = 0;
    return values;
}

namespace {
sim::SimBus &FreshBus()
{
    sim::SimBus &bus = sim::SimBus::Instance();
    bus.Reset();
    return bus;
}
}  // namespace

ConverterOnBus::ConverterOnBus(uint16_t version, uint16_t type) : bus(FreshBus()), converter(bus.AddConverter())
{
    converter.SetRegisters(ConverterPattern(version, type));
}

sim::FaultRule Fault(sim::FaultRule::Kind kind, int command, int address, int times)
{
    return sim::FaultRule{kind, command, address, 0, times};  // 0: none skipped
}

namespace {
int RequestsOnWire(const std::vector<sim::Transfer> &traffic, uint8_t command, int address)
{
    int count = 0;
    for (const sim::Transfer &t : traffic)
        if (t.toDevice && t.bytes[1] == command && (address < 0 || t.bytes[2] == address))
            ++count;
    return count;
}
}  // namespace

int WriteRequestsOnWire(const std::vector<sim::Transfer> &traffic, int address)
{
    return RequestsOnWire(traffic, 1, address);
}

int ReadRequestsOnWire(const std::vector<sim::Transfer> &traffic, int address)
{
    return RequestsOnWire(traffic, 2, address);
}

int PausesOf(const std::vector<DWORD> &sleeps, DWORD ms)
{
    int count = 0;
    for (DWORD s : sleeps)
        count += s == ms;
    return count;
}

Texts ProgressTexts(const std::string &start, int upToPercent)
{
    Texts texts = {" " + start};
    for (int percent = 10; percent <= upToPercent; percent += 10)
        texts.push_back(" " + start + " " + std::to_string(percent) + "%");
    return texts;
}

Texts Then(Texts texts, std::initializer_list<std::string> more)
{
    texts.insert(texts.end(), more);
    return texts;
}

void CheckControls(const DialogDriver &dialog, bool read, bool image)
{
    CHECK(dialog.Enabled(IDC_READ_DEVICE) == read);
    CHECK(dialog.Enabled(IDC_WRITE_DEVICE) == image);
    CHECK(dialog.Enabled(IDC_FACTORY_DEFAULTS) == image);
    CHECK(dialog.Enabled(IDC_SPEED_ADJUST) == image);
}

void CheckImage(const std::array<uint8_t, 256> &registers, int firstErased)
{
    for (int i = 0; i < 256; ++i) {
        CAPTURE(i);
        CHECK(ConfigImage.Byte(static_cast<uint8_t>(i)) == (i < firstErased ? registers[i] : 0xFF));
    }
}

void CheckNothingLeftBehind(sim::SimBus &bus)
{
    CHECK(bus.OpenHandles() == 0);
    CHECK(bus.PendingReads() == 0);
    CHECK(bus.TimerPeriodDepth() == 0);
    CHECK(workerHandle == nullptr);
}

bool FindConverter()
{
    MatchConverter();
    return hidDevice.FindDevice() != 0;
}

namespace {
struct GateState {
    DWORD ms = 0;
    int occurrence = 0;
    int seen = 0;
    HANDLE held = nullptr;
    HANDLE release = nullptr;
    VOID(WINAPI *pass)(DWORD) = nullptr;
} gate;
}  // namespace

WorkerGate::WorkerGate(DWORD ms, int occurrence) : sleep(&DeviceSyscalls::Sleep, GatedSleep)
{
    gate.ms = ms;
    gate.occurrence = occurrence;
    gate.seen = 0;
    gate.held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    gate.release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    gate.pass = sleep.Original();
}

WorkerGate::~WorkerGate()
{
    Release();
    CloseHandle(gate.held);
    CloseHandle(gate.release);
    gate = GateState{};
}

bool WorkerGate::WaitHeld(DWORD timeoutMs) { return WaitForSingleObject(gate.held, timeoutMs) == WAIT_OBJECT_0; }

void WorkerGate::Release() { SetEvent(gate.release); }

VOID WINAPI WorkerGate::GatedSleep(DWORD ms)
{
    if (ms == gate.ms && ++gate.seen == gate.occurrence) {
        SetEvent(gate.held);
        while (WaitForSingleObject(gate.release, 1) == WAIT_TIMEOUT && !OperationCutOff()) {
        }
    }
    gate.pass(ms);
}
