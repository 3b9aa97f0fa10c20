// Replaces one entry of the device boundary for the life of the object, so a
// test can watch or break a single system call: the boundary's own scoped
// override, under the name the tests know it by.
#pragma once

#include "device/device_syscalls.h"

template <class Entry> class BoundaryOverride : public SyscallOverride<Entry> {
public:
    using SyscallOverride<Entry>::SyscallOverride;
    Entry Original() const { return this->Replaced(); }
};
