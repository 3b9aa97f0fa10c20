// A simulated USB bus with simulated HID devices, bound to the device
// boundary (device/device_syscalls.h) in the tests and the demo build.
//
// The bus serves the whole boundary: "hid.dll" and its entry points, the
// SetupAPI walk, CreateFileA/ReadFile/WriteFile/CloseHandle on interface
// paths (synchronous and overlapped, with real events), the pauses (virtual
// time by default) and device-change notifications to registered windows.
// The converter model answers register requests as the real firmware does.
// Every fault can be switched on per device, per command, per address and
// per occurrence, so a test can fail any stage of any register exchange.
//
//     sim::SimBus &bus = sim::SimBus::Instance();
//     bus.Reset();                                  // or use SimFixture
//     sim::SimDevice &converter = bus.AddConverter();
//     converter.AddFault({sim::FaultRule::WrongReadBack, 2, 255});
//     ... run the code under test through Sys() ...
//     CHECK(converter.Register(255) == ...);        // what the device holds
//     CHECK(bus.OpenHandles() == 0);                // what was left open
#pragma once

#include <windows.h>

#include "base/no_copy.h"
#include "device/device_syscalls.h"
#include "protocol/converter_identity.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace sim {

namespace detail {
struct DeviceState;
struct BusState;
}  // namespace detail

using Report = std::array<uint8_t, 9>;

// One switchable fault. A rule matches an exchange by command (1 write
// request, 2 read request; 0 any) and register address (-1 any); it lets
// `skip` matches pass, then fires `times` times (-1: for ever).
// Send-side kinds (SendFails, SendZero, WrongReadBack, NoReply, LateReply,
// Unplug) are tested when an output report reaches WriteFile (WrongReadBack,
// NoReply and LateReply count read requests only); receive-side kinds
// (ReceiveFails, ReceiveZero) when a read takes an input report, matched by
// the reply's register address (command 2; a report pushed by the test
// matches only command 0 and address -1).
struct FaultRule {
    enum Kind {
        SendFails,  // WriteFile of the request fails
        SendZero,  // WriteFile reports success with 0 bytes
        ReceiveFails,  // the reply's ReadFile fails
        ReceiveZero,  // the reply's ReadFile reports success with 0 bytes
        WrongReadBack,  // the reply to a read request carries another value
        NoReply,  // the converter ignores the read request (silent)
        LateReply,  // the reply comes `replyAfterMs` after the request
        Unplug,  // the device is removed when the request is sent
    };
    Kind kind = SendFails;
    int command = 0;
    int address = -1;
    int skip = 0;
    int times = -1;
    int replugAfterMs = -1;  // Unplug only: back after this (virtual) time
    int replyAfterMs = 0;  // LateReply only: the reply's delay
};

struct DeviceIdentity {
    uint16_t vendorId = converterVendorId;
    uint16_t productId = converterProductId;
    uint16_t releaseNumber = converterReleaseNumber;
    std::string manufacturer = converterManufacturer;
    std::string product = converterProduct;
    uint16_t inputReportLength = converterReportPayload + 1;  // as HidP_GetCaps reports them,
    uint16_t outputReportLength = converterReportPayload + 1;  // report-ID byte included
};

class SimDevice : private NoCopy {
public:
    SimDevice();
    ~SimDevice();

    std::string path;  // interface path handed out by SetupAPI
    DeviceIdentity identity;
    bool converter = false;  // runs the register firmware model
    bool present = true;

    // Device-level faults.
    bool failOpenRead = false;  // CreateFileA with GENERIC_READ fails
    bool failOpenWrite = false;  // CreateFileA with GENERIC_WRITE fails
    bool failOpenQuery = false;  // CreateFileA with no access rights fails
    int opensBeforeFailure = -1;  // with the two above: let this many opens pass first
        // (counted from when the switch is on)
    bool failAttributes = false;  // HidD_GetAttributes fails
    bool failPreparsedData = false;  // HidD_GetPreparsedData fails
    bool failCaps = false;  // HidP_GetCaps fails
    bool failStrings = false;  // HidD_Get*String fail
    bool failFlushQueue = false;  // HidD_FlushQueue fails (error 50) and flushes nothing, as on Wine 8.0
    bool completeReadsAtOnce = false;  // an overlapped read with data ready returns TRUE
    bool completeWritesAtOnce = false;  // an overlapped write returns TRUE (else ERROR_IO_PENDING, already signalled)
    bool failInterfaceDetail = false;  // SetupDiGetDeviceInterfaceDetailA fails for this interface

