#include "tests/device/device_test_support.h"

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
