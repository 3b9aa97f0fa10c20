// Helpers shared by the device tests.
#pragma once

#include "base/no_copy.h"
#include "device/discovery_memory.h"
#include "device/hid_com.h"
#include "sim/sim_bus.h"
#include "tests/device/match_converter.h"

#include <string>

inline std::string PathOf(const hid_com &device = hidDevice) { return device.devicePath ? device.devicePath : ""; }

// A search of hidDevice finds `device` and keeps its path.
void CheckFound(const sim::SimDevice &device);
// A search of hidDevice finds nothing and keeps no path.
void CheckNotFound();

// Opens an interface through the boundary, with both kinds of sharing.
HANDLE OpenDevice(const sim::SimDevice &device, DWORD access, DWORD flags = 0);

// Register requests as the converter reads them.
sim::Report ReadRequest(uint8_t address);
sim::Report WriteRequest(uint8_t address, uint8_t value);

// One output report on a synchronous handle; true when it went out whole.
bool Send(HANDLE handle, const sim::Report &report);
// One input report from a synchronous handle (blocks until one comes).
bool Receive(HANDLE handle, sim::Report &report);

// An event for an OVERLAPPED, closed with the object.
struct OwnEvent : private NoCopy {
    OwnEvent() : handle(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~OwnEvent() { CloseHandle(handle); }
    bool Signalled() const { return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0; }
    HANDLE handle;
};

// The parts of one overlapped read of a whole report: the event, the
// OVERLAPPED that names it, and the buffer.
struct OverlappedRead {
    OverlappedRead() { o.hEvent = event.handle; }
    OwnEvent event;
    OVERLAPPED o = {};
    uint8_t buffer[9];
};

// Swaps the discovery heap for a counting one for the life of the object;
// the allocation numbered `failAt` (from 1) fails.
class CountingHeap : private NoCopy {
public:
    explicit CountingHeap(int failAt = 0);
    ~CountingHeap();

    int Allocations() const;  // requests, failed ones included
    int Outstanding() const;  // blocks handed out and not yet released
    bool Released(const void *block) const;

private:
    DiscoveryMemory saved;
};