    uint8_t Register(int address) const;
    void SetRegister(int address, uint8_t value);
    void SetWord(int address, uint16_t value);  // little-endian, address and address+1
    std::array<uint8_t, 256> Registers() const;
    void SetRegisters(const std::array<uint8_t, 256> &values);
    void AddFault(const FaultRule &rule);
    void ClearFaults();

    // An input report the device sends on its own (completes a pending
    // overlapped read or waits in the device's queue).
    void PushInputReport(const Report &report);

    // Counters of what reached the firmware.
    int WritesTo(int address) const;  // write requests for the address
    int ReadsOf(int address) const;  // read requests for the address

    // The name WM_DEVICECHANGE carries for this interface: the same path in
    // the letter case the device manager uses (upper case before the class
    // GUID), as Windows sends it; compare it without regard to case.
    std::string NotificationName() const;

    // The bus's bookkeeping for this device.
    detail::DeviceState &State() const { return *state; }

private:
    std::unique_ptr<detail::DeviceState> state;
};

struct Transfer {
    uint64_t timeMs;
    bool toDevice;  // true: output report (request), false: input report
    Report bytes;
    std::string path;
};

class SimBus {
public:
    static SimBus &Instance();

    // Back to an empty bus: no devices, no faults, library present, all
    // counters and the virtual clock at 0. Open handles must be gone.
    void Reset();

    // Devices, listed by SetupDiEnumDeviceInterfaces in the order added.
    SimDevice &AddConverter();  // identity above, firmware 12300 type 2 defaults
    SimDevice &AddDevice(const DeviceIdentity &id);  // a device with no firmware
    SimDevice &AddWineMouse();
    SimDevice &AddWineKeyboard();

    // A late reply reaches the read handles open when it is delivered: at
    // the first ReadFile, wait, pause or HidD_FlushQueue that starts once
    // its time has come. In real time a waiting GetOverlappedResult, and a
    // WaitForSingleObject begun while the reply was on its way, deliver it
    // at its time; in virtual time a timed wait for a stalled read moves
    // the clock to it. A removal loses the replies still on their way.

    // Removal and arrival, notified to registered windows as WM_DEVICECHANGE
    // with a DEV_BROADCAST_DEVICEINTERFACE_A record (sent, on the caller's thread).
    void Unplug(SimDevice &device);
    void Replug(SimDevice &device);

    // "hid.dll" faults.
    bool hidLibraryMissing = false;
    std::set<std::string> missingEntryPoints;
    bool failClassDevs = false;  // SetupDiGetClassDevsA fails
    bool failInterfaceDetail = false;  // second SetupDiGetDeviceInterfaceDetailA fails
    bool failRegisterNotification = false;  // RegisterDeviceNotificationA fails

    // Time. Virtual by default: pauses advance the clock and return at
    // once, and a receive wait that nothing can satisfy expires at once.
    // Real time (demo, benchmark) sleeps for real and charges
    // `frameLatencyUs` per report on the wire.
    void SetRealTime(bool realTime, unsigned frameLatencyUs = 1000);
    uint64_t NowMs() const;

    // What tests check afterwards.
    int OpenHandles() const;  // device handles not yet closed
    int OpenHandlesTotal() const;  // every successful CreateFileA
    int OpenDeviceInfoLists() const;  // SetupDi lists not yet destroyed
    int LibraryLoads() const;
    int LibraryFrees() const;
    int TimerPeriodDepth() const;  // timeBeginPeriod minus timeEndPeriod
    std::vector<Transfer> Traffic() const;
    void ClearTraffic();
    std::vector<DWORD> Sleeps() const;  // every pause requested, in ms
    int NotificationRegistrations() const;
    int NotificationsSent() const;  // WM_DEVICECHANGE messages sent
    int OutstandingPreparsedData() const;  // HidD_GetPreparsedData not yet freed
    int PendingReads() const;  // overlapped reads not yet completed
    int BlockedReads() const;  // synchronous ReadFile calls waiting now
    bool RealTime() const;

    std::vector<SimDevice *> Devices();

    // The bus's inner state, for its own entry points.
    detail::BusState &State() const { return *state; }

private:
    SimBus();
    detail::BusState *state;  // lives as long as the process
};

// The device boundary bound to this bus: what BindDeviceSyscalls returns in
// the simulated builds. The demo binding adds one converter at start.
DeviceSyscalls BusSyscalls();

// The registers of a converter fresh from the factory: firmware 12300,
// type 2 (VSS+ECT), its temperature tables filled, the rest erased.
std::array<uint8_t, 256> FactoryRegisters();

}  // namespace sim
