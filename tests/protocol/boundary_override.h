// Replaces one entry of the device boundary for the life of the object, so a
// test can watch or break a single system call.
#pragma once

#include "device/device_syscalls.h"

template <class Entry> class BoundaryOverride {
public:
    BoundaryOverride(Entry DeviceSyscalls::*entry, Entry replacement) : entry(entry), original(Sys().*entry)
    {
        Sys().*entry = replacement;
    }
    ~BoundaryOverride() { Sys().*entry = original; }
    BoundaryOverride(const BoundaryOverride &) = delete;
    BoundaryOverride &operator=(const BoundaryOverride &) = delete;
    Entry Original() const { return original; }

private:
    Entry DeviceSyscalls::*entry;
    Entry original;
};
