// Helpers shared by the device tests.
#pragma once

#include "device/discovery_memory.h"
#include "device/hid_com.h"
#include "sim/sim_bus.h"

#include <string>

// The converter's identity, as the device operations set it.
inline void MatchConverter(hid_com &device = hidDevice)
{
    device.SetMatch(0x16C0, 0x03E8, 0x0100, 8, 8, "Brantix", "ZYR-USB");
}

inline std::string PathOf(const hid_com &device = hidDevice)
{
    return device.devicePath ? device.devicePath : "";
}

// Swaps the discovery heap for a counting one for the life of the object;
// the allocation numbered `failAt` (from 1) fails.
class CountingHeap {
public:
    explicit CountingHeap(int failAt = 0);
    ~CountingHeap();
    CountingHeap(const CountingHeap &) = delete;
    CountingHeap &operator=(const CountingHeap &) = delete;

    int Allocations() const;  // requests, failed ones included
    int Outstanding() const;  // blocks handed out and not yet released
    bool Released(const void *block) const;

private:
    DiscoveryMemory saved;
};
