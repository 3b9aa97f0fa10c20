#include "tests/device/device_test_support.h"

#include "device/device_syscalls.h"

#include <doctest.h>

#include <cstdlib>
#include <mutex>
#include <set>

namespace {

struct HeapLog {
    std::mutex lock;
    int failAt = 0;
    int allocations = 0;
    std::set<const void *> live;
    std::set<const void *> released;
} heapLog;

void *CountedAllocate(size_t size)
{
    std::lock_guard<std::mutex> hold(heapLog.lock);
    if (++heapLog.allocations == heapLog.failAt)
        return nullptr;
    void *block = std::malloc(size);
    heapLog.live.insert(block);
    heapLog.released.erase(block);
    return block;
}

void CountedRelease(void *block)
{
    if (!block)
        return;
    std::lock_guard<std::mutex> hold(heapLog.lock);
    heapLog.live.erase(block);
    heapLog.released.insert(block);
    // Kept, not freed, while the test runs: a released block's address
    // must not come back as a fresh block and hide a stale pointer.
}

}  // namespace

CountingHeap::CountingHeap(int failAt) : saved(DiscoveryHeap())
{
    std::lock_guard<std::mutex> hold(heapLog.lock);
    heapLog.failAt = failAt;
    heapLog.allocations = 0;
    heapLog.live.clear();
    heapLog.released.clear();
    DiscoveryHeap() = DiscoveryMemory{CountedAllocate, CountedRelease};
}

CountingHeap::~CountingHeap()
{
    DiscoveryHeap() = saved;
    std::lock_guard<std::mutex> hold(heapLog.lock);
    // Blocks still live (a stored path) stay with their owner, who frees
    // them with the real heap; the released ones go now.
    for (const void *block : heapLog.released)
        std::free(const_cast<void *>(block));
    heapLog.released.clear();
    heapLog.live.clear();
}

int CountingHeap::Allocations() const
{
    std::lock_guard<std::mutex> hold(heapLog.lock);
    return heapLog.allocations;
}

int CountingHeap::Outstanding() const
{
    std::lock_guard<std::mutex> hold(heapLog.lock);
    return static_cast<int>(heapLog.live.size());
}

bool CountingHeap::Released(const void *block) const
{
    std::lock_guard<std::mutex> hold(heapLog.lock);
    return heapLog.released.count(block) != 0;
}

HANDLE OpenDevice(const sim::SimDevice &device, DWORD access, DWORD flags)
{
    return Sys().CreateFileA(device.path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             flags, nullptr);
}

sim::Report ReadRequest(uint8_t address) { return sim::Report{0, 2, address, 0, 0, 0, 0, 0, 0}; }

sim::Report WriteRequest(uint8_t address, uint8_t value) { return sim::Report{0, 1, address, value, 0, 0, 0, 0, 0}; }

bool Send(HANDLE handle, const sim::Report &report)
{
    DWORD written = 0;
    return Sys().WriteFile(handle, report.data(), 9, &written, nullptr) && written == 9;
}

bool Receive(HANDLE handle, sim::Report &report)
{
    DWORD read = 0;
    return Sys().ReadFile(handle, report.data(), 9, &read, nullptr) && read == 9;
}

void CheckFound(const sim::SimDevice &device)
{
    CHECK(hidDevice.FindDevice() == 1);
    CHECK(PathOf() == device.path);
}

void CheckNotFound()
{
    CHECK(hidDevice.FindDevice() == 0);
    CHECK(hidDevice.devicePath == nullptr);
}
