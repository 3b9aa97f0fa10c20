// The heap behind device discovery: FindDevice takes its interface-detail
// blocks and the stored device path from here and gives them back here.
// Tests swap the two functions to count blocks or to fail an allocation.
#pragma once

#include <cstddef>

struct DiscoveryMemory {
    void *(*allocate)(size_t size);  // null when the block cannot be had
    void (*release)(void *block);  // null is accepted
};

// The functions in force; malloc and free unless a test swapped them.
DiscoveryMemory &DiscoveryHeap();
